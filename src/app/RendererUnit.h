#pragma once

#include <QWidget>

class EventRules;
class QLabel;
class QPushButton;
class THauptForm;

// The question at every start: which renderer is used? The answer unlocks
// that renderer's group and may switch the game's render device. It stays
// on top and keeps the main window disabled while it is open.
class TRendererForm final : public QWidget {
    Q_OBJECT

public:
    TRendererForm(THauptForm& hauptForm, const EventRules& events);

    void bDirect3DClick();
    void bOpenGLClick();
    void bGlideClick();
    void OpenGLActivate();
    void GlideActivate();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    // Asks to switch the game to the device when the file names another.
    void offerRenderDevice(const QString& device);

    THauptForm& hauptForm_;
    QLabel* Label1 = nullptr;
    QPushButton* bDirect3D = nullptr;
    QPushButton* bOpenGL = nullptr;
    QPushButton* bGlide = nullptr;
};
