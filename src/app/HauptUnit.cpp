#include "app/HauptUnit.h"

#include "app/InfoUnit.h"
#include "app/MainWindowInput.h"
#include "app/RendererUnit.h"
#include "config/GameConfigStore.h"
#include "controls/EventRules.h"
#include "controls/MessageBoxes.h"
#include "pages/AliasesPage.h"
#include "pages/KeyBindingsPage.h"
#include "pages/MultiplayerPage.h"
#include "pages/OtherRenderersPage.h"
#include "pages/RegistryPage.h"
#include "pages/RendererGroup.h"
#include "pages/SystemPage.h"
#include "pages/UserPage.h"
#include "pages/WeaponPriorityPage.h"
#include "platform/AppInfo.h"
#include "platform/EditorError.h"
#include "platform/GameFolder.h"
#include "platform/GamePaths.h"
#include "platform/GameRegistry.h"
#include "platform/SafeFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QTabBar>
#include <QDate>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <cstring>
#include <utility>

namespace {

// The user's long time format without the time zone, which the status bar's
// clock has no room for.
QString longTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

// A clock panel of the status bar: its text keeps clear of its frame, where
// the glyphs drawn at a fractional scale may come out wider than measured.
class StatusPanel final : public QLabel {
public:
    using QLabel::QLabel;
    QSize sizeHint() const override { return QLabel::sizeHint() + QSize(2 * padding, 0); }
    QSize minimumSizeHint() const override { return QLabel::minimumSizeHint() + QSize(2 * padding, 0); }

private:
    static constexpr int padding = 3;
};

// Why a journal was not used or could not be put back, in the window's words.
QString recoveryReason(const SafeFile::Recovery& recovery)
{
    using Why = SafeFile::Recovery::Why;
    switch (recovery.why) {
    case Why::NotWritable:
        return QStringLiteral("Sie dürfen die Datei nicht schreiben");
    case Why::ChangedSince:
        return QStringLiteral("die Datei wurde seitdem geändert, und ihr vorheriger Inhalt konnte nicht gesichert "
                              "werden: %1")
            .arg(QString::fromLocal8Bit(std::strerror(recovery.error)));
    case Why::SystemError:
        return QString::fromLocal8Bit(std::strerror(recovery.error));
    case Why::NotAPlainFile:
        return QStringLiteral("sie ist keine gewöhnliche Datei");
    case Why::OthersMayHaveMadeIt:
        return QStringLiteral("ein anderer Benutzer könnte sie angelegt haben");
    case Why::NotAJournalOfThisFile:
        return QStringLiteral("sie ist keine vollständige Sicherung dieser Datei");
    case Why::TooLarge:
        return QStringLiteral("sie ist größer, als eine Sicherung dieser Datei sein kann");
    case Why::Nothing:
        break;
    }
    return QString();
}

// What the window tells when an access to a file undid a write that a crash
// had left unfinished, or found a file that looks like the journal of one.
QString recoveryText(const SafeFile::Recovery& recovery)
{
    switch (recovery.outcome) {
    case SafeFile::Recovery::Outcome::PutBack:
        return QStringLiteral("Ein Schreibvorgang in %1 wurde unterbrochen. Der vorherige Inhalt wurde "
                              "wiederhergestellt.")
            .arg(recovery.file);
    case SafeFile::Recovery::Outcome::Kept:
        return QStringLiteral("Ein Schreibvorgang in %1 wurde unterbrochen, und die Datei wurde seitdem geändert; "
                              "sie bleibt, wie sie ist. Der vorherige Inhalt wurde in %2 gesichert.")
            .arg(recovery.file, recovery.copy);
    case SafeFile::Recovery::Outcome::LeftAlone:
        return QStringLiteral("%1 wird nicht verwendet, um %2 wiederherzustellen: %3.")
            .arg(recovery.copy, recovery.file, recoveryReason(recovery));
    case SafeFile::Recovery::Outcome::NotPutBack:
        break;
    }
    return QStringLiteral("Ein Schreibvorgang in %1 wurde unterbrochen. Der vorherige Inhalt konnte nicht "
                          "wiederhergestellt werden (%2); die Sicherung liegt in %3.")
        .arg(recovery.file, recoveryReason(recovery), recovery.copy);
}

} // namespace

