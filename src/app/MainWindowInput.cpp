#include "app/MainWindowInput.h"

#include "app/HauptUnit.h"

#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabBar>
#include <QTabWidget>
#include <QWheelEvent>
#include <QWindow>

#include <utility>

namespace {

bool takesTabFocus(const QWidget* widget, const QWidget* window)
{
    return widget->window() == window && (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus
           && !widget->focusProxy() && widget->isVisibleTo(window) && widget->isEnabled();
}

// The radio buttons that select one of them: the button's group, or its
// auto-exclusive siblings.
QList<QAbstractButton*> radioGroup(QWidget* widget)
{
    auto* radio = qobject_cast<QRadioButton*>(widget);
    if (!radio)
        return {};
    if (QButtonGroup* group = radio->group())
        return group->exclusive() ? group->buttons() : QList<QAbstractButton*>{};
    if (!radio->autoExclusive() || !radio->parentWidget())
        return {};
    QList<QAbstractButton*> members;
    for (QRadioButton* other : radio->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
        if (other->autoExclusive())
            members << other;
    return members;
}

QAbstractButton* selectedIn(const QList<QAbstractButton*>& group)
{
    for (QAbstractButton* button : group)
        if (button->isChecked())
            return button;
    return nullptr;
}

// A control whose value the wheel would change.
QWidget* valueControlAt(QWidget* widget)
{
    for (QWidget* w = widget; w && !w->isWindow(); w = w->parentWidget()) {
        if (qobject_cast<QComboBox*>(w) || qobject_cast<QAbstractSpinBox*>(w))
            return w;
        if (qobject_cast<QAbstractSlider*>(w) && !qobject_cast<QScrollBar*>(w))
            return w;
    }
    return nullptr;
}

bool hasFocusWithin(const QWidget* widget)
{
    const QWidget* focus = QApplication::focusWidget();
    return focus && (focus == widget || widget->isAncestorOf(focus));
}

// A press on the tab bar changes pages without taking the focus from the
// field. (The menu bar takes no focus either, but a menu item is no place in
// the window: choosing one leaves no field.)
bool changesPages(const QWidget* target, const THauptForm& window)
{
    const QTabBar* tabs = window.PageControl1->tabBar();
    return target == tabs || tabs->isAncestorOf(target);
}

// Qt offers the focus to the widget clicked (or the parent that takes it)
// before anybody sees the press.
bool takesFocusOnClick(const QWidget* target)
{
    for (const QWidget* w = target; w; w = w->parentWidget()) {
        if (w->isEnabled() && (w->focusPolicy() & Qt::ClickFocus))
            return true;
        if (w->isWindow())
            break;
    }
    return false;
}

// The widget that Tab (forward) or Shift+Tab would give the focus to next,
// starting from `from`, within from's window; nullptr when there is none.
QWidget* nextTabStop(QWidget* from, bool forward)
{
    const QWidget* window = from->window();
    QWidget* widget = from;
    for (;;) {
        widget = forward ? widget->nextInFocusChain() : widget->previousInFocusChain();
        if (!widget || widget == from)
            return nullptr;
        if (takesTabFocus(widget, window))
            return widget;
    }
}

} // namespace

MainWindowInput::MainWindowInput(THauptForm& window) : QObject(&window), window_(window)
{
    // The whole application: key and wheel events go to the widget under the
    // focus or the pointer, which may be any of the window's children.
    qApp->installEventFilter(this);
}

MainWindowInput::~MainWindowInput()
{
    qApp->removeEventFilter(this);
}

bool MainWindowInput::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::WindowDeactivate && watched == &window_) {
        altAlone_ = false;
        closeMenu();
        return false;
    }
    // The window system's wheel reaches the window before Qt hands it to the
    // widget under the pointer, and Qt gives that widget the focus on the
    // way when its policy asks for it: here nothing has moved yet.
    if (type == QEvent::Wheel && watched == static_cast<QObject*>(window_.windowHandle()))
        return window_.isEnabled() && window_.PageControl1 && wheelOverWindow(event);
    // Qt's menu bar answers Alt with a keyboard mode of its own, which takes
    // the focus from the field and keeps it after the menu closes; here the
    // menu bar is opened by the release of Alt below and takes no focus.
    if (type == QEvent::ShortcutOverride) {
        const auto* target = qobject_cast<QWidget*>(watched);
        return static_cast<QKeyEvent*>(event)->key() == Qt::Key_Alt && target && target->window() == &window_;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease && type != QEvent::Wheel
        && type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick)
        return false;
    auto* target = qobject_cast<QWidget*>(watched);
    if (!target || target->window() != &window_ || !window_.isEnabled() || !window_.PageControl1)
        return false;
    switch (type) {
    case QEvent::KeyPress:
        return keyPress(target, event);
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Alt || !std::exchange(altAlone_, false))
            return false;
        if (menuOpen_)
            closeMenu();
        else
            openMenu();
        return true;
    }
    case QEvent::Wheel:
        return wheel(target, event);
    default:
        altAlone_ = false;
        closeMenu();
        return mousePress(target);
    }
}

