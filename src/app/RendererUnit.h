#pragma once

#include "app/WindowOverMain.h"
#include "controls/EventRules.h"

class QLabel;
class QPushButton;
class THauptForm;

// The question at every start: which renderer is used? The answer unlocks
// that renderer's group and may switch the game's render device. It stays
// on top and keeps the main window disabled while it is open.
class TRendererForm final : public WindowOverMain {
    Q_OBJECT

public:
    explicit TRendererForm(THauptForm& hauptForm);

    void bDirect3DClick();
    void bOpenGLClick();
    void bGlideClick();
    void OpenGLActivate();
    void GlideActivate();

private:
    void FormCreate();
    // Asks to switch the game to the device when the file names another.
    void offerRenderDevice(const QString& device);

    // Its own rules: the error box of a failed answer belongs to the question,
    // which stays on top of the main window.
    EventRules events_;
    QLabel* Label1 = nullptr;
    QPushButton* bDirect3D = nullptr;
    QPushButton* bOpenGL = nullptr;
    QPushButton* bGlide = nullptr;
};
