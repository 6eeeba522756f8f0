#include "app/HauptUnit.h"
#include "config/GameConfigStore.h"
#include "controls/EventRules.h"
#include "controls/MaskedEdit.h"
#include "pages/Page.h"
#include "platform/GameRegistry.h"
#include "support/PageTest.h"
#include "support/ProcessState.h"

#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QtMath>

// The pages are built on their first show, and each fits the window at
// every scale and in every language.
class PagesTest : public PageTest {
    Q_OBJECT

public:
    PagesTest() : PageTest({.registered = false}) {}

private Q_SLOTS:
    void pagesAreBuiltOnTheirFirstShowAndFitTheWindow_data();
    void pagesAreBuiltOnTheirFirstShowAndFitTheWindow();
    void pageBuiltAfterTheWindowWasSizedGrowsIt();
};

namespace {

// What a person would see cut in the window: a text wider or taller than the
// room its control gives it (a text in a sunken panel keeps the 2 pixels a
// line edit keeps inside its frame), a control that leaves its parent or
// touches the window's edge, and a frame that lost a line where the window
// is drawn at a fractional scale. Each as one line that says what and where.
QStringList cutInWindow(QWidget* window)
{
    QStringList cut;
    const auto check = [&cut](const QWidget* widget, const QString& text, const QFontMetrics& metrics,
                              const QRect& room) {
        if (text.isEmpty())
            return;
        int width = 0;
        const QStringList lines = text.split(QLatin1Char('\n'));
        for (const QString& line : lines)
            width = qMax(width, metrics.horizontalAdvance(line));
        const int height = metrics.height() * int(lines.size());
        if (width > room.width() || height > room.height() || !widget->rect().contains(room))
            cut << QStringLiteral("%1 \"%2\": needs %3 x %4, has %5 x %6")
                       .arg(widget->objectName(), text)
                       .arg(width)
                       .arg(height)
                       .arg(room.width())
                       .arg(room.height());
    };
    const QImage shot = window->grab().toImage();
    const qreal scale = shot.devicePixelRatio();
    const QColor background = window->palette().color(QPalette::Window);
    // Whether one of the device pixel lines around a frame's edge differs
    // from the window along most of that edge.
    const auto lineAt = [&](bool vertical, int at, int from, int to) {
        for (int line = at - 1; line <= at + 1; ++line) {
            int differing = 0;
            for (int i = from; i <= to; ++i) {
                const QColor pixel = vertical ? shot.pixelColor(line, i) : shot.pixelColor(i, line);
                differing += qAbs(pixel.lightness() - background.lightness()) > 12 ? 1 : 0;
            }
            if (differing > (to - from) / 2)
                return true;
        }
        return false;
    };

    // Controls that take a click: one lying over another takes the clicks
    // meant for it.
    QList<const QWidget*> clickable;
    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->isWindow())
            continue;
        const QWidget* parent = widget->parentWidget();
        if (qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QComboBox*>(widget)
            || qobject_cast<const QAbstractItemView*>(widget) || qobject_cast<const QTabBar*>(widget)
            || qobject_cast<const QMenuBar*>(widget)
            || (qobject_cast<const QLineEdit*>(widget) && !qobject_cast<const QComboBox*>(parent)))
            clickable << widget;
    }
    for (qsizetype i = 0; i < clickable.size(); ++i) {
        const QRect first(clickable[i]->mapTo(window, QPoint(0, 0)), clickable[i]->size());
        for (qsizetype j = i + 1; j < clickable.size(); ++j) {
            const QRect second(clickable[j]->mapTo(window, QPoint(0, 0)), clickable[j]->size());
            if (first.intersects(second) && !clickable[i]->isAncestorOf(clickable[j])
                && !clickable[j]->isAncestorOf(clickable[i]))
                cut << QStringLiteral("%1 and %2 lie over each other")
                           .arg(clickable[i]->objectName(), clickable[j]->objectName());
        }
    }

    for (const QWidget* widget : window->findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->isWindow())
            continue;
        const QStyle* style = widget->style();
        const QString name = widget->objectName();
        if (const auto* label = qobject_cast<const QLabel*>(widget)) {
            const int padding = label->frameShape() == QFrame::NoFrame ? 0 : label->frameWidth() + 2;
            const int margin = label->margin() + qMax(label->indent(), 0);
            const QRect room = label->frameShape() == QFrame::NoFrame
                ? label->contentsRect().adjusted(margin, 0, -margin, 0)
                : label->rect().adjusted(padding, label->frameWidth(), -padding, -label->frameWidth());
            check(label, label->text(), label->fontMetrics(), room);
        } else if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            option.icon = button->icon();
            option.iconSize = button->iconSize();
            QRect room;
            if (qobject_cast<const QCheckBox*>(button))
                room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
            else if (qobject_cast<const QRadioButton*>(button))
                room = style->subElementRect(QStyle::SE_RadioButtonContents, &option, button);
            else
                room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            if (!button->icon().isNull())
                room.adjust(button->iconSize().width() + 4, 0, 0, 0);
            check(button, button->text(), button->fontMetrics(), room);
        } else if (const auto* box = qobject_cast<const QGroupBox*>(widget)) {
            QStyleOptionGroupBox option;
            option.initFrom(box);
            option.text = box->title();
            option.lineWidth = 1;
            option.textAlignment = box->alignment();
            option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
            // The blanks around a title are the caption's own.
            check(box, box->title().trimmed(), box->fontMetrics(),
                  style->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box));
        } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
            // A line edit scrolls its text; only a field as wide as its digits
            // and the text of a combo box must show whole.
            if (qobject_cast<const MaskedEdit*>(edit) || qobject_cast<const QComboBox*>(edit->parentWidget()))
                check(edit, edit->text(), edit->fontMetrics(),
                      edit->contentsRect().marginsRemoved(edit->textMargins()).adjusted(2, 0, -2, 0));
        } else if (const auto* tabs = qobject_cast<const QTabBar*>(widget)) {
            for (int i = 0; i < tabs->count(); ++i)
                if (tabs->isTabVisible(i) && !tabs->rect().contains(tabs->tabRect(i)))
                    cut << QStringLiteral("tab \"%1\" lies outside its bar").arg(tabs->tabText(i));
        } else if (const auto* menu = qobject_cast<const QMenuBar*>(widget)) {
            for (QAction* action : menu->actions())
                if (!menu->rect().contains(menu->actionGeometry(action)))
                    cut << QStringLiteral("menu item \"%1\" lies outside its bar").arg(action->text());
        }

        const QWidget* parent = widget->parentWidget();
        const bool scrolled = qobject_cast<const QAbstractScrollArea*>(parent ? parent->parentWidget() : nullptr);
        if (!scrolled && !parent->rect().contains(widget->geometry()))
            cut << QStringLiteral("%1 lies outside %2").arg(name, parent->objectName());
        const auto* frame = qobject_cast<const QFrame*>(widget);
        const bool framed = (frame && frame->frameShape() != QFrame::NoFrame && frame->frameWidth() > 0)
            || qobject_cast<const QAbstractButton*>(widget) || qobject_cast<const QLineEdit*>(widget);
        const QRect inWindow(widget->mapTo(window, QPoint(0, 0)), widget->size());
        if (framed && !qobject_cast<const QLineEdit*>(parent)
            && !window->rect().adjusted(1, 1, -1, -1).contains(inWindow))
            cut << QStringLiteral("%1 touches the window's edge").arg(name);
        if (frame && frame->frameShape() != QFrame::NoFrame && frame->frameWidth() > 0 && !scrolled
            && frame->width() > 16 && frame->height() > 16) {
            const int left = qFloor(inWindow.left() * scale), top = qFloor(inWindow.top() * scale);
            const int right = qCeil((inWindow.right() + 1) * scale) - 1;
            const int bottom = qCeil((inWindow.bottom() + 1) * scale) - 1;
            const int inset = qCeil(8 * scale);
            const bool sides[] = {lineAt(true, left, top + inset, bottom - inset),
                                  lineAt(false, top, left + inset, right - inset),
                                  lineAt(true, right, top + inset, bottom - inset),
                                  lineAt(false, bottom, left + inset, right - inset)};
            const char* sideNames[] = {"left", "top", "right", "bottom"};
            for (int side = 0; side < 4; ++side)
                if (!sides[side])
                    cut << QStringLiteral("%1 lost its %2 line").arg(name, QLatin1String(sideNames[side]));
        }
    }
    return cut;
}

} // namespace

