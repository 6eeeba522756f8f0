#include "app/HauptUnit.h"

#include "app/AppInfo.h"
#include "app/EventRules.h"
#include "app/InfoUnit.h"
#include "app/InstallPath.h"
#include "app/MessageBoxes.h"
#include "app/RendererUnit.h"
#include "config/GameConfigStore.h"
#include "pages/AliasesPage.h"
#include "pages/KeyBindingsPage.h"
#include "pages/MultiplayerPage.h"
#include "pages/OtherRenderersPage.h"
#include "pages/RegistryPage.h"
#include "pages/RendererGroup.h"
#include "pages/SystemPage.h"
#include "pages/UserPage.h"
#include "pages/WeaponPriorityPage.h"
#include "platform/EditorError.h"
#include "platform/GamePaths.h"
#include "platform/GameRegistry.h"
#include "platform/RegistryFile.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMouseEvent>
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

#include <utility>

std::optional<QString> installFolder(GameRegistry& registry)
{
    const InstallPath path = readInstallPath(registry);
    if (path.state != InstallPath::State::Found)
        return std::nullopt;
    return path.folder;
}

QString longTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return format.trimmed();
}

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
    PageControl1->tabBar()->installEventFilter(this);

    QStatusBar* StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    auto* panel0 = new QLabel(StatusBar1);
    panel0->setObjectName(QStringLiteral("StatusBar1Panel0"));
    clockTime_ = new QLabel(StatusBar1);
    clockTime_->setObjectName(QStringLiteral("StatusBar1Panel1"));
    clockDate_ = new QLabel(StatusBar1);
    clockDate_->setObjectName(QStringLiteral("StatusBar1Panel2"));
    for (QLabel* panel : {clockTime_, clockDate_}) {
        panel->setAlignment(Qt::AlignCenter);
        panel->setFrameShape(QFrame::StyledPanel);
    }
    StatusBar1->addWidget(panel0, 1);
    StatusBar1->addPermanentWidget(clockTime_);
    StatusBar1->addPermanentWidget(clockDate_);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] { events_->guard([this] { Timer1Timer(); }); });
    Timer1->start();

    buildPages();
}

THauptForm::~THauptForm()
{
    events_->stop();
    RendererForm.reset();
    // The pages use the shared state; they go first. The filters must not
    // see the page control while it is being taken apart.
    PageControl1->tabBar()->removeEventFilter(this);
    centralWidget()->removeEventFilter(this);
    delete std::exchange(PageControl1, nullptr);
}

void THauptForm::buildPages()
{
    const PageServices services{state_, *events_, boxes_, bBeenden, PageControl1};
    // Most pages are built on their first show. These three are built at
    // once: the System page is shown first, the renderer question at every
    // start reaches into the groups of the System and 3D-renderer pages, and
    // the weapon priority page, the tallest, decides the window's height.
    tsSystem = new SystemPage(services);
    tsUser = new UserPage(services);
    tsMultiplayer = new MultiplayerPage(services);
    tsTastenbelegung = new KeyBindingsPage(services);
    tsRegistry = new RegistryPage(services);
    tsWeapponpriority = new WeaponPriorityPage(services);
    tsAliases = new AliasesPage(services);
    ts3DRender = new OtherRenderersPage(services);
    for (Page* page : std::initializer_list<Page*>{tsSystem, tsWeapponpriority, ts3DRender})
        page->ensureBuilt();

    PageControl1->addTab(tsSystem, QStringLiteral("System"));
    PageControl1->addTab(tsUser, QStringLiteral("User"));
    PageControl1->addTab(tsMultiplayer, QStringLiteral("Multiplayer Game"));
    PageControl1->addTab(tsTastenbelegung, QStringLiteral("Tastenbelegung"));
    PageControl1->addTab(tsRegistry, QStringLiteral("Registry"));
    PageControl1->addTab(tsWeapponpriority, QStringLiteral("WeapponPriority"));
    PageControl1->addTab(tsAliases, QStringLiteral("Aliases"));
    PageControl1->addTab(ts3DRender, QStringLiteral("andere 3D-Renderer"));
    PageControl1->setCurrentWidget(tsSystem);
}

bool THauptForm::FormCreate()
{
    Timer1Timer();
    GameRegistry& registry = *state_.GameRegistry;
    registry.SetRootKey(RegistryRoot::LocalMachine);

    if (givenGameDir_) {
        state_.GameDir = *givenGameDir_;
    } else if (const std::optional<QString> folder = installFolder(registry)) {
        state_.GameDir = *folder;
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
    GlideStrAssign();
    GLStrAssign();

    // A fixed window sized to its contents, in the middle of the screen. The
    // page control keeps room for every tab, the one the renderer question
    // may reveal included, which stays hidden until then.
    ensurePolished();
    PageControl1->setMinimumWidth(PageControl1->sizeHint().width());
    PageControl1->setTabVisible(PageControl1->indexOf(ts3DRender), false);
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    show();
}

void THauptForm::D3DStrAssign()
{
    tsSystem->d3d->StrAssign();
}

void THauptForm::GlideStrAssign()
{
    ts3DRender->glide->StrAssign();
}

void THauptForm::GLStrAssign()
{
    ts3DRender->openGL->StrAssign();
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
    if (PageControl1 && watched == PageControl1->tabBar() && event->type() == QEvent::MouseButtonPress
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && leaveFieldBeforeSwitch())
        return true;
    if (PageControl1 && watched == centralWidget() && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        placeQuitButton();
    return QMainWindow::eventFilter(watched, event);
}

bool THauptForm::leaveFieldBeforeSwitch()
{
    // Qt would move the focus while it is already switching pages, too late
    // for an exit handler that keeps the user on the page. So the field is
    // left first, and the switch does not happen when its handler took the
    // focus back.
    QWidget* page = PageControl1->currentWidget();
    QWidget* focus = QApplication::focusWidget();
    if (!page || !focus || !page->isAncestorOf(focus))
        return false;
    focus->clearFocus();
    QWidget* after = QApplication::focusWidget();
    return after && page->isAncestorOf(after);
}

void THauptForm::placeQuitButton()
{
    const QWidget* area = centralWidget();
    bBeenden->adjustSize();
    bBeenden->move(area->width() - bBeenden->width() - 14, area->height() - bBeenden->height() - 12);
    bBeenden->raise();
}
