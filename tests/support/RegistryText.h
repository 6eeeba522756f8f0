#pragma once

#include "platform/GameRegistry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// The key the game's installer records its folder in.
inline const QString installKey = QStringLiteral("\\Software\\Unreal Technology\\Installed Apps\\UnrealTournament");

// A registry file as Wine writes one: its header, then the keys' text.
QByteArray registryText(const QByteArray& keys);

// The block of the game's install key naming the folder, escaped as the file
// has it.
QByteArray installKeyText(const QString& folder, const QByteArray& version = "436");

// The key blocks of a registry file by their names (folded, one backslash
// between names), each with its bytes from its "[" line up to the next key;
// "" is what stands before the first key.
QList<std::pair<QString, QByteArray>> blocksOf(const QByteArray& file);

// The file's bytes without the blocks of the named keys.
QByteArray withoutKeys(const QByteArray& file, const QStringList& keys);

// The block of the key, or "<no block>".
QByteArray blockOf(const QByteArray& file, const QString& key);

// The value as a fresh RegistryFile reads it, or "<no key>" / "<no value>".
QString valueIn(const QString& file, RegistryRoot root, const QString& key, const QString& name = QString());
