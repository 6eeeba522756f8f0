#pragma once

#include <QWidget>

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

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    THauptForm& hauptForm_;

private:
    void FormShow();
    void FormClose();
};
