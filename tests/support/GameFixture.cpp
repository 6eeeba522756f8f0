#include "support/GameFixture.h"

#include "app/HauptUnit.h"
#include "app/RendererUnit.h"
#include "app/Startup.h"
#include "support/RegistryText.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QRadioButton>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>
#include <QtTest/qtestspontaneevent.h>

namespace {

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = to + source.mid(from.size());
        if (it.fileInfo().isDir())
            QDir().mkpath(target);
        else if (!QFile::copy(source, target))
            qFatal("cannot copy %s", qPrintable(source));
        QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
}

} // namespace

GameFixture::GameFixture()
{
    if (!dir_.isValid())
        qFatal("no temporary folder");
    copyTree(QStringLiteral(BRENNWERK_SOURCE_DIR "/examples"), gameDir());
}

GameFixture::~GameFixture() = default;

QString GameFixture::gameDir() const { return dir_.filePath(QStringLiteral("UnrealTournament")); }
QString GameFixture::mainIniPath() const { return gameDir() + QStringLiteral("/System/UnrealTournament.ini"); }
QString GameFixture::userIniPath() const { return gameDir() + QStringLiteral("/System/User.ini"); }
QString GameFixture::registryPath() const { return dir_.filePath(QStringLiteral("system.reg")); }

void GameFixture::registerGameDir(const QString& folder) const
{
    writeBytes(registryPath(), registryText(installKeyText(folder)));
}

THauptForm* GameFixture::start(QStringList arguments)
{
    if (registryOption && !arguments.contains(QStringLiteral("--registry")))
        arguments = QStringList{QStringLiteral("--registry"), registryPath()} + arguments;
    arguments.prepend(QStringLiteral("brennwerk-editor"));
    const std::uint32_t memory = physicalMemory;
    StartResult result = startEditor(arguments, realBoxes ? static_cast<MessageBoxes&>(qtBoxes_) : boxes, out, err,
                                     [memory] { return memory; });
    exitCode_ = result.exitCode;
    window_ = std::move(result.window);
    // Qt's waits give up after 5 s; the test fails then, saying what it
    // waited for, and goes on with the window as it is.
    if (window_ && !QTest::qWaitForWindowExposed(window_.get()))
        QTest::qFail("the main window was not shown within 5 s of the start", __FILE__, __LINE__);
    if (window_ && closeRendererQuestion && window_->RendererForm) {
        window_->RendererForm->close();
        if (!QTest::qWaitForWindowActive(window_.get()))
            QTest::qFail("the main window did not become active within 5 s of closing the renderer question",
                         __FILE__, __LINE__);
    }
    return window_.get();
}

void click(QAbstractButton* button)
{
    const bool indicator = qobject_cast<QCheckBox*>(button) || qobject_cast<QRadioButton*>(button);
    const QPoint at = indicator ? QPoint(qMin(8, button->width() / 2), button->height() / 2) : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, {}, at);
}