THauptForm::THauptForm(MessageBoxes& boxes, std::unique_ptr<GameRegistry> registry,
                       std::function<std::uint32_t()> totalPhysicalMemory, std::optional<QString> gameDir,
                       std::optional<QString> iniDir)
    : boxes_(boxes), events_(std::make_unique<EventRules>(boxes, this)), givenGameDir_(std::move(gameDir)),
      givenIniDir_(std::move(iniDir))
{
    state_.GameRegistry = std::move(registry);
    state_.totalPhysicalMemory = std::move(totalPhysicalMemory);

    setObjectName(QStringLiteral("HauptForm"));
    setWindowTitle(AppInfo::title);
    setWindowIcon(QIcon(QStringLiteral(":/brennwerk-editor.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    QMenuBar* MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    QAction* mmBeenden = MainMenu1->addAction(QStringLiteral("Beenden"));
    mmBeenden->setObjectName(QStringLiteral("mmBeenden"));
    QAction* mmInfo = MainMenu1->addAction(QStringLiteral("Info"));
    mmInfo->setObjectName(QStringLiteral("mmInfo"));
    connect(mmBeenden, &QAction::triggered, this, [this] { events_->guard([this] { mmBeendenClick(); }); });
    connect(mmInfo, &QAction::triggered, this, [this] { events_->guard([this] { mmInfoClick(); }); });

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(4, 4, 4, 4);
    PageControl1 = new QTabWidget(central);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    // Every tab stays in sight; the window grows to hold them.
    PageControl1->setUsesScrollButtons(false);
    layout->addWidget(PageControl1);
    setCentralWidget(central);

    bBeenden = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton), QStringLiteral("Beenden"), central);
    bBeenden->setObjectName(QStringLiteral("bBeenden"));
    events_->onClick(bBeenden, [this] { mmBeendenClick(); });
    central->installEventFilter(this);

    QStatusBar* StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    auto* panel0 = new QLabel(StatusBar1);
    panel0->setObjectName(QStringLiteral("StatusBar1Panel0"));
    clockTime_ = new StatusPanel(StatusBar1);
    clockTime_->setObjectName(QStringLiteral("StatusBar1Panel1"));
    clockDate_ = new StatusPanel(StatusBar1);
    clockDate_->setObjectName(QStringLiteral("StatusBar1Panel2"));
    for (QLabel* panel : {clockTime_, clockDate_}) {
        panel->setAlignment(Qt::AlignCenter);
        // Fusion's styled panel loses lines at fractional scales (1.25, 1.5).
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    }
    // The last panel stays clear of the window's edge.
    StatusBar1->setContentsMargins(0, 0, 3, 0);
    StatusBar1->addWidget(panel0, 1);
    StatusBar1->addPermanentWidget(clockTime_);
    StatusBar1->addPermanentWidget(clockDate_);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { events_->guard([this] { Timer1Timer(); }); });
    Timer1->start();

    buildPages();
    // Connected once the pages are in: adding them made the first current.
    connect(PageControl1, &QTabWidget::currentChanged, this, &THauptForm::pageBecameCurrent);
    input_ = new MainWindowInput(*this);

    // Told once the running handler is done: a box inside a file read would
    // stop a handler half-way.
    SafeFile::setRecoveryReport([this](const SafeFile::Recovery& recovery) {
        QTimer::singleShot(0, this, [this, text = recoveryText(recovery)] {
            // Over the renderer question while it is open, so that the keys
            // go back to it afterwards.
            QWidget* over = RendererForm && RendererForm->isVisible() ? static_cast<QWidget*>(RendererForm.get()) : this;
            boxes_.information(over, text, false);
        });
    });
}

THauptForm::~THauptForm()
{
    SafeFile::setRecoveryReport({});
    events_->stop();
    RendererForm.reset();
    // The pages use the shared state; they go first. The filters must not
    // see the page control while it is being taken apart.
    delete std::exchange(input_, nullptr);
    centralWidget()->removeEventFilter(this);
    disconnect(PageControl1, nullptr, this, nullptr);
    delete std::exchange(PageControl1, nullptr);
}

