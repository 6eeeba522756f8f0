#include "app/HauptUnit.h"
#include "platform/RegistryFile.h"
#include "support/Environment.h"
#include "support/PageTest.h"
#include "support/RegistryText.h"
#include "support/WriteLog.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace {

const QColor blue(0, 0, 255);
const QColor red(255, 0, 0);

// Stands between the page and the registry file and notes every value
// written, with the root and key it went to ("HKLM \Software\CLASSES\.unr
// @=Unreal.Map"), so that a test sees the roots, which the file (where
// HKEY_CLASSES_ROOT is a part of the machine's keys) cannot show.
class RecordingRegistry final : public GameRegistry {
public:
    explicit RecordingRegistry(std::unique_ptr<GameRegistry> inner) : inner_(std::move(inner)) {}

    QStringList writes;

    void SetRootKey(RegistryRoot root) override
    {
        root_ = root;
        inner_->SetRootKey(root);
    }
    bool OpenKey(const QString& path, bool canCreate) override
    {
        key_ = path;
        return inner_->OpenKey(path, canCreate);
    }
    bool OpenKeyReadOnly(const QString& path) override
    {
        key_ = path;
        return inner_->OpenKeyReadOnly(path);
    }
    std::optional<QString> ReadString(const QString& name) const override { return inner_->ReadString(name); }
    bool ValueExists(const QString& name) const override { return inner_->ValueExists(name); }
    void WriteString(const QString& name, const QString& value) override
    {
        inner_->WriteString(name, value);
        writes << QStringLiteral("%1 %2 %3=%4")
                      .arg(root_ == RegistryRoot::LocalMachine ? "HKLM" : "HKCR", key_,
                           name.isEmpty() ? QStringLiteral("@") : name, value);
    }
    bool KeyExists(const QString& path) const override { return inner_->KeyExists(path); }
    void CloseKey() override { inner_->CloseKey(); }
    QString path() const override { return inner_->path(); }
    std::optional<QString> winePrefix() const override { return inner_->winePrefix(); }
    std::optional<QString> localPathOf(const QString& value) const override { return inner_->localPathOf(value); }
    QString windowsPathOf(const QString& path, const QString& registered) const override
    {
        return inner_->windowsPathOf(path, registered);
    }

private:
    std::unique_ptr<GameRegistry> inner_;
    RegistryRoot root_ = RegistryRoot::LocalMachine;
    QString key_;
};

struct Item {
    const char* box;
    const char* label;
    QString extension;
    QString classKey;
    QString description;
    QString verb;
    QString command; // after the game folder
};

const Item module{"cbModule", "lModule", ".umod", "Unreal.Module", "Unreal Module", "&Install this Unreal module",
                  "\\System\\Setup.exe install \"%1\""};
const Item map{"cbMap", "lMap", ".unr", "Unreal.Map", "Unreal Map", "&Play this Unreal level",
               "\\System\\UnrealTournament.exe \"%1\""};
const Item linkItem{"cbLink", "lLink", ".unreal", "Unreal.Link", "Unreal Link", "&Play this Unreal level",
                    "\\System\\UnrealTournament.exe \"%1\""};
const Item protocol{"cbProtocol", "lProtocol", "", "unreal", "Unreal Protocol", "&Play this Unreal level",
                    "\\System\\UnrealTournament.exe \"%1\""};
const Item* const items[] = {&module, &map, &linkItem, &protocol};

// A registration's command for a game folder on this machine: the file
// named with this machine's separators.
QString unixCommand(const QString& gameDir, const QString& command)
{
    const qsizetype space = command.indexOf(' ');
    return gameDir + QString(command.left(space)).replace('\\', '/') + command.mid(space);
}

// What one registration writes, in order, as RecordingRegistry notes it.
QStringList expectedWrites(const Item& item, const QString& gameDir, const QString& icon = "/Help/Unreal.ico")
{
    QStringList writes;
    for (const auto& [root, prefix] : {std::pair{"HKLM", "\\Software\\CLASSES"}, std::pair{"HKCR", ""}}) {
        const auto add = [&](const QString& key, const QString& value) {
            writes << QStringLiteral("%1 %2\\%3 @=%4").arg(root, prefix, key, value);
        };
        if (!item.extension.isEmpty())
            add(item.extension, item.classKey);
        add(item.classKey, item.description);
        add(item.classKey + "\\DefaultIcon", gameDir + icon);
        add(item.classKey + "\\Shell", "open");
        add(item.classKey + "\\Shell\\open", item.verb);
        add(item.classKey + "\\Shell\\open\\command", unixCommand(gameDir, item.command));
    }
    return writes;
}

