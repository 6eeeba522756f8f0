#include "controls/EventRules.h"

#include "controls/MaskedEdit.h"
#include "controls/MessageBoxes.h"
#include "platform/EditorError.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QRadioButton>
#include <QWidget>

#include <vector>

namespace {

// The handler a control runs on a change, whoever makes it. Lives as a child
// of the control so it goes with it.
class ControlHandler : public QObject {
public:
    ControlHandler(QObject* control, EventRules::Handler handler)
        : QObject(control), handler(std::move(handler))
    {
        setObjectName(QStringLiteral("brennwerk-handler"));
    }
    EventRules::Handler handler;
};

void remember(QObject* control, EventRules::Handler handler)
{
    new ControlHandler(control, std::move(handler));
}

void runHandler(QObject* control)
{
    const auto* holder = control->findChild<ControlHandler*>(QStringLiteral("brennwerk-handler"),
                                                               Qt::FindDirectChildrenOnly);
    if (holder && holder->handler)
        holder->handler();
}

const QString exitHandlerName = QStringLiteral("brennwerk-exit");

class FocusOutFilter : public QObject {
public:
    FocusOutFilter(QObject* parent, std::function<void()> onFocusOut)
        : QObject(parent), onFocusOut_(std::move(onFocusOut))
    {
        setObjectName(exitHandlerName);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // Another window becoming active (a message box, another program), a
        // popup or the menu bar does not move the focus away from the field
        // inside its own window, so the field is not left. Nor is a field
        // that loses the focus because it was disabled, most often with its
        // window while a window over it (the about box) is open.
        if (event->type() == QEvent::FocusOut && static_cast<QWidget*>(watched)->isEnabled()) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason
                && reason != Qt::MenuBarFocusReason) {
                // The field finishes its own focus-out first (a line edit drops
                // its selection there), so what the handler sets stays.
                watched->event(event);
                onFocusOut_();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> onFocusOut_;
};

// Qt's editable combo box picks the item whose text was typed when the user
// presses Return or leaves the box. Typing is no pick, so while those two
// events are handled the box's activations are not the user's picks.
class TypedTextFilter : public QObject {
public:
    explicit TypedTextFilter(QComboBox* combo) : QObject(combo) { combo->installEventFilter(this); }

    bool finishingTyping() const { return finishing_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (finishing_ || !finishesTyping(event))
            return false;
        // Delivered here, inside the flag; a key the box ignores still goes
        // on to its parents.
        finishing_ = true;
        watched->event(event);
        finishing_ = false;
        return true;
    }

private:
    static bool finishesTyping(const QEvent* event)
    {
        if (event->type() == QEvent::FocusOut)
            return true;
        if (event->type() != QEvent::KeyPress)
            return false;
        const int key = static_cast<const QKeyEvent*>(event)->key();
        return key == Qt::Key_Return || key == Qt::Key_Enter;
    }