void THauptForm::buildPages()
{
    const PageServices services{state_, *events_, boxes_, bBeenden, PageControl1};
    // Every page but the System page, which is shown first, is built on its
    // first show or when the renderer question reaches into it. The window is
    // sized before that: a page not yet built tells the height it will need
    // (the weapon priority page, the tallest, does so from a few measures).
    tsSystem = new SystemPage(services);
    tsUser = new UserPage(services);
    tsMultiplayer = new MultiplayerPage(services);
    tsTastenbelegung = new KeyBindingsPage(services);
    tsRegistry = new RegistryPage(services);
    tsWeapponpriority = new WeaponPriorityPage(services);
    tsAliases = new AliasesPage(services);
    ts3DRender = new OtherRenderersPage(services);
    tsSystem->ensureBuilt();

    PageControl1->addTab(tsSystem, QStringLiteral("System"));
    PageControl1->addTab(tsUser, QStringLiteral("User"));
    PageControl1->addTab(tsMultiplayer, QStringLiteral("Multiplayer Game"));
    PageControl1->addTab(tsTastenbelegung, QStringLiteral("Tastenbelegung"));
    PageControl1->addTab(tsRegistry, QStringLiteral("Registry"));
    PageControl1->addTab(tsWeapponpriority, QStringLiteral("WeapponPriority"));
    PageControl1->addTab(tsAliases, QStringLiteral("Aliases"));
    PageControl1->addTab(ts3DRender, QStringLiteral("andere 3D-Renderer"));
    PageControl1->setCurrentWidget(tsSystem);
    // The quit button was made before the pages: Tab reaches it after them.
    putLastInTabOrder(bBeenden);
}

bool THauptForm::FormCreate()
{
    Timer1Timer();
    GameRegistry& registry = *state_.GameRegistry;
    registry.SetRootKey(RegistryRoot::LocalMachine);

    // A folder that holds none of the game's files is opened all the same:
    // its pages show their not-found texts.
    if (const GameFolderChoice choice = chooseGameFolder(givenGameDir_, registry); choice.folder) {
        state_.GameDir = choice.folder->dir;
    } else {
        const std::optional<QString> executable = boxes_.openGameExecutable(nullptr);
        if (!executable)
            return false;
        state_.GameDir = GamePaths::gameDirFromExecutable(*executable);
        boxes_.information(nullptr,
                           QStringLiteral("Du solltest mit Hilfe des Registry-Tabs den Pfad dauerhaft speichern!\n"
                                          "(Der Öffnen-Dialog wird dann nicht mehr angezeigt.)"),
                           false);
        PageControl1->setCurrentWidget(tsRegistry);
    }
    HavePath();
    return true;
}

void THauptForm::HavePath()
{
    // The files the game itself reads: a Linux build keeps them in the
    // player's home folder.
    const GamePaths::IniFiles files = GamePaths::gameIniFiles(state_.GameDir, givenIniDir_);
    state_.MainIniPath = files.main.path;
    state_.UserIniPath = files.user.path;
    state_.MainIni = std::make_unique<GameConfigStore>(state_.MainIniPath);
    state_.UserIni = std::make_unique<GameConfigStore>(state_.UserIniPath);
    D3DStrAssign();

    // A fixed window sized to its contents, in the middle of the screen. The
    // page control keeps room for every tab, the one the renderer question
    // may reveal included, which stays hidden until then.
    ensurePolished();
    PageControl1->setMinimumWidth(PageControl1->sizeHint().width());
    const int hidden = PageControl1->indexOf(ts3DRender);
    PageControl1->setTabVisible(hidden, false);
    // Qt's own keys and wheel skip disabled tabs, not hidden ones.
    PageControl1->setTabEnabled(hidden, false);
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
    // The first page's show handler runs once the window is on screen, not
    // inside show(): a box it raises must not run while Qt is still showing
    // the window's children.
    pageBecameCurrent(PageControl1->currentIndex());
}

