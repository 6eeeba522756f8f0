#include "app/Startup.h"
#include "support/PageTest.h"

#include <QRegularExpression>
#include <QTest>

// The options the program takes, and what it says about wrong ones, as
// start-up parses them.
class CommandLineTest : public PageTest {
    Q_OBJECT

public:
    CommandLineTest() : PageTest({.registered = false}) {}

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void helpNamesTheOptions();
};

void CommandLineTest::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("errPattern");

    QTest::newRow("version") << QStringList{"--version"} << 0
                             << "Brennwerk-Editor 2.3\nCopyright (c) 2026 The Brennwerk-Editor developers\n"
                                "MIT licence: free to use, change and share, without warranty.\n"
                             << "^$";
    QTest::newRow("unknown option") << QStringList{"--frobnicate=1"} << 2 << ""
                                    << "^brennwerk-editor: unknown option '--frobnicate'; try .*--help'\n$";
    QTest::newRow("unknown short option") << QStringList{"-q"} << 2 << "" << "^brennwerk-editor: unknown option '-q'; try .*--help'\n$";
    QTest::newRow("missing argument") << QStringList{"--game-dir"} << 2 << "" << "^brennwerk-editor: .*game-dir.*\n$";
    QTest::newRow("not a folder") << QStringList{"--game-dir", "/no/such/folder"} << 2 << "" << "^brennwerk-editor: .*/no/such/folder.*\n$";
    QTest::newRow("stray argument") << QStringList{"extra"} << 2 << "" << "^brennwerk-editor: .*extra.*\n$";
    QTest::newRow("--ini-dir not a folder") << QStringList{"--ini-dir", "/no/such/folder"} << 2 << ""
                                            << "^brennwerk-editor: .*/no/such/folder.*\n$";
}

void CommandLineTest::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    game->registerGameDir();
    QVERIFY(!game->start(arguments));
    QCOMPARE(game->exitCode(), exitCode);
    QTEST(game->out, "out");
    QFETCH(QString, errPattern);
    QVERIFY2(QRegularExpression(errPattern).match(game->err).hasMatch(), qPrintable(game->err));
    QVERIFY(game->boxes.shown().isEmpty());
}

void CommandLineTest::helpNamesTheOptions()
{
    QString out, err;
    ScriptedMessageBoxes boxes;
    const StartResult result = startEditor({"brennwerk-editor", "--help"}, boxes, out, err);
    QVERIFY(!result.window);
    QCOMPARE(result.exitCode, 0);
    for (const char* option : {"--game-dir DIR", "--ini-dir DIR", "--registry FILE", "--help", "--version", "paths"})
        QVERIFY2(out.contains(option), option);
    QVERIFY(err.isEmpty());
}

QTEST_MAIN(CommandLineTest)
#include "test_commandline.moc"
