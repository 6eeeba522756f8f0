#pragma once

#include <QByteArray>
#include "app/WindowOverMain.h"

class QFrame;
class QLabel;
class QPushButton;
class THauptForm;

// The program's logo as stored in its resources: JPEG bytes.
QByteArray logoJpeg();

// The about box: logo, credits, name and version. Shown without waiting by
// "Info"; the main window stays disabled while it is open, and the box stays
// on top, so it behaves like a dialog.
class TInfoForm final : public WindowOverMain {
    Q_OBJECT

public:
    // The logo is decoded from `logo`; a picture that does not decode leaves
    // the frame empty.
    explicit TInfoForm(THauptForm& hauptForm, const QByteArray& logo = logoJpeg());

    void bInfoOKClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    // The two INI files the editor edits, a file not there yet marked so.
    void showIniPaths();

    QFrame* Bevel1 = nullptr;
    QLabel* Image1 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* LVersionInfo = nullptr;
    QLabel* LMainIni = nullptr;
    QLabel* LUserIni = nullptr;
    QPushButton* bInfoOK = nullptr;
};