void THauptForm::pageBecameCurrent(int index)
{
    // Pages made current before the window is shown (the Registry page after
    // the open-file dialog) run their handler when it is.
    if (!isVisible())
        return;
    auto* page = dynamic_cast<Page*>(PageControl1->widget(index));
    if (!page)
        return;
    page->runShowHandler();
    // The keys go on in the new page. A field left for the change of page
    // gave the focus to the window itself, where the keys would go nowhere.
    // (Qt hands the focus of the page left to a control of the new page
    // before its show handler runs; when the handler disables that control,
    // a ticked box of the Registry page, the page keeps the keys itself.)
    // The page's own last focus, else its first stop, takes the keys; the
    // tab bar keeps them.
    const QWidget* now = focusWidget();
    if ((now && (now == PageControl1->tabBar() || page->isAncestorOf(now))) || !page->isVisible())
        return;
    const auto usable = [page](const QWidget* w) { return w && w->isEnabled() && w->isVisibleTo(page); };
    QWidget* focus = page->focusWidget();
    // The last focus may since have been disabled or hidden by the page.
    if (!usable(focus))
        focus = nullptr;
    for (QWidget* w = page->nextInFocusChain(); !focus && w && w != page; w = w->nextInFocusChain())
        if (page->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && usable(w))
            focus = w;
    if (focus)
        focus->setFocus(Qt::OtherFocusReason);
}

void THauptForm::revealOtherRenderersPage()
{
    const int index = PageControl1->indexOf(ts3DRender);
    PageControl1->setTabEnabled(index, true);
    PageControl1->setTabVisible(index, true);
}

void THauptForm::stepPage(int direction, bool wrap)
{
    if (!leaveField())
        return;
    const int count = PageControl1->count();
    const int current = PageControl1->currentIndex();
    for (int step = 1; step < count; ++step) {
        int index = current + direction * step;
        if (wrap)
            index = (index % count + count) % count;
        else if (index < 0 || index >= count)
            return;
        if (PageControl1->isTabVisible(index) && PageControl1->isTabEnabled(index)) {
            PageControl1->setCurrentIndex(index);
            return;
        }
    }
}

QWidget* THauptForm::exitFieldWithFocus() const
{
    QWidget* focus = focusWidget();
    return focus && EventRules::hasExitHandler(focus) ? focus : nullptr;
}

bool THauptForm::leaveField()
{
    QWidget* field = exitFieldWithFocus();
    if (!field)
        return true;
    // The focus goes to the window itself, which belongs to no page; losing
    // it runs the field's exit handler. Qt records the window's new focus
    // widget before it tells the field, so a handler that keeps the user
    // gives the field the focus back and that stands, even when it showed a
    // modal box meanwhile: the window keeps its focus widget while another
    // window is active.
    setFocus(Qt::OtherFocusReason);
    return focusWidget() == this;
}

void THauptForm::D3DStrAssign()
{
    tsSystem->d3d->StrAssign();
}

void THauptForm::D3DActivate()
{
    tsSystem->d3d->Activate();
}

void THauptForm::Timer1Timer()
{
    const QLocale locale;
    clockTime_->setText(locale.toString(QTime::currentTime(), longTimeFormat(locale)));
    clockDate_->setText(locale.toString(QDate::currentDate(), QLocale::ShortFormat));
}

void THauptForm::mmBeendenClick()
{
    close();
}

void THauptForm::mmInfoClick()
{
    // Built on first use: most starts never open it.
    if (!InfoForm)
        InfoForm = std::make_unique<TInfoForm>(*this);
    InfoForm->show();
    InfoForm->raise();
    InfoForm->activateWindow();
}

void THauptForm::closeEvent(QCloseEvent* event)
{
    // The question must not keep the program alive.
    if (RendererForm)
        RendererForm->hide();
    if (InfoForm)
        InfoForm->hide();
    FormClose();
    event->accept();
}

void THauptForm::FormClose()
{
    Timer1->stop();
    state_.GameRegistry->CloseKey();
    if (state_.MainIni)
        state_.MainIni->release();
    if (state_.UserIni)
        state_.UserIni->release();
}

bool THauptForm::eventFilter(QObject* watched, QEvent* event)
{
    if (PageControl1 && watched == centralWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        placeQuitButton();
    return QMainWindow::eventFilter(watched, event);
}

void THauptForm::placeQuitButton()
{
    const QWidget* area = centralWidget();
    bBeenden->adjustSize();
    bBeenden->move(area->width() - bBeenden->width() - 14, area->height() - bBeenden->height() - 12);
    bBeenden->raise();
}
