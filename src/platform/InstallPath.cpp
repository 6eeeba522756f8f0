#include "platform/InstallPath.h"

#include "platform/EditorError.h"
#include "platform/GameRegistry.h"
#include "platform/WinePaths.h"

const QString installPathKey = QStringLiteral("\\Software\\Unreal Technology\\Installed Apps\\UnrealTournament");

QString readFolderValue(const GameRegistry& registry)
{
    try {
        return registry.ReadString(QStringLiteral("Folder")).value_or(QString());
    } catch (const EditorError&) {
        // A "Folder" that is not text is as good as none.
        return QString();
    }
}

InstallPath readInstallPath(GameRegistry& registry)
{
    InstallPath result;
    registry.SetRootKey(RegistryRoot::LocalMachine);
    // Learning the folder needs no write access: a registry the user may
    // only read still names the game.
    if (!registry.OpenKeyReadOnly(installPathKey))
        return result;
    result.registered = readFolderValue(registry);
    registry.CloseKey();
    result.state = InstallPath::State::Found;
    result.folder = result.registered;
    // Wine's registry names the folder the Windows way; the pages work on
    // the Unix path of it. A folder that is not here is no game folder:
    // reading it as a path relative to the working folder would edit files
    // the game never reads.
    const std::optional<QString> local = registry.localPathOf(result.registered);
    if (!local)
        result.state = InstallPath::State::Unreachable;
    result.folder = local.value_or(QString());
    return result;
}

QString unreachableReason(const InstallPath& path, const GameRegistry& registry)
{
    const QString where = registry.path();
    if (WinePaths::isNetworkPath(path.registered))
        return QStringLiteral("the install path \"%1\" in %2 is a network path, which names no folder here")
            .arg(path.registered, where);
    const QString prefix = registry.winePrefix().value_or(QString());
    return QStringLiteral("the install path \"%1\" in %2 is on drive %3, which the Wine prefix %4 does not have")
        .arg(path.registered, where, path.registered.left(2).toUpper(), prefix);
}
