#include "controls/FocusHeir.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

namespace {

// Space and Return there change no file: typing in a field runs at most its
// change handler, which writes nothing on a blank, and a list moves nothing.
bool actsOnNoKey(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QAbstractItemView*>(widget)
           || qobject_cast<const QPlainTextEdit*>(widget) || qobject_cast<const QTextEdit*>(widget);
}

bool canTakeKeys(const QWidget* widget)
{
    return widget->isEnabled() && widget->isVisible() && (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus
           && !widget->focusProxy();
}

// The nearest stop of the Tab order before or after `from` (the order begins
// at the window) that lies in `group` and acts on no key.
QWidget* nearestQuiet(const QWidget* from, const QWidget* group, bool forward)
{
    const QWidget* window = from->window();
    QWidget* widget = const_cast<QWidget*>(from);
    for (;;) {
        widget = forward ? widget->nextInFocusChain() : widget->previousInFocusChain();
        if (!widget || widget == from || widget == window)
            return nullptr;
        if (group->isAncestorOf(widget) && actsOnNoKey(widget) && canTakeKeys(widget))
            return widget;
    }
}

} // namespace

namespace FocusHeir {

bool focusGoesFrom(const QWidget* area)
{
    const QWidget* focus = area->window()->focusWidget();
    return focus && area->isAncestorOf(focus) && area->isVisible() && (!focus->isEnabled() || !focus->isVisible());
}

QWidget* heirOf(const QWidget* lost, QWidget* fallback)
{
    const QWidget* group = lost->parentWidget();
    if (!group)
        return fallback;
    if (QWidget* before = nearestQuiet(lost, group, false))
        return before;
    if (QWidget* after = nearestQuiet(lost, group, true))
        return after;
    return fallback;
}

QWidget* tabStopFrom(const QWidget* from, bool forward)
{
    const QWidget* window = from->window();
    QWidget* widget = const_cast<QWidget*>(from);
    for (;;) {
        widget = forward ? widget->nextInFocusChain() : widget->previousInFocusChain();
        if (!widget || widget == from)
            return nullptr;
        if (widget->window() == window && canTakeKeys(widget))
            return widget;
    }
}

} // namespace FocusHeir