bool keyIn(const QString& file, const QString& key)
{
    RegistryFile registry(file);
    return registry.KeyExists(key);
}

// The value lines of a registry file, in the order they stand.
QStringList valueLines(const QByteArray& file)
{
    QStringList lines;
    for (const QByteArray& line : file.split('\n'))
        if (line.startsWith('@') || line.startsWith('"'))
            lines << QString::fromUtf8(line);
    return lines;
}

QColor colourOf(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText);
}

// A desktop tool's output, trimmed; the test fails when it does not end well.
QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qWarning("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed() + (process.exitCode() ? "<failed>" : "");
}

// Another program's defaults, with the oddities people's files have: the
// game's lines change, nothing else.
const QByteArray foreignMimeapps = "# kept\n[Added Associations]\ntext/plain=gedit.desktop;\n\n"
                                   "[Default Applications]\r\ntext/html = firefox.desktop;\r\n"
                                   "x-scheme-handler/unreal=other-game.desktop;\r\n\r\n"
                                   "[Removed Associations]\napplication/x-unreal-map=gone.desktop;";

} // namespace

// The Registry page through its widgets, against a temporary registry file.
class RegistryPageTest : public PageTest {
    Q_OBJECT

public:
    RegistryPageTest() : PageTest({.file = File::Registry, .registered = false}) {}

private Q_SLOTS:
    void commandAndIconFollowTheGameFolderUnderBothRoots();
    void longFolderIsElidedInItsMiddle();
    void eachBoxWritesItsRegistration_data();
    void eachBoxWritesItsRegistration();
    void foundKeysAreRewrittenOnTheFirstShowOnly();
    void extensionWithoutClassKeyIsMissing();
    void withoutInstallKeyOnlyTheFolderLineUntilTicked();
    void missingFirstRunWritesNoVersion();
    void dialogPathShowsThisPageFirst();
    void failedWriteStopsTheRegistrationThere();
    void registryThatCannotBeWrittenShowsEverythingMissing();
    void nativeBuildOpensFromTheDesktop_data();
    void nativeBuildOpensFromTheDesktop();

private:
    // Every write of the registry file stamps its key one second later than
    // the one before, from 1733600000 on.
    void started() override;
    RecordingRegistry* record();
    void checkRegistration(const Item& item, bool present);

    RecordingRegistry* recorder = nullptr;
};

void RegistryPageTest::started()
{
    auto* file = dynamic_cast<RegistryFile*>(window->state().GameRegistry.get());
    if (!file)
        return;
    auto seconds = std::make_shared<qint64>(1733600000);
    file->setClock([seconds] { return ++*seconds * 1000; });
}

RecordingRegistry* RegistryPageTest::record()
{
    std::unique_ptr<GameRegistry>& slot = window->state().GameRegistry;
    auto recording = std::make_unique<RecordingRegistry>(std::move(slot));
    recorder = recording.get();
    slot = std::move(recording);
    return recorder;
}

// The status line and box of a registration after a check or a write.
void RegistryPageTest::checkRegistration(const Item& item, bool present)
{
    const auto* label = child<QLabel>(item.label);
    const auto* box = child<QCheckBox>(item.box);
    QVERIFY(!label->isHidden());
    QVERIFY(!box->isHidden());
    if (present) {
        QCOMPARE(label->text(), "\"" + item.description + "\" ist korrekt installiert.");
        QCOMPARE(colourOf(label), blue);
        QVERIFY(box->isChecked());
        QVERIFY(!box->isEnabled());
    } else {
        QCOMPARE(label->text(), "\"" + item.description + "\" ist nicht korrekt installiert!");
        QCOMPARE(colourOf(label), red);
        QVERIFY(!box->isChecked());
        QVERIFY(box->isEnabled());
    }
}

