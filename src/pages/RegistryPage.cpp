#include "pages/RegistryPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/ElidedLabel.h"
#include "controls/EventRules.h"
#include "controls/Fonts.h"
#include "controls/TextColours.h"
#include "platform/DesktopHandlers.h"
#include "platform/EditorError.h"
#include "platform/GamePaths.h"
#include "platform/GameRegistry.h"
#include "platform/InstallPath.h"
#include "platform/WinePaths.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <utility>

namespace {

const QString machineClasses = QStringLiteral("\\Software\\CLASSES");
const QString iconTail = QStringLiteral("\\Help\\Unreal.ico");
const QString firstRunKey = QStringLiteral("FirstRun");

const QColor present(0, 0, 255);
const QColor missing(255, 0, 0);

const QString playCommand = QStringLiteral("\\System\\UnrealTournament.exe \"%1\"");
const QString playVerb = QStringLiteral("&Play this Unreal level");

// box, status line, extension key, class key, description, verb "open", command after the game folder
const ShellRegistration moduleItem{
    "cbModule", "lModule", QStringLiteral(".umod"), QStringLiteral("Unreal.Module"), QStringLiteral("Unreal Module"),
    QStringLiteral("&Install this Unreal module"), QStringLiteral("\\System\\Setup.exe install \"%1\"")};
const ShellRegistration mapItem{
    "cbMap", "lMap", QStringLiteral(".unr"), QStringLiteral("Unreal.Map"), QStringLiteral("Unreal Map"),
    playVerb, playCommand};
const ShellRegistration linkItem{
    "cbLink", "lLink", QStringLiteral(".unreal"), QStringLiteral("Unreal.Link"), QStringLiteral("Unreal Link"),
    playVerb, playCommand};
const ShellRegistration protocolItem{
    "cbProtocol", "lProtocol", QString(), QStringLiteral("unreal"), QStringLiteral("Unreal Protocol"),
    playVerb, playCommand};

QString presentText(const ShellRegistration& item)
{
    return QLatin1Char('"') + item.description + QStringLiteral("\" ist korrekt installiert.");
}

QString missingText(const ShellRegistration& item)
{
    return QLatin1Char('"') + item.description + QStringLiteral("\" ist nicht korrekt installiert!");
}

void setStatus(QLabel* label, const QString& text, const QColor& colour)
{
    setTextColour(label, colour);
    label->setText(text);
}

// The registry keeps at most one key open; whatever a handler leaves open is
// closed when it ends, a failure included.
class KeyCloser {
public:
    explicit KeyCloser(GameRegistry& registry) : registry_(registry) {}
    ~KeyCloser() { registry_.CloseKey(); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

private:
    GameRegistry& registry_;
};

// Opens the key, creating it when missing, and sets its default value. A key
// that cannot be opened fails as its write would, naming the default value
// (the empty name).
void writeDefault(GameRegistry& registry, const QString& key, const QString& value)
{
    if (!registry.OpenKey(key, true))
        throw EditorError(QStringLiteral("Failed to set data for '%1'").arg(QString()));
    registry.WriteString(QString(), value);
}

// On a native install (the editor's own registry file, no Wine prefix, a
// Linux build in the game folder) maps, links and unreal:// open from the
// desktop: those three live in the desktop's files, not in a registry no
// program there reads. Modules stay in the registry: the Linux builds have no
// module installer to name.
struct DesktopItem {
    DesktopHandlers::Type type;
    QString executable;
};

std::optional<DesktopItem> desktopItem(const GameRegistry& registry, const QString& gameDir,
                                       const ShellRegistration& item)
{
    std::optional<DesktopHandlers::Type> type;
    if (&item == &mapItem)
        type = DesktopHandlers::Type::Map;
    else if (&item == &linkItem)
        type = DesktopHandlers::Type::Link;
    else if (&item == &protocolItem)
        type = DesktopHandlers::Type::Protocol;
    if (!type || registry.winePrefix())
        return std::nullopt;
    const std::optional<QString> executable = GamePaths::linuxExecutable(gameDir);
    if (!executable)
        return std::nullopt;
    return DesktopItem{*type, *executable};
}

QLabel* boldLabel(const QString& text, QWidget* parent, const QString& name)
{
    QLabel* label = named(new QLabel(text, parent), name);
    setBold(label, true);
    return label;
}

} // namespace

QString registryGamePath(const GameRegistry& registry, const QString& gameDir, const QString& windowsTail,
                         const QString& registered)
{
    QString folder = registry.windowsPathOf(gameDir, registered);
    if (windowsTail.isEmpty())
        return folder;
    const bool unixFolder = !WinePaths::isWindowsPath(folder) && !WinePaths::isNetworkPath(folder)
        && !folder.contains(QLatin1Char('\\'));
    if (!unixFolder) {
        // A game at a drive's root, or a folder spelled with a backslash at
        // its end: "C:\" and "\System\..." share one backslash.
        while (folder.endsWith(QLatin1Char('\\')) && windowsTail.startsWith(QLatin1Char('\\')))
            folder.chop(1);
        return folder + windowsTail;
    }
    // The file's path, up to the arguments after it, with this machine's
    // separators and the letter case of the files on disk.
    qsizetype end = windowsTail.indexOf(QLatin1Char(' '));
    if (end < 0)
        end = windowsTail.size();
    QString filePath = windowsTail.left(end);
    filePath.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return GamePaths::matchOnDisk(WinePaths::withoutTrailingSeparator(folder) + filePath) + windowsTail.mid(end);
}

RegistryPage::RegistryPage(const PageServices& services)
    : Page(services, QStringLiteral("tsRegistry")),
      registrations_{Registration{&moduleItem}, Registration{&mapItem}, Registration{&linkItem},
                     Registration{&protocolItem}}
{
}

void RegistryPage::build()
{
    GroupBox1 = named(new QGroupBox(QStringLiteral("GroupBox1"), this), QStringLiteral("GroupBox1"));
    Label4 = boldLabel(QStringLiteral("Installation wird geprüft..."), GroupBox1, QStringLiteral("Label4"));
    // A long folder is elided in its middle.
    lUTPath = named(new ElidedLabel(GroupBox1), QStringLiteral("lUTPath"));
    cbUTPath = named(new QCheckBox(GroupBox1), QStringLiteral("cbUTPath"));
    Label1 = named(new QLabel(QStringLiteral("Eintragen"), GroupBox1), QStringLiteral("Label1"));
    Label5 = boldLabel(QStringLiteral("Registrierung der Dateinamenerweiterung wird geprüft..."), GroupBox1,
                       QStringLiteral("Label5"));
    Label5->hide();

    // Status lines on the left, the boxes in a column under "Eintragen".
    auto* grid = new QGridLayout(GroupBox1);
    grid->setColumnStretch(0, 1);
    grid->setColumnMinimumWidth(1, Label1->sizeHint().width());
    grid->addWidget(Label4, 0, 0);
    grid->addWidget(Label1, 0, 1, Qt::AlignHCenter);
    grid->addWidget(lUTPath, 1, 0);
    grid->addWidget(cbUTPath, 1, 1, Qt::AlignHCenter);
    grid->setRowMinimumHeight(2, 8);
    grid->addWidget(Label5, 3, 0, 1, 2);
    int row = 4;
    for (Registration& registration : registrations_) {
        registration.label = named(new QLabel(GroupBox1), QString::fromLatin1(registration.item->labelName));
        registration.box = named(new QCheckBox(GroupBox1), QString::fromLatin1(registration.item->boxName));
        registration.label->hide();
        registration.box->hide();
        grid->addWidget(registration.label, row, 0);
        grid->addWidget(registration.box, row, 1, Qt::AlignHCenter);
        ++row;
    }

    // The quit button covers the page's lower right corner: the box stays
    // clear of it.
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addStretch(1);
    layout->addSpacing(36);

    const EventRules& events = services_.events;
    events.onClick(cbUTPath, [this] { cbUTPathClick(); });
    events.onClick(registrations_[Module].box, [this] { cbModuleClick(); });
    events.onClick(registrations_[Map].box, [this] { cbMapClick(); });
    events.onClick(registrations_[Link].box, [this] { cbLinkClick(); });
    events.onClick(registrations_[Protocol].box, [this] { cbProtocolClick(); });
}

GameRegistry& RegistryPage::registry() const
{
    if (!services_.state.GameRegistry)
        throw EditorError(QStringLiteral("The registry is not open"));
    return *services_.state.GameRegistry;
}

void RegistryPage::tsRegistryShow()
{
    setQuitButtonVisible(true);
    // The folder line stands in every case, also when the write below fails.
    setTextColour(lUTPath, present);
    static_cast<ElidedLabel*>(lUTPath)->setParts(QStringLiteral("UT ist in dem Ordner \""), services_.state.GameDir,
                                                 QStringLiteral("\" installiert."));
    GameRegistry& reg = registry();
    {
        const KeyCloser closer(reg);
        reg.SetRootKey(RegistryRoot::LocalMachine);
        if (reg.OpenKey(installPathKey, false)) {
            cbUTPath->setEnabled(false);
            // The first time this writes the path again (cbUTPathClick).
            EventRules::setChecked(cbUTPath, true);
            refreshRegistrations();
        }
    }
}

void RegistryPage::refreshRegistrations()
{
    RegVisible();
    GetModuleState();
    GetMapState();
    GetLinkState();
    GetProtocolState();
}

void RegistryPage::RegVisible()
{
    Label5->setVisible(true);
    for (Registration& registration : registrations_)
        registration.box->setVisible(true);
    for (Registration& registration : registrations_)
        registration.label->setVisible(true);
}

void RegistryPage::GetModuleState() { getState(registrations_[Module]); }
void RegistryPage::GetMapState() { getState(registrations_[Map]); }
void RegistryPage::GetLinkState() { getState(registrations_[Link]); }
void RegistryPage::GetProtocolState() { getState(registrations_[Protocol]); }

void RegistryPage::cbModuleClick() { writeRegistration(registrations_[Module]); }
void RegistryPage::cbMapClick() { writeRegistration(registrations_[Map]); }
void RegistryPage::cbLinkClick() { writeRegistration(registrations_[Link]); }
void RegistryPage::cbProtocolClick() { writeRegistration(registrations_[Protocol]); }

// Only the class key is looked at. A registration found there is written
// again as a whole on its first check in a run (ticking the box runs its
// writer), so it then names the current game folder.
void RegistryPage::getState(Registration& registration)
{
    GameRegistry& reg = registry();
    bool found = false;
    if (const auto desktop = desktopItem(reg, services_.state.GameDir, *registration.item)) {
        found = DesktopHandlers::opensWith(desktop->type, desktop->executable);
    } else {
        reg.SetRootKey(RegistryRoot::LocalMachine);
        found = reg.OpenKey(machineClasses + QLatin1Char('\\') + registration.item->classKey, false);
        reg.CloseKey();
    }
    if (!found) {
        setStatus(registration.label, missingText(*registration.item), missing);
        return;
    }
    setStatus(registration.label, presentText(*registration.item), present);
    EventRules::setChecked(registration.box, true);
    registration.box->setEnabled(false);
}

void RegistryPage::writeRegistration(Registration& registration)
{
    const ShellRegistration& item = *registration.item;
    const QString& gameDir = services_.state.GameDir;
    GameRegistry& reg = registry();
    if (const auto desktop = desktopItem(reg, gameDir, item)) {
        DesktopHandlers::makeDefault(desktop->type, gameDir, desktop->executable);
        markWritten(registration);
        return;
    }
    const QString registered = readInstallPath(reg).registered;
    const QString icon = registryGamePath(reg, gameDir, iconTail, registered);
    const QString command = registryGamePath(reg, gameDir, item.commandTail, registered);
    {
        const KeyCloser closer(reg);
        // The same six keys under the machine's classes and under the
        // classes root, in this order; a failure stops at its key.
        for (const auto& [root, prefix] : {std::pair{RegistryRoot::LocalMachine, machineClasses},
                                           std::pair{RegistryRoot::ClassesRoot, QString()}}) {
            reg.SetRootKey(root);
            const QString classKey = prefix + QLatin1Char('\\') + item.classKey;
            if (!item.extensionKey.isEmpty())
                writeDefault(reg, prefix + QLatin1Char('\\') + item.extensionKey, item.classKey);
            writeDefault(reg, classKey, item.description);
            writeDefault(reg, classKey + QStringLiteral("\\DefaultIcon"), icon);
            writeDefault(reg, classKey + QStringLiteral("\\Shell"), QStringLiteral("open"));
            writeDefault(reg, classKey + QStringLiteral("\\Shell\\open"), item.openVerb);
            writeDefault(reg, classKey + QStringLiteral("\\Shell\\open\\command"), command);
        }
    }
    markWritten(registration);
}

void RegistryPage::markWritten(Registration& registration)
{
    registration.box->setEnabled(false);
    EventRules::setChecked(registration.box, true);
    setStatus(registration.label, presentText(*registration.item), present);
}

void RegistryPage::cbUTPathClick()
{
    GameRegistry& reg = registry();
    {
        const KeyCloser closer(reg);
        reg.SetRootKey(RegistryRoot::LocalMachine);
        if (reg.OpenKey(installPathKey, true)) {
            try {
                // The registry's own spelling stays while it names the game folder.
                reg.WriteString(QStringLiteral("Folder"),
                                registryGamePath(reg, services_.state.GameDir, QString(), readFolderValue(reg)));
                // A game folder without the key has no version to tell; an
                // invented one would be worse than none.
                const QString version =
                    MainIni().ReadString(GameIni::firstRunSection, firstRunKey, NotFoundDefault::entryAbsent);
                if (version != NotFoundDefault::entryAbsent)
                    reg.WriteString(QStringLiteral("Version"), version);
            } catch (const EditorError&) {
                // The path is not stored (Wine still running, say): the box
                // says so and stays open to another try, by a tick or by the
                // next show of the page.
                const QSignalBlocker blocker(cbUTPath);
                cbUTPath->setChecked(false);
                cbUTPath->setEnabled(true);
                throw;
            }
            cbUTPath->setEnabled(false);
            EventRules::setChecked(cbUTPath, true);
        }
    }
    refreshRegistrations();
}
