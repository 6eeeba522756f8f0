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

    QGroupBox* GroupBox11 = nullptr; // OpenGL
    QGroupBox* GroupBox10 = nullptr; // 3dfx Glide
    std::unique_ptr<RendererGroup> openGL;
    std::unique_ptr<RendererGroup> glide;
    MaskedEdit* meRefreshRateGL = nullptr;
    MaskedEdit* meRefreshRate3dfx = nullptr;

protected:
    void build() override;
    void showHandler() override { ts3DRenderShow(); }

private:
    void loadRefreshRate(MaskedEdit* field, const QString& section);
    void refreshRateExit(MaskedEdit* field, const QString& section);
};