void RegistryPageTest::commandAndIconFollowTheGameFolderUnderBothRoots()
{
    game->registerGameDir("C:\\UT");
    start();
    showPage("tsRegistry");
    QCOMPARE(child<QLabel>("lUTPath")->text(), QStringLiteral("UT ist in dem Ordner \"C:\\UT\" installiert."));
    click("cbMap");
    QVERIFY(game->boxes.errors().isEmpty());

    const QString file = game->registryPath();
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, "Folder"), QStringLiteral("C:\\UT"));
    for (const auto& [root, prefix] : {std::pair{RegistryRoot::LocalMachine, QStringLiteral("\\Software\\CLASSES")},
                                       std::pair{RegistryRoot::ClassesRoot, QString()}}) {
        QCOMPARE(valueIn(file, root, prefix + "\\Unreal.Map\\Shell\\open\\command"),
                 QStringLiteral("C:\\UT\\System\\UnrealTournament.exe \"%1\""));
        QCOMPARE(valueIn(file, root, prefix + "\\Unreal.Map\\DefaultIcon"), QStringLiteral("C:\\UT\\Help\\Unreal.ico"));
    }
    // As Wine writes them.
    const QByteArray bytes = readBytes(file);
    QVERIFY(bytes.contains("\n@=\"C:\\\\UT\\\\System\\\\UnrealTournament.exe \\\"%1\\\"\"\n"));
    QVERIFY(bytes.contains("\n@=\"C:\\\\UT\\\\Help\\\\Unreal.ico\"\n"));
}

void RegistryPageTest::longFolderIsElidedInItsMiddle()
{
    const QString folder = "C:\\Spiele\\" + QString(30, 'a') + "\\" + QString(120, 'b') + "\\UnrealTournament";
    game->registerGameDir(folder);
    start();
    const QSize windowSize = window->size();
    showPage("tsRegistry");
    const auto* line = child<QLabel>("lUTPath");
    const QString text = line->text();
    QVERIFY2(text.startsWith("UT ist in dem Ordner \"C:\\Spiele\\aaa"), qPrintable(text));
    QVERIFY2(text.endsWith("\\UnrealTournament\" installiert."), qPrintable(text));
    QVERIFY2(text.contains(QChar(0x2026)), qPrintable(text));
    QVERIFY(line->fontMetrics().horizontalAdvance(text) <= line->contentsRect().width());
    QCOMPARE(line->toolTip(), folder);
    QCOMPARE(window->size(), windowSize);
    // The folder written is the whole one.
    QCOMPARE(valueIn(game->registryPath(), RegistryRoot::LocalMachine, installKey, "Folder"), folder);
}

void RegistryPageTest::eachBoxWritesItsRegistration_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("module") << 0;
    QTest::newRow("map") << 1;
    QTest::newRow("link") << 2;
    QTest::newRow("protocol") << 3;
}

void RegistryPageTest::eachBoxWritesItsRegistration()
{
    QFETCH(int, index);
    const Item& item = *items[index];
    game->registerGameDir();
    // The icon and commands name the files as they are on disk.
    QVERIFY(QDir().mkpath(game->gameDir() + "/help"));
    writeBytes(game->gameDir() + "/help/UNREAL.ICO", "icon");
    start();
    showPage("tsRegistry");
    for (const Item* other : items)
        checkRegistration(*other, false);

    record();
    WriteLog log;
    click(item.box);
    QVERIFY(game->boxes.shown().isEmpty());
    const QStringList expected = expectedWrites(item, game->gameDir(), "/help/UNREAL.ICO");
    QCOMPARE(expected.size(), item.extension.isEmpty() ? 10 : 12);
    QCOMPARE(recorder->writes, expected);
    // The same keys under HKEY_CLASSES_ROOT hold the values by then: only a
    // change is written.
    QCOMPARE(log.count(), expected.size() / 2);
    for (const Item* other : items)
        checkRegistration(*other, other == &item);

    // In the file: the install key's two values and one default value for
    // each of the registration's keys (HKEY_CLASSES_ROOT being the same keys
    // as the machine's classes), nothing else.
    const QString file = game->registryPath();
    QStringList lines = valueLines(readBytes(file));
    QCOMPARE(lines.size(), 2 + expected.size() / 2);
    QVERIFY(lines.removeAll("\"Folder\"=\"" + game->gameDir() + "\"") == 1);
    QVERIFY(lines.removeAll("\"Version\"=\"436\"") == 1);
    for (const QString& line : lines)
        QVERIFY2(line.startsWith("@="), qPrintable(line));
    for (const QString& write : expected) {
        const QString root = write.section(' ', 0, 0);
        const QString key = write.section(' ', 1).section(" @=", 0, 0);
        const QString value = write.section(" @=", 1);
        QCOMPARE(valueIn(file, root == "HKLM" ? RegistryRoot::LocalMachine : RegistryRoot::ClassesRoot, key), value);
    }

    // Showing the page again checks, and writes nothing.
    showPage("tsSystem");
    showPage("tsRegistry");
    QCOMPARE(log.count(), expected.size() / 2);
}

