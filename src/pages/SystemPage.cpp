#include "pages/SystemPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/ElidedLabel.h"
#include "controls/EventRules.h"
#include "controls/MaskedEdit.h"
#include "pages/RendererGroup.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

const QString cacheKey = QStringLiteral("CacheSizeMegs");
const QString localMapKey = QStringLiteral("LocalMap");
const QString logoMap = QStringLiteral("UT-Logo-Map.unr");
const QString nickKey = QStringLiteral("NickName");
const QString cacheLabel = QStringLiteral("Cache-Größe (in MB): ");
const QString introOff = QStringLiteral("Das Intro ist deaktiviert!");

// The Direct3D options, in the order of the key table.
const RendererGroupTable direct3D{
    GameIni::direct3DDevice,
    RendererGroupTable::Reading::TrueFalseOrNumber,
    QStringLiteral("rbQuality"),
    QStringLiteral("rbFast"),
    {6, 6, 6},
    {
        {"Translucency", "cbTranslucency", "Translucency", "[...]", true, true},
        {"VolumetricLighting", "cbVolumetricLighting", "VolumetricLighting",
         "Der Name sagt es. Deaktivierung bringt Performancegewinn!", true, false},
        {"ShinySurfaces", "cbShinySurfaces", "ShinySurfaces",
         "Ist für Spiegelungen etc. zuständig. Deaktivierung bringt Performancegewinn!", true, false},
        {"Coronas", "cbCoronas", "Coronas", "Lichtkranz um Lichtquellen.  Deaktivierung bringt Performancegewinn!",
         true, false},
        {"HighDetailActors", "cbHighDetailActors", "HighDetailActors",
         "Spieler werden mit mehr Details dargestellt. Deaktivierung bringt Performancegewinn!", true, false},
        {"UseAGPTextures", "cbUseAGPTextures", "AGPTextures", "[...]", true, false},
        {"UseMipmapping", "cbUseMipmapping", "Mipmapping", "[...]", true, true},
        {"UseTrilinear", "cbUseTrilinear", "Trilinear",
         "Es wird trilinearer anstatt bilinearem Filter verwendet. Bessere Bildqualität.", true, false},
        {"UseMultitexture", "cbUseMultitexture", "Multitexture", "[...]", true, true},
        {"UseGammaCorrection", "cbUseGammaCorrection", "GammaCorrection", "[...]", true, true},
        {"DetailTextures", "cbDetailTextures", "DetailTextures",
         "Zeigt Texturen mit mehr Details an. Deaktivierung bringt Performancegewinn!", true, false},
        {"UseVSync", "cbUseVSync", "VSync", "Synkronisiert die FPS mit der vertikalen Bildwiederholfrequenz.", false,
         true},
        {"UseTripleBuffering", "cbUseTripleBuffering", "TripleBuffering", "[...]", true, true},
        {"UsePrecache", "cbUsePrecache", "Precache", "[...]", true, true},
        {"Use32BitTextures", "cbUse32BitTextures", "32BitTextures",
         "Verwendet 32bit Texturen. Deaktivierung bringt Performancegewinn!", true, false},
        {"Use32BitZBuffer", "cbUse32BitZBuffer", "32BitZBuffer", "[...]", true, false},
        {"UseVertexFog", "cbUseVertexFog", "VertexFog", "[...]", false, true},
        {"UseVideoMemoryVB", "cbUseVideoMemoryVB", "VideoMemoryVB", nullptr, false, true},
    },
};

} // namespace

int recommendedCacheMegs(std::uint32_t physicalMemoryBytes)
{
    // 1398101 is 4/3 of a megabyte with the fraction dropped.
    return static_cast<int>(std::lround(static_cast<double>(physicalMemoryBytes) / 1398101.0));
}

SystemPage::SystemPage(const PageServices& services) : Page(services, QStringLiteral("tsSystem"))
{
}