void wheelOver(QWidget* widget, int notches)
{
    QWindow* window = widget->window()->windowHandle();
    if (!window)
        qFatal("no window for %s", qPrintable(widget->objectName()));
    const QPoint global = widget->mapToGlobal(widget->rect().center());
    const QPoint local = window->mapFromGlobal(global);
    for (int notch = 0; notch < qAbs(notches); ++notch) {
        QWheelEvent wheel(local, global, {}, QPoint(0, notches > 0 ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        // sendEvent would mark it as the program's own.
        QSpontaneKeyEvent::setSpontaneous(&wheel);
        QCoreApplication::instance()->notify(window, &wheel);
    }
}

void leaveBy(THauptForm* window, const QString& way)
{
    QWidget* focus = QApplication::focusWidget();
    QTabBar* tabs = window->PageControl1->tabBar();
    QMenuBar* menu = window->menuBar();
    const auto menuItem = [menu, window](const char* name) {
        return menu->actionGeometry(window->findChild<QAction*>(QString::fromLatin1(name))).center();
    };
    if (way == "tab click")
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
    else if (way == "menu Info")
        QTest::mouseClick(menu, Qt::LeftButton, {}, menuItem("mmInfo"));
    else if (way == "menu Beenden")
        QTest::mouseClick(menu, Qt::LeftButton, {}, menuItem("mmBeenden"));
    else if (way == "F10, Right, Return") // "Info" by keys
        for (const Qt::Key key : {Qt::Key_F10, Qt::Key_Right, Qt::Key_Return})
            QTest::keyClick(focus, key);
    else if (way == "Alt, Right, Return") // "Info" by keys
        for (const Qt::Key key : {Qt::Key_Alt, Qt::Key_Right, Qt::Key_Return})
            QTest::keyClick(focus, key, key == Qt::Key_Alt ? Qt::AltModifier : Qt::NoModifier);
    else if (way == "F10, Return") // "Beenden" by keys
        for (const Qt::Key key : {Qt::Key_F10, Qt::Key_Return})
            QTest::keyClick(focus, key);
    else if (way == "window close button") {
        // As the window system tells of a click on the frame's button.
        QCloseEvent close;
        QSpontaneKeyEvent::setSpontaneous(&close);
        QCoreApplication::instance()->notify(window->windowHandle(), &close);
    }
    else if (way == "quit button")
        QTest::mouseClick(window->bBeenden, Qt::LeftButton);
    else if (way == "Ctrl+Tab")
        QTest::keyClick(focus, Qt::Key_Tab, Qt::ControlModifier);
    else if (way == "Ctrl+Shift+Tab")
        QTest::keyClick(focus, Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    else if (way == "Ctrl+PgDown")
        QTest::keyClick(focus, Qt::Key_PageDown, Qt::ControlModifier);
    else if (way == "Ctrl+PgUp")
        QTest::keyClick(focus, Qt::Key_PageUp, Qt::ControlModifier);
    else if (way == "Right on the tab bar")
        QTest::keyClick(tabs, Qt::Key_Right);
    else if (way == "Tab")
        QTest::keyClick(focus, Qt::Key_Tab);
    else if (way == "Shift+Tab")
        QTest::keyClick(focus, Qt::Key_Backtab, Qt::ShiftModifier);
    else if (way == "wheel up" || way == "wheel down")
        wheelOver(tabs, way == "wheel up" ? 1 : -1);
    else
        qFatal("no way %s", qPrintable(way));
    QCoreApplication::processEvents();
}

void typeText(QWidget* widget, const QString& text)
{
    // QTest::keyClicks takes Latin-1 only.
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QApplication::sendEvent(widget, &release);
    }
}

void typeOver(QWidget* field, const QString& text, Selection selection)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    if (selection == Selection::DeleteFirst)
        QTest::keyClick(field, Qt::Key_Delete);
    typeText(field, text);
}

QByteArray withLine(const QByteArray& file, const QByteArray& oldLine, const QByteArray& newLine)
{
    const qsizetype at = file.indexOf(oldLine);
    if (at < 0)
        qFatal("line not found: %s", oldLine.constData());
    QByteArray copy = file;
    copy.replace(at, oldLine.size(), newLine);
    return copy;
}

QByteArray withValue(const QByteArray& file, const QByteArray& section, const QByteArray& key,
                     const std::optional<QByteArray>& value)
{
    const qsizetype header = file.indexOf("[" + section + "]");
    if (header < 0)
        qFatal("section not found: %s", section.constData());
    const qsizetype line = file.indexOf("\n" + key + "=", header) + 1;
    if (line <= 0)
        qFatal("key not found: %s", key.constData());
    const qsizetype end = file.indexOf('\n', line) + 1;
    QByteArray copy = file;
    if (value)
        copy.replace(line, end - line, key + "=" + *value + "\r\n");
    else
        copy.remove(line, end - line);
    return copy;
}

void GameFixture::showPage(const char* name) const
{
    window_->PageControl1->setCurrentWidget(child<QWidget>(name));
    QCoreApplication::processEvents();
}

void GameFixture::answerRendererQuestion(const char* button) const
{
    QTest::mouseClick(window_->RendererForm->findChild<QPushButton*>(button), Qt::LeftButton);
}