void RegistryPageTest::foundKeysAreRewrittenOnTheFirstShowOnly()
{
    writeBytes(game->registryPath(),
               registryText(installKeyText("/old/place", "400")
                            + "\n[Software\\\\Classes\\\\Unreal.Map] 1733592000\n@=\"Old Map\"\n\n"
                              "[Software\\\\Classes\\\\Unreal.Map\\\\Shell\\\\open\\\\command] 1733592000\n"
                              "@=\"/old/place\\\\System\\\\UnrealTournament.exe \\\"%1\\\"\"\n"));
    start({"--game-dir", game->gameDir()});
    record();
    WriteLog log;
    showPage("tsRegistry");
    QVERIFY(game->boxes.shown().isEmpty());

    QCOMPARE(recorder->writes,
             (QStringList{"HKLM " + installKey + " Folder=" + game->gameDir(), "HKLM " + installKey + " Version=436"}
              + expectedWrites(map, game->gameDir())));
    // Both install values change, and the map's six keys: the same keys
    // under HKEY_CLASSES_ROOT hold the new values by then.
    const int written = 2 + 6;
    QCOMPARE(log.count(), written);
    const QString file = game->registryPath();
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, "Folder"), game->gameDir());
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, "Version"), QStringLiteral("436"));
    QCOMPARE(valueIn(file, RegistryRoot::ClassesRoot, "\\Unreal.Map"), QStringLiteral("Unreal Map"));
    QCOMPARE(valueIn(file, RegistryRoot::ClassesRoot, "\\Unreal.Map\\Shell\\open\\command"),
             game->gameDir() + "/System/UnrealTournament.exe \"%1\"");

    QVERIFY(child<QCheckBox>("cbUTPath")->isChecked());
    QVERIFY(!child<QCheckBox>("cbUTPath")->isEnabled());
    QCOMPARE(colourOf(child<QLabel>("lUTPath")), blue);
    QVERIFY(!child<QLabel>("Label5")->isHidden());
    checkRegistration(module, false);
    checkRegistration(map, true);
    checkRegistration(linkItem, false);
    checkRegistration(protocol, false);

    const QByteArray after = readBytes(file);
    showPage("tsSystem");
    showPage("tsRegistry");
    QCOMPARE(log.count(), written);
    QCOMPARE(readBytes(file), after);
    checkRegistration(map, true);
    checkRegistration(module, false);
}

void RegistryPageTest::extensionWithoutClassKeyIsMissing()
{
    writeBytes(game->registryPath(), registryText(installKeyText(game->gameDir(), "400")
                                                  + "\n[Software\\\\Classes\\\\.unr] 1733592000\n@=\"Unreal.Map\"\n"));
    start();
    showPage("tsRegistry");
    checkRegistration(map, false);
    const QString file = game->registryPath();
    QVERIFY(!keyIn(file, "\\Software\\Classes\\Unreal.Map"));
    QCOMPARE(valueIn(file, RegistryRoot::ClassesRoot, "\\.unr"), QStringLiteral("Unreal.Map"));
}

void RegistryPageTest::withoutInstallKeyOnlyTheFolderLineUntilTicked()
{
    start({"--game-dir", game->gameDir()});
    showPage("tsRegistry");
    const QString file = game->registryPath();
    QVERIFY(!QFile::exists(file));

    const auto* lUTPath = child<QLabel>("lUTPath");
    QCOMPARE(lUTPath->text(), "UT ist in dem Ordner \"" + game->gameDir() + "\" installiert.");
    QCOMPARE(colourOf(lUTPath), blue);
    auto* cbUTPath = child<QCheckBox>("cbUTPath");
    QVERIFY(cbUTPath->isEnabled());
    QVERIFY(!cbUTPath->isChecked());
    for (const char* name : {"Label5", "lModule", "lMap", "lLink", "lProtocol"})
        QVERIFY2(child<QLabel>(name)->isHidden(), name);
    for (const char* name : {"cbModule", "cbMap", "cbLink", "cbProtocol"})
        QVERIFY2(child<QCheckBox>(name)->isHidden(), name);

    record();
    click(cbUTPath);
    QVERIFY(game->boxes.shown().isEmpty());
    QCOMPARE(recorder->writes,
             (QStringList{"HKLM " + installKey + " Folder=" + game->gameDir(), "HKLM " + installKey + " Version=436"}));
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, "Folder"), game->gameDir());
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, installKey, "Version"), QStringLiteral("436"));
    QVERIFY(cbUTPath->isChecked());
    QVERIFY(!cbUTPath->isEnabled());
    QVERIFY(!child<QLabel>("Label5")->isHidden());
    for (const Item* item : items)
        checkRegistration(*item, false);
}