    bool finishing_ = false;
};

} // namespace

EventRules::EventRules(MessageBoxes& boxes, QWidget* window) : boxes_(boxes), window_(window) {}

void EventRules::guard(const Handler& handler) const
{
    if (stopped_)
        return;
    try {
        handler();
    } catch (const EditorError& error) {
        boxes_.error(window_, errorText(error.message()));
    } catch (const std::exception& error) {
        boxes_.error(window_, errorText(QString::fromUtf8(error.what())));
    }
}

void EventRules::onChange(QLineEdit* edit, Handler handler) const
{
    remember(edit, handler);
    QObject::connect(edit, &QLineEdit::textEdited, edit,
                     [this, handler](const QString&) { guard(handler); });
}

void EventRules::onChange(MaskedEdit* edit, Handler handler) const
{
    remember(edit, handler);
    QObject::connect(edit, &MaskedEdit::valueEdited, edit, [this, handler] { guard(handler); });
}

void EventRules::onClick(QAbstractButton* button, Handler handler) const
{
    remember(button, handler);
    QObject::connect(button, &QAbstractButton::clicked, button, [this, handler] { guard(handler); });
}

void EventRules::onSelect(QRadioButton* button, Handler handler) const
{
    remember(button, handler);
    // Program-made selections block the signal, so toggled(true) is the
    // user's; clicking the selected button again emits no toggled.
    QObject::connect(button, &QAbstractButton::toggled, button, [this, handler](bool on) {
        if (on)
            guard(handler);
    });
}

void EventRules::onPick(QComboBox* combo, Handler handler) const
{
    remember(combo, handler);
    QObject::connect(combo, &QComboBox::textActivated, combo, [this, handler](const QString&) { guard(handler); });
    if (QLineEdit* edit = combo->lineEdit())
        QObject::connect(edit, &QLineEdit::textEdited, combo, [this, handler](const QString&) { guard(handler); });
}

void EventRules::onSelect(QComboBox* combo, Handler handler) const
{
    remember(combo, handler);
    const auto* typed = combo->isEditable() ? new TypedTextFilter(combo) : nullptr;
    QObject::connect(combo, &QComboBox::textActivated, combo, [this, handler, typed](const QString&) {
        if (!typed || !typed->finishingTyping())
            guard(handler);
    });
}

void EventRules::onExit(QWidget* field, Handler handler) const
{
    field->installEventFilter(new FocusOutFilter(field, [this, handler] { guard(handler); }));
}

bool EventRules::hasExitHandler(const QWidget* field)
{
    return field->findChild<QObject*>(exitHandlerName, Qt::FindDirectChildrenOnly) != nullptr;
}

void EventRules::setText(QLineEdit* edit, const QString& text)
{
    if (edit->text() == text)
        return;
    {
        const QSignalBlocker blocker(edit);
        edit->setText(text);
    }
    runHandler(edit);
}

void EventRules::setText(MaskedEdit* edit, const QString& text)
{
    if (edit->value() == text)
        return;
    edit->setValue(text);
    runHandler(edit);
}

void EventRules::setChecked(QAbstractButton* box, bool checked)
{
    if (box->isChecked() == checked)
        return;
    {
        const QSignalBlocker blocker(box);
        box->setChecked(checked);
    }
    runHandler(box);
}

void EventRules::select(QRadioButton* button)
{
    if (button->isChecked())
        return;
    {
        // The siblings it deselects emit toggled(false) only, which runs
        // nothing; block them all the same so no user-only signal fires.
        const QSignalBlocker blocker(button);
        std::vector<QSignalBlocker> siblings;
        if (QButtonGroup* group = button->group()) {
            for (QAbstractButton* other : group->buttons())
                if (other != button)
                    siblings.emplace_back(other);
        } else if (QWidget* parent = button->parentWidget()) {
            for (QRadioButton* other : parent->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly))
                if (other != button)
                    siblings.emplace_back(other);
        }
        button->setChecked(true);
    }
    runHandler(button);
}

void EventRules::deselect(QRadioButton* button)
{
    if (!button->isChecked())
        return;
    // An exclusive button refuses to be cleared; lift the rule for the moment.
    const QSignalBlocker blocker(button);
    QButtonGroup* group = button->group();
    if (group) {
        const bool exclusive = group->exclusive();
        group->setExclusive(false);
        button->setChecked(false);
        group->setExclusive(exclusive);
    } else {
        const bool autoExclusive = button->autoExclusive();
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(autoExclusive);
    }
}

void EventRules::setComboText(QComboBox* combo, const QString& text)
{
    const QSignalBlocker blocker(combo);
    if (combo->isEditable()) {
        // An editable box that loses the focus with a text differing from its
        // current item picks the item of that text (textActivated): tabbing
        // through a box would then run its handler for a text the program set.
        const int item = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (item >= 0)
            combo->setCurrentIndex(item);
        combo->setCurrentText(text);
    } else {
        combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly));
    }
}
