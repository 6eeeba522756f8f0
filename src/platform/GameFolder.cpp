#include "platform/GameFolder.h"

#include "platform/GamePaths.h"
#include "platform/GameRegistry.h"

GameFolderChoice chooseGameFolder(const std::optional<QString>& gameDir, GameRegistry& registry)
{
    GameFolderChoice choice;
    choice.registryPath = registry.path();
    if (gameDir) {
        choice.folder = GameFolder{*gameDir, GameFolder::Origin::GameDirOption, GamePaths::isGameFolder(*gameDir)};
        return choice;
    }
    choice.installPath = readInstallPath(registry);
    if (choice.installPath.state == InstallPath::State::Found) {
        const QString& dir = choice.installPath.folder;
        choice.folder = GameFolder{dir, GameFolder::Origin::InstallPath, !dir.isEmpty() && GamePaths::isGameFolder(dir)};
    }
    return choice;
}

QString originText(const GameFolderChoice& choice)
{
    if (choice.folder && choice.folder->origin == GameFolder::Origin::GameDirOption)
        return QStringLiteral("given by --game-dir");
    return QStringLiteral("from the install path in %1").arg(choice.registryPath);
}

QString whyNoGameFolder(const GameFolderChoice& choice, const GameRegistry& registry)
{
    if (choice.folder && choice.folder->holdsGame)
        return QString();
    if (choice.installPath.state == InstallPath::State::Unreachable)
        return QStringLiteral("the game folder is unknown: %1; give it with --game-dir DIR")
            .arg(unreachableReason(choice.installPath, registry));
    if (!choice.folder || choice.folder->dir.isEmpty())
        return QStringLiteral("the game folder is unknown (no install path in %1); give it with --game-dir DIR")
            .arg(choice.registryPath);
    return QStringLiteral("the game folder %1 (%2) holds none of the game's files "
                          "(System/UnrealTournament.ini, System/User.ini, System/UnrealTournament.exe, "
                          "a Linux build's ut-bin); give the right one with --game-dir DIR")
        .arg(choice.folder->dir, originText(choice));
}