void RegistryPageTest::missingFirstRunWritesNoVersion()
{
    writeBytes(game->mainIniPath(), withValue(readBytes(game->mainIniPath()), "FirstRun", "FirstRun", std::nullopt));
    start({"--game-dir", game->gameDir()});
    showPage("tsRegistry");
    click("cbUTPath");
    QVERIFY(game->boxes.shown().isEmpty());
    RegistryFile registry(game->registryPath());
    QVERIFY(registry.OpenKey(installKey, false));
    QCOMPARE(registry.ReadString("Folder"), std::optional<QString>(game->gameDir()));
    QVERIFY(!registry.ValueExists("Version"));
}

void RegistryPageTest::dialogPathShowsThisPageFirst()
{
    game->boxes.queueOpenFile(game->gameDir() + "/System/UnrealTournament.exe");
    start();
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("tsRegistry"));
    QCOMPARE(child<QLabel>("lUTPath")->text(), "UT ist in dem Ordner \"" + game->gameDir() + "\" installiert.");
    QVERIFY(child<QCheckBox>("cbUTPath")->isEnabled());
    QVERIFY(window->bBeenden->isVisible());
    QVERIFY(!QFile::exists(game->registryPath()));
}

void RegistryPageTest::failedWriteStopsTheRegistrationThere()
{
    game->registerGameDir();
    start();
    showPage("tsRegistry");
    const QString file = game->registryPath();
    // The n-th write is stamped 1733600000 + n. The first show found the
    // install key as it writes it, so the map's fourth key (Shell) is the
    // 4th write.
    WriteLog log;
    log.failFrom("[Software\\\\Classes\\\\Unreal.Map\\\\Shell] 1733600004");
    click("cbMap");

    QCOMPARE(game->boxes.errors(), QStringList{"Failed to set data for ''"});
    QCOMPARE(log.count(), 3);
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, "\\Software\\CLASSES\\.unr"), QStringLiteral("Unreal.Map"));
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, "\\Software\\CLASSES\\Unreal.Map"),
             QStringLiteral("Unreal Map"));
    QCOMPARE(valueIn(file, RegistryRoot::LocalMachine, "\\Software\\CLASSES\\Unreal.Map\\DefaultIcon"),
             game->gameDir() + "/Help/Unreal.ico");
    QVERIFY(!keyIn(file, "\\Software\\Classes\\Unreal.Map\\Shell"));
    QVERIFY(!keyIn(file, "\\Software\\Classes\\Unreal.Map\\Shell\\open\\command"));
    // Ticked by the click, still open to another try; the line as it was.
    auto* cbMap = child<QCheckBox>("cbMap");
    QVERIFY(cbMap->isChecked());
    QVERIFY(cbMap->isEnabled());
    QCOMPARE(child<QLabel>("lMap")->text(), QStringLiteral("\"Unreal Map\" ist nicht korrekt installiert!"));
    QCOMPARE(colourOf(child<QLabel>("lMap")), red);
    checkRegistration(module, false);
}

void RegistryPageTest::registryThatCannotBeWrittenShowsEverythingMissing()
{
    const QString file = game->registryPath();
    writeBytes(file, registryText(installKeyText(game->gameDir(), "400")
                                  + "\n[Software\\\\Classes\\\\Unreal.Map] 1733592000\n@=\"Unreal Map\"\n"));
    QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QByteArray before = readBytes(file);
    // Start-up learns the folder all the same: reading needs no write access.
    start();
    QVERIFY(window);
    QCOMPARE(window->state().GameDir, game->gameDir());
    QCOMPARE(window->PageControl1->currentWidget()->objectName(), QStringLiteral("tsSystem"));
    QVERIFY(game->boxes.shown().isEmpty());
    showPage("tsRegistry");

    // The keys are there but cannot be opened for writing.
    auto* cbUTPath = child<QCheckBox>("cbUTPath");
    QVERIFY(cbUTPath->isEnabled());
    QVERIFY(!cbUTPath->isChecked());
    QVERIFY(child<QLabel>("Label5")->isHidden());

    click(cbUTPath);
    QVERIFY(game->boxes.shown().isEmpty());
    QVERIFY(cbUTPath->isEnabled());
    QVERIFY(cbUTPath->isChecked());
    QVERIFY(!child<QLabel>("Label5")->isHidden());
    for (const Item* item : items)
        checkRegistration(*item, false);

    click("cbMap");
    QCOMPARE(game->boxes.errors(), QStringList{"Failed to set data for ''"});
    QVERIFY(child<QCheckBox>("cbMap")->isEnabled());
    QCOMPARE(child<QLabel>("lMap")->text(), QStringLiteral("\"Unreal Map\" ist nicht korrekt installiert!"));
    QCOMPARE(readBytes(file), before);
}

