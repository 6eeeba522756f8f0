#include "app/WindowOverMain.h"

#include "app/HauptUnit.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

WindowOverMain::WindowOverMain(THauptForm& hauptForm, const QString& objectName, const QString& title,
                               Qt::WindowFlags buttons)
    : hauptForm_(hauptForm)
{
    setObjectName(objectName);
    setWindowTitle(title);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::WindowStaysOnTopHint | buttons);
    setAttribute(Qt::WA_QuitOnClose, false);
}

void WindowOverMain::centreOnScreen()
{
    adjustSize();
    setFixedSize(sizeHint());
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void WindowOverMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void WindowOverMain::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

void WindowOverMain::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && !(event->modifiers() & ~Qt::KeypadModifier)) {
        auto* button = qobject_cast<QPushButton*>(focusWidget());
        if (!button)
            button = defaultButton_;
        if (button && button->isEnabled())
            button->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void WindowOverMain::FormShow()
{
    mainFocus_ = hauptForm_.focusWidget();
    hauptForm_.setEnabled(false);
    if (QWindow* handle = windowHandle(); handle && hauptForm_.windowHandle())
        handle->setTransientParent(hauptForm_.windowHandle());
}

void WindowOverMain::FormClose()
{
    hauptForm_.setEnabled(true);
    // The field being edited when "Info" was chosen is still being edited.
    if (QWidget* focus = mainFocus_.data(); focus && focus->isVisible() && focus->isEnabled())
        focus->setFocus(Qt::ActiveWindowFocusReason);
    hauptForm_.activateWindow();
}
