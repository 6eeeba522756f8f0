#include "support/RegistryText.h"

#include "platform/RegistryFile.h"

QList<std::pair<QString, QByteArray>> blocksOf(const QByteArray& file)
{
    QList<std::pair<QString, QByteArray>> blocks{{QString(), QByteArray()}};
    for (const QByteArray& line : file.split('\n')) {
        if (line.startsWith('[')) {
            QByteArray name = line.mid(1, line.lastIndexOf(']') - 1);
            name.replace("\\\\", "\\");
            blocks.append({QString::fromUtf8(name).toLower(), QByteArray()});
        }
        blocks.last().second += line + '\n';
    }
    return blocks;
}

QByteArray withoutKeys(const QByteArray& file, const QStringList& keys)
{
    QByteArray rest;
    for (const auto& [name, bytes] : blocksOf(file))
        if (!keys.contains(name))
            rest += bytes;
    return rest;
}

QByteArray blockOf(const QByteArray& file, const QString& key)
{
    for (const auto& [name, bytes] : blocksOf(file))
        if (name == key.toLower())
            return bytes;
    return "<no block>";
}

QString valueIn(const QString& file, RegistryRoot root, const QString& key, const QString& name)
{
    RegistryFile registry(file);
    registry.SetRootKey(root);
    if (!registry.OpenKey(key, false))
        return QStringLiteral("<no key>");
    return registry.ReadString(name).value_or(QStringLiteral("<no value>"));
}
