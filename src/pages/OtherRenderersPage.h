#pragma once

#include "pages/Page.h"

#include <memory>

class MaskedEdit;
class QGroupBox;
class RendererGroup;

// "andere 3D-Renderer": the OpenGL group on the left, the 3dfx Glide group on
// the right, each with its refresh-rate field. The tab stays hidden until the
// renderer question names one of the two.
class OtherRenderersPage final : public Page {
public:
    explicit OtherRenderersPage(const PageServices& services);
    ~OtherRenderersPage() override;

    void ts3DRenderShow();
    void meRefreshRateGLExit();
    void meRefreshRate3dfxExit();

    // The renderer question's answer OpenGL or 3dfx Glide: unlock takes the
    // group's "(Read only)" away, activate enables its boxes, presets and
    // refresh rate. Each builds the page first: a start that is answered
    // Direct3D never builds it.
    // The key tables of the two groups; filled when the page is built, so
    // only tables of groups that exist are filled.
    void GlideStrAssign();
    void GLStrAssign();

    void unlockOpenGL();
    void activateOpenGL();
    void unlockGlide();
    void activateGlide();

    // Made when the page is built, with their key tables filled.
    std::unique_ptr<RendererGroup> openGL;
    std::unique_ptr<RendererGroup> glide;

protected:
    void build() override;
    void showHandler() override { ts3DRenderShow(); }

private:
    QGroupBox* GroupBox11 = nullptr; // OpenGL
    QGroupBox* GroupBox10 = nullptr; // 3dfx Glide
    MaskedEdit* meRefreshRateGL = nullptr;
    MaskedEdit* meRefreshRate3dfx = nullptr;

    void loadRefreshRate(MaskedEdit* field, const QString& section);
    void refreshRateExit(MaskedEdit* field, const QString& section);
};
