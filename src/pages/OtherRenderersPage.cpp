#include "pages/OtherRenderersPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/IniNumbers.h"
#include "controls/EventRules.h"
#include "controls/MaskedEdit.h"
#include "controls/MessageBoxes.h"
#include "pages/RendererGroup.h"
#include "platform/EditorError.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabWidget>

#include <optional>

namespace {

const QString refreshRateKey = QStringLiteral("RefreshRate");
const QString refreshRateNotice = QStringLiteral(
    "Bitte geben sie einen Wert zw. 60Hz und 120Hz ein! Eine niedrigere Bildwiederholfrequenz ist inakzeptabel "
    "und eine höhere wird ihr Monitor wohl kaum aushalten ;)");

const RendererGroupTable openGLTable{
    GameIni::openGLDevice,
    RendererGroupTable::Reading::TrueOrOne,
    QStringLiteral("rbQualityGL"),
    QStringLiteral("rbFastGL"),
    {6, 7},
    {
        {"DetailTextures", "cbDetailTexturesGL", "DetailTextures", nullptr, true, false},
        {"UseTrilinear", "cbUseTrilinearGL", "UseTrilinear", nullptr, true, false},
        {"UseS3TC", "cbUseS3TCGL", "UseS3TC", nullptr, true, true},
        {"UseTNT", "cbUseTNTGL", "UseTNT", nullptr, false, false,
         "Aktivieren sie diese Option nur wenn sie eine RivaTNT-Karte haben!"},
        {"UseMultiTexture", "cbUseMultiTextureGL", "UseMultiTexture", nullptr, true, true},
        {"Translucency", "cbTranslucencyGL", "Translucency", nullptr, true, true},
        {"VolumetricLighting", "cbVolumetricLightingGL", "VolumetricLighting", nullptr, true, false},
        {"ShinySurfaces", "cbShinySurfacesGL", "ShinySurfaces", nullptr, true, false},
        {"Coronas", "cbCoronasGL", "Coronas", nullptr, true, false},
        {"HighDetailActors", "cbHighDetailActorsGL", "HighDetailActors", nullptr, true, false},
        // The renderer reads a level here, 0 for off, and "True" as 0: it is
        // kept when on, else set to 16, which the renderer lowers to what the
        // card supports.
        {"MaxAnisotropy", "cbMaxAnisotropyGL", "MaxAnisotropy", nullptr, true, false, nullptr, "16"},
        {"AlwaysMipmap", "cbAlwaysMipmapGL", "AlwaysMipmap", nullptr, true, true},
        {"UsePrecache", "cbUsePrecacheGL", "UsePrecache", nullptr, true, false},
    },
};

const RendererGroupTable glideTable{
    GameIni::glideDevice,
    RendererGroupTable::Reading::TrueOrOne,
    QStringLiteral("rbQuality3dfx"),
    QStringLiteral("rbFast3dfx"),
    {4, 5},
    {
        {"Translucency", "cbTranslucency3dfx", "Translucency", nullptr, true, true},
        {"VolumetricLighting", "cbVolumetricLighting3dfx", "VolumetricLighting", nullptr, true, false},
        {"ShinySurfaces", "cbShinySurfaces3dfx", "ShinySurfaces", nullptr, true, false},
        {"Coronas", "cbCoronas3dfx", "Coronas", nullptr, true, false},
        {"HighDetailActors", "cbHighDetailActors3dfx", "HighDetailActors", nullptr, true, false},
        {"DetailTextures", "cbDetailTextures3dfx", "DetailTextures", nullptr, true, false},
        {"FastUglyRefresh", "cbFastUglyRefresh3dfx", "FastUglyRefresh", nullptr, false, false,
         "Es wird empfohlen, diese Option zu deaktivieren und nur zu Testzwecken einzuschalten ;)"},
        {"ScreenSmoothing", "cbScreenSmoothing3dfx", "ScreenSmoothing", nullptr, true, false},
        {"DisableVSync", "cbDisableVSync3dfx", "DisableVSync", nullptr, false, true},
    },
};

// The refresh rate the field holds: blanks before the number and ASCII white
// space after it do not count; anything else than a decimal fails.
std::optional<int> refreshRateOf(QStringView text)
{
    const auto isAsciiSpace = [](QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
    };
    while (text.startsWith(u' '))
        text = text.sliced(1);
    while (!text.isEmpty() && isAsciiSpace(text.back()))
        text.chop(1);
    return IniNumbers::decimalToInt32(text);
}

MaskedEdit* refreshRateRow(QGroupBox* group, RendererGroup& options, const QString& fieldName,
                           const QString& labelName, const QString& unitName)
{
    auto* label = new QLabel(QStringLiteral("RefreshRate:"), group);
    label->setObjectName(labelName);
    auto* field = new MaskedEdit(3, group);
    field->setObjectName(fieldName);
    field->setEnabled(false);
    auto* unit = new QLabel(QStringLiteral("Hz"), group);
    unit->setObjectName(unitName);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(field);
    row->addWidget(unit);
    row->addStretch(1);
    options.grid->addLayout(row, options.firstFreeRow(), 0);
    return field;
}

} // namespace