void PagesTest::pagesAreBuiltOnTheirFirstShowAndFitTheWindow_data()
{
    QTest::addColumn<QByteArray>("scale");
    QTest::addColumn<QLocale>("locale");
    // Values longer than any the game writes (a mod's weapon class, a cache
    // size of 90 digits), which the files may hold all the same.
    QTest::addColumn<bool>("longValues");
    for (const char* scale : {"1", "1.25", "1.5", "2"}) {
        for (const QLocale& locale : {QLocale(QLocale::German, QLocale::Germany),
                                      QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()})
            QTest::addRow("%s, %s", scale, qPrintable(locale.name())) << QByteArray(scale) << locale << false;
        QTest::addRow("%s, long values", scale) << QByteArray(scale) << QLocale(QLocale::German, QLocale::Germany)
                                                << true;
    }
}

void PagesTest::pagesAreBuiltOnTheirFirstShowAndFitTheWindow()
{
    QFETCH(QByteArray, scale);
    QFETCH(QLocale, locale);
    QFETCH(bool, longValues);
    const QByteArray ownScale = qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qgetenv("QT_SCALE_FACTOR") : "1";
    if (ownScale != scale) {
        // Qt takes the scale when the application starts: this row runs in
        // a run of this test of its own.
        QProcess run;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
        // The screen of a scaled desktop: the offscreen one is 800 pixels
        // wide, and Qt holds a window's tabs to the screen's width.
        QTemporaryDir screen;
        if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
            writeBytes(screen.filePath(QStringLiteral("screen.json")),
                       R"({"screens": [{"name": "desktop", "width": 3840, "height": 2160}]})");
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                               QStringLiteral("offscreen:configfile=") + screen.filePath(QStringLiteral("screen.json")));
        }
        run.setProcessEnvironment(environment);
        run.setProcessChannelMode(QProcess::MergedChannels);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("pagesAreBuiltOnTheirFirstShowAndFitTheWindow:") + QTest::currentDataTag()});
        QVERIFY(run.waitForFinished(120000));
        QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0, run.readAll().constData());
        return;
    }
    const DefaultLocale defaultLocale(locale);
    game->registerGameDir();
    if (longValues) {
        const QByteArray weapon = "SchwereWaffenErweiterung.ZielsuchenderRaketenwerferMitNachbrenner";
        QByteArray user = readBytes(game->userIniPath());
        for (const QByteArray key : {"WeaponPriority[0]", "WeaponPriority[12]", "WeaponPriority[13]"})
            user = withValue(user, "Engine.PlayerPawn", key, weapon);
        user = withValue(user, "DefaultPlayer", "Name", QByteArray(200, 'N'));
        writeBytes(game->userIniPath(), user);
        QByteArray main = readBytes(game->mainIniPath());
        main = withValue(main, "Engine.GameEngine", "CacheSizeMegs", QByteArray(90, '9'));
        main = withValue(main, "UBrowser.UBrowserIRCSystemPage", "NickName", QByteArray(200, 'K'));
        writeBytes(game->mainIniPath(), main);
    }
    start();
    QVERIFY2(cutInWindow(window).isEmpty(), qPrintable(cutInWindow(window).join(u'\n')));
    QTabWidget* tabs = window->PageControl1;
    window->revealOtherRenderersPage(); // as the renderer question does
    const QSize windowSize = window->size();
    QCOMPARE(window->minimumSize(), window->maximumSize());
    // Every tab in sight, the one the question reveals included.
    QVERIFY(tabs->tabBar()->width() >= tabs->tabBar()->sizeHint().width());

    const QStringList lazy{"tsUser",     "tsMultiplayer",     "tsTastenbelegung",
                           "tsRegistry", "tsWeapponpriority", "tsAliases",
                           "ts3DRender"};
    for (const QString& name : lazy) {
        const auto* page = tabs->findChild<Page*>(name);
        QVERIFY(!page->isBuilt());
        QVERIFY2(page->children().isEmpty(), qPrintable(name));
    }

    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < tabs->count(); ++i) {
            auto* page = static_cast<Page*>(tabs->widget(i));
            const QList<QWidget*> before = page->findChildren<QWidget*>();
            QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(i).center());
            QCoreApplication::processEvents();
            QCOMPARE(tabs->currentIndex(), i);
            QVERIFY(page->isBuilt());
            const QList<QWidget*> controls = page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
            QVERIFY2(!controls.isEmpty(), qPrintable(page->objectName()));
            // Built once: a second visit finds the very same controls.
            if (round == 1)
                QCOMPARE(page->findChildren<QWidget*>(), before);
            // Shown and laid out like the controls of a page built at start.
            for (const QWidget* control : controls) {
                if (control->testAttribute(Qt::WA_WState_ExplicitShowHide) && control->isHidden())
                    continue; // hidden on purpose by the page
                QVERIFY2(control->isVisible(), qPrintable(page->objectName() + "/" + control->objectName()));
                QVERIFY(page->rect().contains(control->geometry()));
            }
            QVERIFY2(page->width() >= page->minimumSizeHint().width()
                         && page->height() >= page->minimumSizeHint().height(),
                     qPrintable(page->objectName()));
            QVERIFY2(cutInWindow(window).isEmpty(), qPrintable(cutInWindow(window).join(u'\n')));
        }
    }
    // The window kept its size: it was measured to hold every page.
    QCOMPARE(window->size(), windowSize);
    QCOMPARE(window->minimumSize(), window->maximumSize());
}