void RegistryPageTest::nativeBuildOpensFromTheDesktop_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("target"); // what a person opens; a file below the game folder
    QTest::addColumn<int>("writes");
    QTest::addColumn<QByteArray>("before"); // mimeapps.list; null: none
    QTest::addColumn<QByteArray>("after");  // %1 the entry
    QTest::addColumn<QString>("folder");    // the game folder's name
    // The launchers that start the game; any other must start nothing.
    QTest::addColumn<QStringList>("launchers");
    // A folder beside the game's, with a stand-in of its own, that none may start.
    QTest::addColumn<QString>("decoy");
    // ~/.local/share is another user's link to a folder of root's, and
    // XDG_DATA_HOME is not set.
    QTest::addColumn<bool>("linkedShare");
    const QStringList both{"gio", "xdg-open"};
    const QByteArray foreignHead = "# kept\n[Added Associations]\ntext/plain=gedit.desktop;\n\n"
                                   "[Default Applications]\r\ntext/html = firefox.desktop;\r\n";
    const QByteArray foreignTail = "\r\n[Removed Associations]\napplication/x-unreal-map=gone.desktop;";
    QTest::newRow("map") << 1 << "application/x-unreal-map" << "Maps/DM-Deck16][.unr" << 3 << foreignMimeapps
                         << foreignHead + "x-scheme-handler/unreal=other-game.desktop;\r\n"
                                          "application/x-unreal-map=%1;\r\n" + foreignTail
                         << "UnrealTournament" << both << QString() << false;
    QTest::newRow("link") << 2 << "application/x-unreal-link" << "DM-Link.unreal" << 3 << foreignMimeapps
                          << foreignHead + "x-scheme-handler/unreal=other-game.desktop;\r\n"
                                           "application/x-unreal-link=%1;\r\n" + foreignTail
                          << "UnrealTournament" << both << QString() << false;
    QTest::newRow("protocol") << 3 << "x-scheme-handler/unreal" << "unreal://1.2.3.4:7777" << 2 << foreignMimeapps
                              << foreignHead + "x-scheme-handler/unreal=%1;other-game.desktop;\r\n" + foreignTail
                              << "UnrealTournament" << both << QString() << false;
    QTest::newRow("map, no mimeapps.list yet")
        << 1 << "application/x-unreal-map" << "Maps/DM-Deck16][.unr" << 3 << QByteArray()
        << QByteArray("[Default Applications]\napplication/x-unreal-map=%1;\n") << "UnrealTournament" << both
        << QString() << false;
    QTest::newRow("link, no defaults yet, no last line end")
        << 2 << "application/x-unreal-link" << "DM-Link.unreal" << 3
        << QByteArray("[Added Associations]\ntext/plain=gedit.desktop;")
        << QByteArray("[Added Associations]\ntext/plain=gedit.desktop;\n[Default Applications]\n"
                      "application/x-unreal-link=%1;\n")
        << "UnrealTournament" << both << QString() << false;
    // Refused, and nothing made in root's folder; root's own link is followed.
    QTest::newRow("~/.local/share another user's link")
        << 1 << "application/x-unreal-map" << "Maps/DM-Deck16][.unr" << 3 << QByteArray()
        << QByteArray("[Default Applications]\napplication/x-unreal-map=%1;\n") << "UnrealTournament" << both
        << QString() << true;

    // Folders whose names a launcher could misread: quoted and escaped in
    // Exec. xdg-open without a desktop takes no quoted program, and GLib no
    // program whose path holds a "%": those start nothing. A shell pattern
    // ("[1]" matching "1") must not start the program it matches.
    const auto oddFolder = [&](const char* name, const QString& folder, const QStringList& launchers,
                               const QString& decoy = QString()) {
        QTest::newRow(name) << 1 << "application/x-unreal-map" << "Maps/DM-Deck16][.unr" << 3 << QByteArray()
                            << QByteArray("[Default Applications]\napplication/x-unreal-map=%1;\n") << folder
                            << launchers << decoy << false;
    };
    oddFolder("folder [1]", "UT[1]", {"gio"}, "UT1");
    oddFolder("folder * and ?", "UT*?", {"gio"});
    oddFolder("folder with a carriage return", "UT\rGOTY", {"gio"});
    oddFolder("folder with a tab and a line break", "UT\tGOTY\nEdition", {"gio"});
    oddFolder("folder with %", "UT100%", {});
    oddFolder("folder of letters beyond ASCII", QString::fromUtf8("Spiele-Türkçe-ユニークな"), both);
    oddFolder("folder with a no-break space", QString::fromUtf8("UT\u00a0GOTY"), {"gio"});
    QTest::newRow("folder with quotes, $, ; and \\")
        << 3 << "x-scheme-handler/unreal" << "unreal://1.2.3.4:7777" << 2 << foreignMimeapps
        << foreignHead + "x-scheme-handler/unreal=%1;other-game.desktop;\r\n" + foreignTail
        << "UT \"GOTY\" 'x' $HOME; \\ `x` #1 (a) <b> | & ~" << QStringList{"gio"} << QString() << false;
}