OtherRenderersPage::OtherRenderersPage(const PageServices& services)
    : Page(services, QStringLiteral("ts3DRender"))
{
}

void OtherRenderersPage::build()
{
    GroupBox11 = new QGroupBox(QStringLiteral(" OpenGL (Read only) "), this);
    GroupBox11->setObjectName(QStringLiteral("GroupBox11"));
    GroupBox11->setEnabled(false);
    openGL = std::make_unique<RendererGroup>(openGLTable, GroupBox11, services_);
    meRefreshRateGL = refreshRateRow(GroupBox11, *openGL, QStringLiteral("meRefreshRateGL"),
                                     QStringLiteral("Label3"), QStringLiteral("Label6"));

    GroupBox10 = new QGroupBox(QStringLiteral(" 3dfx Glide (Read only) "), this);
    GroupBox10->setObjectName(QStringLiteral("GroupBox10"));
    GroupBox10->setEnabled(false);
    glide = std::make_unique<RendererGroup>(glideTable, GroupBox10, services_);
    meRefreshRate3dfx = refreshRateRow(GroupBox10, *glide, QStringLiteral("meRefreshRate3dfx"),
                                       QStringLiteral("Label7"), QStringLiteral("Label8"));

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(GroupBox11, 1);
    layout->addWidget(GroupBox10, 1);

    // Left group before right, each top to bottom with its refresh rate.
    setTabChain(openGL->tabOrder(meRefreshRateGL) + glide->tabOrder(meRefreshRate3dfx));

    services_.events.onExit(meRefreshRateGL, [this] { meRefreshRateGLExit(); });
    services_.events.onExit(meRefreshRate3dfx, [this] { meRefreshRate3dfxExit(); });

    // The key tables come with the groups: the page is built when first
    // needed, which may be long after start-up.
    GlideStrAssign();
    GLStrAssign();
}

void OtherRenderersPage::GlideStrAssign()
{
    glide->StrAssign();
}

void OtherRenderersPage::GLStrAssign()
{
    openGL->StrAssign();
}

OtherRenderersPage::~OtherRenderersPage() = default;

void OtherRenderersPage::ts3DRenderShow()
{
    glide->GetValues();
    glide->cbRefresh();
    loadRefreshRate(meRefreshRate3dfx, GameIni::glideDevice);
    openGL->GetValues();
    openGL->cbRefresh();
    loadRefreshRate(meRefreshRateGL, GameIni::openGLDevice);
}

void OtherRenderersPage::loadRefreshRate(MaskedEdit* field, const QString& section)
{
    QString rate = MainIni().ReadString(section, refreshRateKey, QStringLiteral("0"));
    // "60Hz" shows as "60".
    if (rate.size() > 3)
        rate.chop(2);
    EventRules::setText(field, rate);
}

void OtherRenderersPage::meRefreshRateGLExit()
{
    refreshRateExit(meRefreshRateGL, GameIni::openGLDevice);
}

void OtherRenderersPage::meRefreshRate3dfxExit()
{
    refreshRateExit(meRefreshRate3dfx, GameIni::glideDevice);
}

void OtherRenderersPage::refreshRateExit(MaskedEdit* field, const QString& section)
{
    const std::optional<int> rate = refreshRateOf(field->value());
    if (!rate)
        throw EditorError(QStringLiteral("'%1' is not a valid integer value").arg(field->value()));
    if (*rate < 60 || *rate > 120) {
        services_.PageControl1->setCurrentWidget(this);
        EventRules::setText(field, QStringLiteral("60"));
        field->setFocus();
        services_.boxes.notice(window(), refreshRateNotice);
        field->selectAll();
    }
    MainIni().WriteString(section, refreshRateKey, field->value() + QStringLiteral("Hz"));
}

void OtherRenderersPage::unlockOpenGL()
{
    ensureBuilt();
    openGL->unlock(QStringLiteral(" OpenGL "));
}

void OtherRenderersPage::activateOpenGL()
{
    ensureBuilt();
    openGL->Activate();
    meRefreshRateGL->setEnabled(true);
}

void OtherRenderersPage::unlockGlide()
{
    ensureBuilt();
    glide->unlock(QStringLiteral(" 3dfx Glide "));
}

void OtherRenderersPage::activateGlide()
{
    ensureBuilt();
    glide->Activate();
    meRefreshRate3dfx->setEnabled(true);
}