void SystemPage::build()
{
    gbCache = named(new QGroupBox(QStringLiteral(" Cache-Größe "), this), QStringLiteral("gbCache"));
    // The file may hold a size of any length; the group keeps the room of
    // the longest text the page itself shows there.
    LCacheMom = named(new ElidedLabel(gbCache), QStringLiteral("LCacheMom"));
    LCacheMom->setParts(QStringLiteral("Cache-Größe (in MB):"), QString(), QString());
    LCacheMom->setRoomFor(cacheLabel + NotFoundDefault::absent);
    LCacheNeu = named(new QLabel(QStringLiteral("Neue Cache-Größe:"), gbCache), QStringLiteral("LCacheNeu"));
    LCacheHint = named(new QLabel(QStringLiteral("Ich empfehle 3/4 des RAMs!"), gbCache), QStringLiteral("LCacheHint"));
    meCache = named(new MaskedEdit(3, gbCache), QStringLiteral("meCache"));
    bCacheEintragen = named(new QPushButton(QStringLiteral("Eintragen"), gbCache), QStringLiteral("bCacheEintragen"));
    auto* cacheLayout = new QGridLayout(gbCache);
    cacheLayout->addWidget(LCacheMom, 0, 0, 1, 3);
    cacheLayout->addWidget(LCacheNeu, 1, 0);
    cacheLayout->addWidget(meCache, 1, 1);
    cacheLayout->addWidget(bCacheEintragen, 1, 2);
    cacheLayout->addWidget(LCacheHint, 2, 0, 1, 3);

    GroupBox4 = named(new QGroupBox(QStringLiteral(" Intro "), this), QStringLiteral("GroupBox4"));
    LNoIntro = named(new QLabel(QStringLiteral("Das Intro ausschalten!"), GroupBox4), QStringLiteral("LNoIntro"));
    LNoIntro->setAlignment(Qt::AlignHCenter);
    bNoIntro = named(new QPushButton(QStringLiteral("Eintragen"), GroupBox4), QStringLiteral("bNoIntro"));
    auto* introLayout = new QVBoxLayout(GroupBox4);
    introLayout->addWidget(LNoIntro);
    introLayout->addWidget(bNoIntro, 0, Qt::AlignHCenter);

    GroupBox9 = named(new QGroupBox(QStringLiteral(" IRC-Nick "), this), QStringLiteral("GroupBox9"));
    eIRCNick = named(new QLineEdit(GroupBox9), QStringLiteral("eIRCNick"));
    bIRCNickEintragen = named(new QPushButton(QStringLiteral("Eintragen"), GroupBox9), QStringLiteral("bIRCNickEintragen"));
    auto* nickLayout = new QHBoxLayout(GroupBox9);
    nickLayout->addWidget(eIRCNick, 1);
    nickLayout->addWidget(bIRCNickEintragen);

    // Locked until the renderer question unlocks Direct3D.
    GroupBox3 = named(new QGroupBox(QStringLiteral(" D3D-Einstellungen (Read only) "), this), QStringLiteral("GroupBox3"));
    GroupBox3->setEnabled(false);
    d3d = std::make_unique<RendererGroup>(direct3D, GroupBox3, services_);

    auto* left = new QVBoxLayout;
    left->addWidget(gbCache);
    left->addWidget(GroupBox4);
    left->addWidget(GroupBox9);
    left->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left);
    layout->addWidget(GroupBox3, 1);

    const EventRules& events = services_.events;
    events.onChange(meCache, [this] { meCacheChange(); });
    events.onClick(bCacheEintragen, [this] { bCacheEintragenClick(); });
    events.onClick(bNoIntro, [this] { bNoIntroClick(); });
    events.onChange(eIRCNick, [this] { eIRCNickChange(); });
    events.onClick(bIRCNickEintragen, [this] { bIRCNickEintragenClick(); });
}

SystemPage::~SystemPage() = default;

int SystemPage::GetRAM() const
{
    return recommendedCacheMegs(services_.state.totalPhysicalMemory());
}

void SystemPage::tsSystemShow()
{
    setQuitButtonVisible(true);
    // More than three digits (from about 1.3 GB of memory on) are shown as
    // computed: the field must show exactly what "Eintragen" would write.
    EventRules::setText(meCache, QString::number(GetRAM()));
    EventRules::setText(eIRCNick, MainIni().ReadString(GameIni::ircSection, nickKey, NotFoundDefault::entryNotFoundNoMark));
    LCacheMom->setParts(cacheLabel, MainIni().ReadString(GameIni::gameEngineSection, cacheKey, NotFoundDefault::absent),
                        QString());
    if (MainIni().ReadString(GameIni::urlSection, localMapKey, NotFoundDefault::entryNotFound) == logoMap) {
        LNoIntro->setText(introOff);
        bNoIntro->setEnabled(false);
    }
    d3d->GetValues();
    d3d->cbRefresh();
}

void SystemPage::meCacheChange()
{
    const QString typed = meCache->value();
    if (typed.isEmpty()) {
        EventRules::setText(meCache, QStringLiteral("0"));
        return;
    }
    bCacheEintragen->setEnabled(typed != MainIni().ReadString(GameIni::gameEngineSection, cacheKey, NotFoundDefault::absent));
}

void SystemPage::bCacheEintragenClick()
{
    MainIni().WriteString(GameIni::gameEngineSection, cacheKey, meCache->value());
    LCacheMom->setParts(cacheLabel, MainIni().ReadString(GameIni::gameEngineSection, cacheKey, NotFoundDefault::notFound),
                        QString());
    bCacheEintragen->setEnabled(false);
}

void SystemPage::bNoIntroClick()
{
    MainIni().WriteString(GameIni::urlSection, localMapKey, logoMap);
    LNoIntro->setText(introOff);
}

void SystemPage::eIRCNickChange()
{
    bIRCNickEintragen->setEnabled(eIRCNick->text()
                                  != MainIni().ReadString(GameIni::ircSection, nickKey, NotFoundDefault::entryNotFoundNoMark));
}

void SystemPage::bIRCNickEintragenClick()
{
    MainIni().WriteString(GameIni::ircSection, nickKey, eIRCNick->text());
}

void SystemPage::unlockD3D()
{
    d3d->unlock(QStringLiteral(" D3D-Einstellungen "));
}
