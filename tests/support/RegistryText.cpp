#include "support/RegistryText.h"

#include "platform/RegistryFile.h"

QByteArray registryText(const QByteArray& keys)
{
    return "WINE REGISTRY Version 2\n"
           ";; All keys relative to \\\\Machine\n"
           "\n"
        + keys;
}

QByteArray installKeyText(const QString& folder, const QByteArray& version)
{
    QString escaped = folder;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
        .replace(QLatin1Char('"'), QStringLiteral("\\\""))
        .replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    return "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UnrealTournament] 1733592000\n"
           "\"Folder\"=\""
        + escaped.toUtf8() + "\"\n\"Version\"=\"" + version + "\"\n";
}

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