// A game with its Linux build and the editor's own registry file: the
// desktop's files, read by the desktop's own tools, with no desktop running
// (xdg-open then reads mimeapps.list and runs the entry itself).
void RegistryPageTest::nativeBuildOpensFromTheDesktop()
{
    QFETCH(int, index);
    QFETCH(QString, type);
    QFETCH(QString, target);
    QFETCH(int, writes);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QString, folder);
    QFETCH(QStringList, launchers);
    QFETCH(QString, decoy);
    QFETCH(bool, linkedShare);
    if (linkedShare && ::geteuid() != 0)
        QSKIP("needs root to plant another user's link");
    const Item& item = *items[index];
    const QString gameDir = QFileInfo(game->gameDir()).path() + "/" + folder;
    QVERIFY(gameDir == game->gameDir() || QDir().rename(game->gameDir(), gameDir));
    const bool tools = launchers.contains("xdg-open");

    QTemporaryDir desktop;
    const QString home = desktop.filePath("home"), config = desktop.filePath("config");
    const QString share = home + "/.local/share", rootOnly = desktop.filePath("root-only");
    const QString data = linkedShare ? share : desktop.filePath("data");
    Environment environment;
    environment.set("HOME", QFile::encodeName(home));
    if (linkedShare) {
        // The user's home as root runs with it (sudo -E): all of it the
        // user's, and ~/.local/share the user's link to a folder of root's.
        environment.unset("XDG_DATA_HOME");
        QVERIFY(QDir().mkpath(home + "/.local") && QDir().mkdir(rootOnly));
        QVERIFY(QFile::setPermissions(rootOnly, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::link(rootOnly, share));
        for (const QString& path : {home, home + "/.local", share})
            QVERIFY(::lchown(QFile::encodeName(path).constData(), 65534, 65534) == 0);
    } else {
        environment.set("XDG_DATA_HOME", QFile::encodeName(data));
    }
    environment.set("XDG_CONFIG_HOME", QFile::encodeName(config));
    environment.set("XDG_DATA_DIRS", QFile::encodeName(desktop.filePath("system")));
    environment.set("XDG_CONFIG_DIRS", QFile::encodeName(desktop.filePath("system-config")));
    environment.set("XDG_CURRENT_DESKTOP", "X-Generic");
    environment.set("DISPLAY", ":404");
    for (const char* name : {"WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "BROWSER"})
        environment.unset(name);
    // The other program the user had for unreal:// before, installed system-wide.
    QVERIFY(QDir().mkpath(desktop.filePath("system/applications")));
    writeBytes(desktop.filePath("system/applications/other-game.desktop"),
               "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/games/other %u\n");
    const QString mimeappsPath = config + "/mimeapps.list";
    if (!before.isNull()) {
        QVERIFY(QDir().mkpath(config));
        writeBytes(mimeappsPath, before);
    }

    // The stand-in game notes which program was started, with what, and in
    // which folder; so does the decoy's.
    const QString record = desktop.filePath("started");
    const QString executable = gameDir + "/System/ut-bin";
    QStringList programs{executable};
    if (!decoy.isEmpty())
        programs << QFileInfo(gameDir).path() + "/" + decoy + "/System/ut-bin";
    for (const QString& program : programs) {
        QVERIFY(QDir().mkpath(QFileInfo(program).path()));
        writeBytes(program, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" \"$PWD\" > '" + QFile::encodeName(record)
                                + ".new' && mv '" + QFile::encodeName(record) + ".new' '" + QFile::encodeName(record)
                                + "'\n");
        QVERIFY(QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    const QString opened = target.contains("://") ? target : gameDir + "/" + target;
    QVERIFY(QDir().mkpath(gameDir + "/Maps"));
    writeBytes(gameDir + "/Maps/DM-Deck16][.unr", "Unreal package");
    writeBytes(gameDir + "/DM-Link.unreal", "unreal://1.2.3.4:7777");

    game->registerGameDir(gameDir);
    start();
    showPage("tsRegistry");
    for (const Item* other : items)
        checkRegistration(*other, false);

    // Root with the user's home: nothing made where the user's link points,
    // and the usual error box; root's own link is followed.
    if (linkedShare) {
        click(item.box);
        QCOMPARE(QDir(rootOnly).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(game->boxes.errors(),
                 QStringList{"Unable to write to " + share + "/applications: " + share
                             + " is a symbolic link of user nobody to a file of user root; it is not followed."});
        QVERIFY(child<QCheckBox>(item.box)->isEnabled());
        QCOMPARE(colourOf(child<QLabel>(item.label)), red);
        QVERIFY(::lchown(QFile::encodeName(share).constData(), 0, 0) == 0);
        game->boxes.clear();
    }

    // When mimeapps.list may not be changed: the usual error, and what was
    // written before it is put back, since an entry alone is a handler to a
    // desktop that finds no default.
    if (!before.isNull()) {
        QVERIFY(QFile::setPermissions(mimeappsPath, QFile::ReadOwner));
        click(item.box);
        QCOMPARE(game->boxes.errors(), QStringList{unableToWrite(mimeappsPath)});
        QVERIFY(child<QCheckBox>(item.box)->isEnabled());
        QCOMPARE(colourOf(child<QLabel>(item.label)), red);
        QCOMPARE(readBytes(mimeappsPath), before);
        QCOMPARE(QDir(data + "/applications").entryList(QDir::Files), QStringList());
        QCOMPARE(QDir(data + "/mime/packages").entryList(QDir::Files), QStringList());
        if (tools)
            QCOMPARE(run("xdg-mime", {"query", "default", type}), QString());
        QVERIFY(QFile::setPermissions(mimeappsPath, QFile::ReadOwner | QFile::WriteOwner));
        game->boxes.clear();
    }

    WriteLog log;
    click(item.box);
    QVERIFY(game->boxes.shown().isEmpty());
    for (const Item* other : items)
        checkRegistration(*other, other == &item);
    QCOMPARE(log.count(), writes);
    // The registry file keeps the install path alone.
    QVERIFY(!readBytes(game->registryPath()).contains("Classes"));

    const QStringList entries = QDir(data + "/applications").entryList({"*.desktop"});
    QCOMPARE(entries.size(), 1);
    const QString entry = data + "/applications/" + entries.front();
    QCOMPARE(run("desktop-file-validate", {entry}), QString());
    QVERIFY(readBytes(entry).contains("\nNoDisplay=true\n"));
    if (tools) {
        QCOMPARE(run("xdg-mime", {"query", "default", type}), entries.front());
        if (!target.contains("://"))
            QCOMPARE(run("xdg-mime", {"query", "filetype", opened}), type);
    }
    // What each launcher starts: the game alone, with the target, in its
    // folder where the launcher honours Path (GLib does, xdg-open does not);
    // or nothing at all. gio leaves the program running, xdg-open waits.
    for (const QString& launcher : {QStringLiteral("gio"), QStringLiteral("xdg-open")}) {
        QFile::remove(record);
        QProcess process;
        process.start(launcher, launcher == "gio" ? QStringList{"open", opened} : QStringList{opened});
        QVERIFY(process.waitForFinished(60000));
        if (!launchers.contains(launcher)) {
            QVERIFY2(process.exitCode() != 0, qPrintable(launcher));
            QVERIFY2(!QFile::exists(record), qPrintable(launcher + ": " + readBytes(record)));
            continue;
        }
        QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 30000);
        const QString folder = launcher == "gio" ? gameDir + "/System" : QDir::currentPath();
        QCOMPARE(readBytes(record), QFile::encodeName(executable + "\n" + opened + "\n" + folder + "\n"));
    }

    QCOMPARE(readBytes(mimeappsPath), QByteArray(after).replace("%1", entries.front().toUtf8()));

    // The next run finds it present and writes it again: the same bytes, so
    // nothing.
    stop();
    start();
    showPage("tsRegistry");
    checkRegistration(item, true);
    QCOMPARE(log.count(), writes);
}

QTEST_MAIN(RegistryPageTest)
#include "test_registrypage.moc"
