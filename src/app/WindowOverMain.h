#pragma once

#include <QPointer>
#include <QWidget>

class QPushButton;
class THauptForm;

// A window that stands on top of the main window and keeps it disabled
// while it is open, however it closes (the renderer question, the about
// box). A window of its own, not a child of the main window: disabling the
// main window would disable it too.
class WindowOverMain : public QWidget {
public:
    WindowOverMain(THauptForm& hauptForm, const QString& objectName, const QString& title, Qt::WindowFlags buttons);

protected:
    // Fixes the window's size to its contents and puts it in the middle of
    // the screen.
    void centreOnScreen();

    // Return presses the button that has the focus, else this one.
    void setDefaultButton(QPushButton* button) { defaultButton_ = button; }

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Escape closes the window as its close button does; Return presses a
    // button. Qt gives these keys to dialogs only, and this is a window.
    void keyPressEvent(QKeyEvent* event) override;

    THauptForm& hauptForm_;

private:
    QPushButton* defaultButton_ = nullptr;
    // Where the main window's keys were: disabling it takes the focus away,
    // and closing this window gives it back there.
    QPointer<QWidget> mainFocus_;

    void FormShow();
    void FormClose();
};
