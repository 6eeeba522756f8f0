#pragma once

#include <QObject>

class QEvent;
class QKeyEvent;
class QWidget;
class THauptForm;

// How the keyboard, the mouse and the wheel reach the main window, where
// Qt's own handling would break the program's rules:
//  - every way of changing pages (a click on a tab, Ctrl+Tab and
//    Ctrl+Shift+Tab, Ctrl+PgDown and Ctrl+PgUp, the arrow keys on the tab
//    bar, the wheel over it) goes through THauptForm::stepPage or leaves the
//    field first, so a hidden page is never reached and a field's exit
//    handler runs before anything else happens, and may keep the user there;
//  - a click on a control that the field's exit handler refused the focus
//    to does nothing more;
//  - the wheel changes only the control that has the focus: over any other
//    value control it does nothing, not even take the focus, whatever the
//    control's focus policy, as a player scrolling past a combo box expects;
//  - Tab into a group of radio buttons lands on the selected one, and Tab
//    from there leaves the group, so Space never selects another by surprise;
//  - Return and keypad Enter press the focused push button, as in a dialog;
//  - F10, or Alt pressed and released alone, opens the menu bar: Left and
//    Right move along it, Return, Enter or Space chooses, Escape, F10, Alt or
//    a click leaves it. The focus stays where it was meanwhile, so neither
//    leaving the menu again nor choosing an item (by key or by a click)
//    leaves a field or runs its exit handler: "Beenden" ends the program as
//    the window's close button does, "Info" opens the about box.
class MainWindowInput : public QObject {
public:
    explicit MainWindowInput(THauptForm& window);
    ~MainWindowInput() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool keyPress(QWidget* target, QEvent* event);
    bool wheel(QWidget* target, QEvent* event);
    bool wheelOverWindow(QEvent* event);
    bool mousePress(QWidget* target);
    bool menuKey(const QKeyEvent* key);
    void openMenu();
    void closeMenu();

    THauptForm& window_;
    bool menuOpen_ = false;
    // Alt went down with no other key since: its release opens the menu.
    bool altAlone_ = false;
};
