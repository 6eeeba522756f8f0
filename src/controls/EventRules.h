#pragma once

#include <QString>

#include <functional>

class MessageBoxes;
class QAbstractButton;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QWidget;
class MaskedEdit;

// How user actions and program-made changes reach the handlers.
//
// A change the program makes to a control runs the control's handler exactly
// as the user's change does, but only when the state really changes; a combo
// box's text set by the program runs nothing. Qt's signals do not make that
// distinction, so:
//  - handlers are connected to user-only signals through the on...() calls,
//    each wrapped in guard(), the one place where failures are caught;
//  - program-made changes go through the set...() calls, which change the
//    control with its signals blocked and call its handler directly. A failure
//    in that handler therefore travels up through the handler that made the
//    change and ends it too.
class EventRules {
public:
    using Handler = std::function<void()>;

    EventRules(MessageBoxes& boxes, QWidget* window);

    // Runs an entry from Qt; a failure is shown as the error box.
    void guard(const Handler& handler) const;

    // From now on no entry from Qt runs a handler: the window is being taken
    // apart, and a field that loses the focus then has not been left.
    void stop() { stopped_ = true; }

    // User-only connections. Each records the handler on the control for the
    // set...() calls below.
    void onChange(QLineEdit* edit, Handler handler) const;      // text edited
    void onChange(MaskedEdit* edit, Handler handler) const;     // text edited
    void onClick(QAbstractButton* button, Handler handler) const; // push button, check box
    void onSelect(QRadioButton* button, Handler handler) const; // became selected
    void onPick(QComboBox* combo, Handler handler) const;       // picked or typed
    void onSelect(QComboBox* combo, Handler handler) const;     // picked only; typing runs nothing
    void onExit(QWidget* field, Handler handler) const;         // lost the focus

    // Whether the field runs a handler when it loses the focus.
    static bool hasExitHandler(const QWidget* field);

    // Program-made changes; each runs the control's handler on a real change.
    static void setText(QLineEdit* edit, const QString& text);
    static void setText(MaskedEdit* edit, const QString& text);
    static void setChecked(QAbstractButton* box, bool checked);
    static void select(QRadioButton* button);
    // Clears a radio button; runs nothing (handlers run on becoming selected).
    static void deselect(QRadioButton* button);
    // Runs nothing. An editable box's current item moves to the item with
    // that text, if there is one.
    static void setComboText(QComboBox* combo, const QString& text);

private:
    MessageBoxes& boxes_;
    QWidget* window_;
    bool stopped_ = false;
};
