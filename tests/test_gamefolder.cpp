#include "app/HauptUnit.h"
#include "support/GameFixture.h"
#include "support/RegistryText.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

// The window and the command line choose the game folder by one rule: the
// same cases through the window's start and through `paths`.
class GameFolderTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void windowAndPathsChooseTheSameFolder_data();
    void windowAndPathsChooseTheSameFolder();
};

namespace {
// Folders of a case, resolved against the fixture.
enum class Folder { None, Game, Empty, NotAGame };
// The registry's install key: absent, naming a folder, empty, or on a share.
enum class Registered { NoKey, Game, EmptyFolder, NotAGame, NetworkShare };
} // namespace

void GameFolderTest::windowAndPathsChooseTheSameFolder_data()
{
    QTest::addColumn<Folder>("given");        // --game-dir
    QTest::addColumn<Registered>("registered");
    QTest::addColumn<Folder>("windowFolder"); // None: the window asks for the executable
    QTest::addColumn<QString>("pathsError");  // empty: `paths` names the folder's files

    const QString unknown = "the game folder is unknown";
    const QString holdsNone = "holds none of the game's files";
    QTest::newRow("given") << Folder::Game << Registered::NoKey << Folder::Game << QString();
    QTest::newRow("given before the registry") << Folder::Game << Registered::NotAGame << Folder::Game << QString();
    QTest::newRow("given, no game, registry not read") << Folder::NotAGame << Registered::Game << Folder::NotAGame
                                                       << "(given by --game-dir) " + holdsNone;
    QTest::newRow("registered") << Folder::None << Registered::Game << Folder::Game << QString();
    QTest::newRow("registered, no game") << Folder::None << Registered::NotAGame << Folder::NotAGame
                                         << "(from the install path in %REG) " + holdsNone;
    QTest::newRow("registered empty") << Folder::None << Registered::EmptyFolder << Folder::Empty
                                      << unknown + " (no install path in ";
    QTest::newRow("no install key") << Folder::None << Registered::NoKey << Folder::None
                                    << unknown + " (no install path in ";
    QTest::newRow("on a network share") << Folder::None << Registered::NetworkShare << Folder::None
                                        << unknown + ": the install path \"\\\\server\\ut\" in ";
}

void GameFolderTest::windowAndPathsChooseTheSameFolder()
{
    QFETCH(Folder, given);
    QFETCH(Registered, registered);
    QFETCH(Folder, windowFolder);
    QFETCH(QString, pathsError);

    GameFixture game;
    const QString notAGame = QDir::cleanPath(game.gameDir() + "/../elsewhere");
    QVERIFY(QDir().mkpath(notAGame + "/System"));
    const auto folderOf = [&](Folder folder) {
        switch (folder) {
        case Folder::Game:
            return game.gameDir();
        case Folder::NotAGame:
            return notAGame;
        case Folder::None:
        case Folder::Empty:
            break;
        }
        return QString();
    };
    switch (registered) {
    case Registered::NoKey:
        writeBytes(game.registryPath(), registryText(""));
        break;
    case Registered::Game:
        game.registerGameDir();
        break;
    case Registered::EmptyFolder:
        game.registerGameDir(QString());
        break;
    case Registered::NotAGame:
        game.registerGameDir(notAGame);
        break;
    case Registered::NetworkShare:
        // A registry in a Wine prefix, where a share names no folder here.
        QVERIFY(QDir().mkpath(QFileInfo(game.registryPath()).dir().filePath("drive_c")));
        writeBytes(game.registryPath(), registryText(installKeyText("\\\\server\\ut")));
        break;
    }
    QStringList options;
    if (given != Folder::None)
        options << "--game-dir" << folderOf(given);

    // The window: the folder it opens, or the question for the executable
    // (cancelled here, which ends the start).
    game.boxes.queueOpenFile(std::nullopt);
    THauptForm* window = game.start(options);
    if (windowFolder == Folder::None) {
        QVERIFY(!window);
        QCOMPARE(game.boxes.shown().size(), 1);
        QCOMPARE(game.boxes.shown()[0].kind, ScriptedMessageBoxes::Kind::OpenDialog);
    } else {
        QVERIFY(window);
        QVERIFY(game.boxes.shown().isEmpty());
        QCOMPARE(window->state().GameDir, folderOf(windowFolder));
    }
    game.stop();

    // `paths`: the same folder's files, or the refusal.
    game.out.clear();
    game.err.clear();
    QVERIFY(!game.start(QStringList{"paths"} + options));
    if (pathsError.isEmpty()) {
        QCOMPARE(game.exitCode(), 0);
        QVERIFY2(game.out.contains("main INI: " + folderOf(windowFolder) + "/System/UnrealTournament.ini ("),
                 qPrintable(game.out));
        QVERIFY2(game.err.isEmpty(), qPrintable(game.err));
    } else {
        QCOMPARE(game.exitCode(), 2);
        QVERIFY2(game.err.contains(QString(pathsError).replace("%REG", game.registryPath())), qPrintable(game.err));
        QVERIFY(game.out.contains("main INI: unknown (no game folder)"));
    }
}

QTEST_MAIN(GameFolderTest)
#include "test_gamefolder.moc"