bool MainWindowInput::keyPress(QWidget* target, QEvent* event)
{
    const auto* key = static_cast<QKeyEvent*>(event);
    altAlone_ = key->key() == Qt::Key_Alt && !(key->modifiers() & ~(Qt::AltModifier | Qt::KeypadModifier));
    if (menuOpen_)
        return menuKey(key);
    if (key->key() == Qt::Key_F10 && !(key->modifiers() & ~Qt::KeypadModifier)) {
        openMenu();
        return true;
    }
    // A push button of a window takes Return only in a dialog; here too.
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !(key->modifiers() & ~Qt::KeypadModifier)) {
        if (auto* button = qobject_cast<QPushButton*>(target); button && button->hasFocus()) {
            if (!key->isAutoRepeat() && button->isEnabled())
                button->click();
            return true;
        }
    }
    const bool control = key->modifiers() & Qt::ControlModifier;
    const bool onTabBar = target == window_.PageControl1->tabBar();
    int step = 0;
    if (control && key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier))
        step = 1;
    else if (control && (key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Tab))
        step = -1;
    else if (control && key->key() == Qt::Key_PageDown)
        step = 1;
    else if (control && key->key() == Qt::Key_PageUp)
        step = -1;
    if (step) {
        window_.stepPage(step, true);
        return true;
    }
    if (onTabBar && (key->key() == Qt::Key_Left || key->key() == Qt::Key_Right)) {
        const bool forward = (key->key() == Qt::Key_Right) != (target->layoutDirection() == Qt::RightToLeft);
        window_.stepPage(forward ? 1 : -1, false);
        return true;
    }

    if ((key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab)
        || (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
        return false;
    // Tab and Shift+Tab: only where a radio group is entered or left does the
    // next stop differ from Qt's.
    const bool forward = key->key() == Qt::Key_Tab && !(key->modifiers() & Qt::ShiftModifier);
    QWidget* from = QApplication::focusWidget();
    if (!from || from->window() != &window_)
        return false;
    const QList<QAbstractButton*> leaving = radioGroup(from);
    QWidget* next = nextTabStop(from, forward);
    // Past the group's own buttons; a window of nothing but them has no stop
    // outside it.
    for (int skipped = 0; next && leaving.contains(qobject_cast<QAbstractButton*>(next)); ++skipped)
        next = skipped < leaving.size() ? nextTabStop(next, forward) : nullptr;
    const QList<QAbstractButton*> entering = radioGroup(next);
    if (QAbstractButton* selected = selectedIn(entering); selected && takesTabFocus(selected, &window_))
        next = selected;
    else if (!entering.isEmpty() && !forward)
        // Backwards into a group without a selection: its first button, as
        // going forwards would land.
        for (QWidget* w = next; w && entering.contains(qobject_cast<QAbstractButton*>(w)) && w != from;
             w = nextTabStop(w, false))
            next = w;
    if (leaving.isEmpty() && entering.isEmpty())
        return false;
    if (next)
        next->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

bool MainWindowInput::wheel(QWidget* target, QEvent* event)
{
    if (target == window_.PageControl1->tabBar()) {
        const QPoint delta = static_cast<QWheelEvent*>(event)->angleDelta();
        const int amount = delta.y() ? delta.y() : delta.x();
        if (amount)
            window_.stepPage(amount > 0 ? -1 : 1, false);
        return true;
    }
    QWidget* control = valueControlAt(target);
    return control && !hasFocusWithin(control);
}

bool MainWindowInput::wheelOverWindow(QEvent* event)
{
    // A list that is open gets the wheel in a window of its own.
    if (QApplication::activePopupWidget())
        return false;
    QWidget* under = window_.childAt(static_cast<QWheelEvent*>(event)->position().toPoint());
    QWidget* control = under ? valueControlAt(under) : nullptr;
    return control && !hasFocusWithin(control);
}

void MainWindowInput::openMenu()
{
    QMenuBar* bar = window_.menuBar();
    for (QAction* action : bar->actions()) {
        if (action->isVisible() && action->isEnabled() && !action->isSeparator()) {
            menuOpen_ = true;
            bar->setActiveAction(action);
            return;
        }
    }
}

void MainWindowInput::closeMenu()
{
    if (!std::exchange(menuOpen_, false))
        return;
    QMenuBar* bar = window_.menuBar();
    bar->setActiveAction(nullptr);
    // Qt's menu bar takes a highlight set from outside for an open menu and
    // keeps that state, lighting items up under the pointer as if one were
    // open, until the pointer leaves it.
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(bar, &leave);
}

// The keys while the menu bar is open: they go to it, not to the focus.
bool MainWindowInput::menuKey(const QKeyEvent* key)
{
    QMenuBar* bar = window_.menuBar();
    QList<QAction*> items;
    for (QAction* action : bar->actions())
        if (action->isVisible() && action->isEnabled() && !action->isSeparator())
            items << action;
    const qsizetype current = qMax<qsizetype>(items.indexOf(bar->activeAction()), 0);
    switch (key->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right: {
        if (items.isEmpty())
            break;
        const bool forward = (key->key() == Qt::Key_Right) != (bar->layoutDirection() == Qt::RightToLeft);
        bar->setActiveAction(items[(current + (forward ? 1 : items.size() - 1)) % items.size()]);
        break;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: {
        QAction* chosen = items.value(current);
        closeMenu();
        // As a click on the item: the field being edited stays as it is.
        if (chosen)
            chosen->trigger();
        break;
    }
    case Qt::Key_Escape:
    case Qt::Key_F10:
        closeMenu();
        break;
    default:
        // Any other key does nothing while the menu is open; Alt closes it
        // on its release.
        break;
    }
    return true;
}

bool MainWindowInput::mousePress(QWidget* target)
{
    const QWidget* field = window_.exitFieldWithFocus();
    if (!field || target == field || field->isAncestorOf(target))
        return false;
    // The click already moved the focus, and the field's exit handler took
    // it back: the press must not go on to act on what was clicked.
    if (takesFocusOnClick(target))
        return true;
    if (changesPages(target, window_))
        return !window_.leaveField();
    return false;
}