namespace {
// A page that needs more room than the window it is shown in was given.
class LargePage final : public Page {
public:
    using Page::Page;
    int builds = 0;
    int shows = 0;
    bool controlVisibleAtShow = false;

protected:
    void build() override
    {
        ++builds;
        auto* control = new QPushButton(QStringLiteral("large"), this);
        control->setObjectName(QStringLiteral("large"));
        control->setMinimumSize(400, 300);
        (new QVBoxLayout(this))->addWidget(control);
    }
    void showHandler() override
    {
        ++shows;
        controlVisibleAtShow = findChild<QWidget*>(QStringLiteral("large"))->isVisible();
    }
};
} // namespace

void PagesTest::pageBuiltAfterTheWindowWasSizedGrowsIt()
{
    ScriptedMessageBoxes boxes;
    EditorState state;
    QWidget window;
    EventRules events(boxes, &window);
    auto* tabs = new QTabWidget(&window);
    (new QVBoxLayout(&window))->addWidget(tabs);
    auto* button = new QPushButton(&window);
    const PageServices services{state, events, boxes, button, tabs};
    auto* small = new QWidget;
    tabs->addTab(small, QStringLiteral("small"));
    auto* large = new LargePage(services, QStringLiteral("large page"));
    tabs->addTab(large, QStringLiteral("large"));
    // As the main window runs a page's show handler.
    QObject::connect(tabs, &QTabWidget::currentChanged, &window,
                     [tabs] {
                         if (auto* page = dynamic_cast<Page*>(tabs->currentWidget()))
                             page->runShowHandler();
                     });
    window.setFixedSize(window.sizeHint());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(large->builds, 0);

    tabs->setCurrentWidget(large);
    QCOMPARE(large->builds, 1);
    QCOMPARE(large->shows, 1);
    QVERIFY(large->controlVisibleAtShow);
    QVERIFY(large->width() >= 400 && large->height() >= 300);
    QVERIFY(window.width() >= 400 && window.height() >= 300);
    QCOMPARE(window.minimumSize(), window.maximumSize());

    tabs->setCurrentWidget(small);
    tabs->setCurrentWidget(large);
    QCOMPARE(large->builds, 1);
    QCOMPARE(large->shows, 2);
}

QTEST_MAIN(PagesTest)
#include "test_page.moc"
