#include "pages/UserPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/IniNumbers.h"
#include "config/NotFoundDefault.h"
#include "controls/EventRules.h"
#include "controls/Fonts.h"
#include "controls/MaskedEdit.h"
#include "controls/TextColours.h"
#include "platform/EditorError.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <cstdint>
#include <optional>
#include <span>

namespace {

const QString nameKey = QStringLiteral("Name");
const QString teamKey = QStringLiteral("Team");
const QString classKey = QStringLiteral("Class");
const QString voiceKey = QStringLiteral("Voice");
const QString skinKey = QStringLiteral("Skin");
const QString faceKey = QStringLiteral("Face");
const QString desiredFovKey = QStringLiteral("DesiredFOV");
const QString defaultFovKey = QStringLiteral("DefaultFOV");
const QString dodgeKey = QStringLiteral("DodgeClickTime");
const QString beatenKey = QStringLiteral("HasBeatenGame");
const QString fovDecimals = QStringLiteral(".000000");

constexpr int noTeam = 255;

struct SkinRow {
    const char* item;
    const char* skin;
    const char* face;
    // The pick of "Venom" writes "SGirlSkins.Venm"; the lower-case spelling
    // is recognised as well so that older files still show their skin.
    const char* alsoRecognised = nullptr;

    bool recognises(const QString& stored) const
    {
        return stored == QLatin1String(skin) || (alsoRecognised && stored == QLatin1String(alsoRecognised));
    }
};

constexpr SkinRow maleSoldierSkins[] = {
    {"Marine", "SoldierSkins.blkt", "SoldierSkins.Malcom"},
    {"Metal Guard", "SoldierSkins.Gard", "SoldierSkins.Drake"},
    {"RawSteel", "SoldierSkins.RawS", "SoldierSkins.Arkon"},
    {"Soldier", "SoldierSkins.sldr", "SoldierSkins.Brock"},
    {"War Machine", "SoldierSkins.hkil", "SoldierSkins.Matrix"},
};
constexpr SkinRow maleCommandoSkins[] = {
    {"Commando", "CommandoSkins.cmdo", "CommandoSkins.Blake"},
    {"Mercenary", "CommandoSkins.daco", "CommandoSkins.Boris"},
    {"Necris", "CommandoSkins.goth", "CommandoSkins.Grail"},
};
constexpr SkinRow femaleSoldierSkins[] = {
    {"Marine", "SGirlSkins.fbth", "SGirlSkins.Annaka"},
    {"Metal Guard", "SGirlSkins.Garf", "SGirlSkins.Isis"},
    {"Soldier", "SGirlSkins.army", "SGirlSkins.Lauren"},
    {"Venom", "SGirlSkins.Venm", "SGirlSkins.Athena", "SGirlSkins.venm"},
    {"War Machine", "SGirlSkins.fwar", "SGirlSkins.Cathode"},
};
constexpr SkinRow femaleCommandoSkins[] = {
    {"Aphex", "FCommandoSkins.aphe", "FCommandoSkins.Indina"},
    {"Commando", "FCommandoSkins.cmdo", "FCommandoSkins.anna"},
    {"Mercenary", "FCommandoSkins.daco", "FCommandoSkins.jayce"},
    {"Necris", "FCommandoSkins.goth", "FCommandoSkins.Cryss"},
};
constexpr SkinRow bossSkin = {"", "BossSkins.Boss", "BossSkins.Xan"};

struct ModelRow {
    const char* item;
    const char* className;
    const char* voice;
    std::span<const SkinRow> skins;
};

// By position in the model box; the skin boxes follow the same positions.
constexpr ModelRow models[] = {
    {"Male Soldier", "BotPack.TMale2", "BotPack.VoiceMaleTwo", maleSoldierSkins},
    {"Male Commando", "BotPack.TMale1", "BotPack.VoiceMaleOne", maleCommandoSkins},
    {"Female Soldier", "BotPack.TFemale2", "BotPack.VoiceFemaleTwo", femaleSoldierSkins},
    {"Female Commando", "BotPack.TFemale1", "BotPack.VoiceFemaleOne", femaleCommandoSkins},
    {"Boss", "BotPack.TBoss", "BotPack.VoiceBoss", {}},
};
constexpr int bossModel = 4;

QComboBox* editableBox(const QString& name, const std::span<const SkinRow>& rows, QWidget* parent)
{
    auto* box = named(new QComboBox(parent), name);
    box->setEditable(true);
    // Typed text stays as typed: no completion, no new items.
    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    for (const SkinRow& row : rows)
        box->addItem(QString::fromLatin1(row.item));
    box->setCurrentIndex(-1);
    return box;
}

// The player's class, voice, skin and face, one key after the other: a
// failed write leaves the keys after it as they were.
void writeLook(GameConfigStore& userIni, const ModelRow& model, const SkinRow& skin)
{
    userIni.WriteString(GameIni::defaultPlayerSection, classKey, QLatin1String(model.className));
    userIni.WriteString(GameIni::defaultPlayerSection, voiceKey, QLatin1String(model.voice));
    userIni.WriteString(GameIni::defaultPlayerSection, skinKey, QLatin1String(skin.skin));
    userIni.WriteString(GameIni::defaultPlayerSection, faceKey, QLatin1String(skin.face));
}

} // namespace

UserPage::UserPage(const PageServices& services) : Page(services, QStringLiteral("tsUser"))
{
}

void UserPage::build()
{
    GroupBox2 = named(new QGroupBox(QStringLiteral(" Spieler "), this), QStringLiteral("GroupBox2"));
    LSpielername = named(new QLabel(QStringLiteral("Spielername"), GroupBox2), QStringLiteral("LSpielername"));
    eName = named(new QLineEdit(GroupBox2), QStringLiteral("eName"));
    eName->setToolTip(QStringLiteral("Name wird automatisch eingetragen!"));
    bNameEintragen = named(new QPushButton(QStringLiteral("Eintragen"), GroupBox2), QStringLiteral("bNameEintragen"));

    LTeamfarbe = named(new QLabel(QStringLiteral("Teamfarbe"), GroupBox2), QStringLiteral("LTeamfarbe"));
    // The five buttons share this frame as parent, which makes them one group.
    Bevel1 = named(new QFrame(GroupBox2), QStringLiteral("Bevel1"));
    // Fusion's styled panel loses its top and left lines at fractional
    // scales (1.25, 1.5); a plain sunken panel keeps all four.
    Bevel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    rbKeine = named(new QRadioButton(QStringLiteral("Keine"), Bevel1), QStringLiteral("rbKeine"));
    rbBlau = named(new QRadioButton(QStringLiteral("Blau"), Bevel1), QStringLiteral("rbBlau"));
    rbRot = named(new QRadioButton(QStringLiteral("Rot"), Bevel1), QStringLiteral("rbRot"));
    rbGold = named(new QRadioButton(QStringLiteral("Gold"), Bevel1), QStringLiteral("rbGold"));
    rbGruen = named(new QRadioButton(QStringLiteral("Grün"), Bevel1), QStringLiteral("rbGruen"));
    setTextColour(rbBlau, QColor(0, 0, 255));
    setTextColour(rbRot, QColor(255, 0, 0));
    // A deep yellow: the pure one cannot be read on a light background.
    setTextColour(rbGold, QColor(215, 175, 0));
    setTextColour(rbGruen, QColor(0, 128, 0));
    auto* teamLayout = new QHBoxLayout(Bevel1);
    for (QRadioButton* button : {rbKeine, rbBlau, rbRot, rbGold, rbGruen}) {
        setBold(button, false);
        // Room for the bold caption, so the line does not shift when it moves.
        button->setMinimumWidth(button->sizeHint().width()
                                + QFontMetrics(boldFont(button->font())).horizontalAdvance(button->text())
                                - button->fontMetrics().horizontalAdvance(button->text()));
        teamLayout->addWidget(button);
    }

    LModel = named(new QLabel(QStringLiteral("Model"), GroupBox2), QStringLiteral("LModel"));
    coboModel = named(new QComboBox(GroupBox2), QStringLiteral("coboModel"));
    coboModel->setEditable(true);
    coboModel->setInsertPolicy(QComboBox::NoInsert);
    coboModel->setCompleter(nullptr);
    for (const ModelRow& model : models)
        coboModel->addItem(QString::fromLatin1(model.item));
    coboModel->setCurrentIndex(-1);

    LSkin = named(new QLabel(QStringLiteral("Skin"), GroupBox2), QStringLiteral("LSkin"));
    coboSkinMS = editableBox(QStringLiteral("coboSkinMS"), models[0].skins, GroupBox2);
    coboSkinMC = editableBox(QStringLiteral("coboSkinMC"), models[1].skins, GroupBox2);
    coboSkinFS = editableBox(QStringLiteral("coboSkinFS"), models[2].skins, GroupBox2);
    coboSkinFC = editableBox(QStringLiteral("coboSkinFC"), models[3].skins, GroupBox2);
    skinBoxes_ = {coboSkinMS, coboSkinMC, coboSkinFS, coboSkinFC};
    // The skin boxes lie in one place; the line keeps its height while all
    // of them are hidden.
    for (QWidget* hidden : {static_cast<QWidget*>(LSkin), static_cast<QWidget*>(coboSkinMS),
                            static_cast<QWidget*>(coboSkinMC), static_cast<QWidget*>(coboSkinFS),
                            static_cast<QWidget*>(coboSkinFC)}) {
        QSizePolicy policy = hidden->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        hidden->setSizePolicy(policy);
        hidden->hide();
    }

    auto* playerLayout = new QGridLayout(GroupBox2);
    playerLayout->addWidget(LSpielername, 0, 0);
    playerLayout->addWidget(eName, 0, 1);
    playerLayout->addWidget(bNameEintragen, 0, 2);
    playerLayout->addWidget(LTeamfarbe, 1, 0);
    playerLayout->addWidget(Bevel1, 1, 1, 1, 2);
    playerLayout->addWidget(LModel, 2, 0);
    playerLayout->addWidget(coboModel, 2, 1);
    playerLayout->addWidget(LSkin, 3, 0);
    for (QComboBox* box : skinBoxes_)
        playerLayout->addWidget(box, 3, 1);

    GroupBox5 = named(new QGroupBox(QStringLiteral(" Xan spielen "), this), QStringLiteral("GroupBox5"));
    LXan = named(new QLabel(GroupBox5), QStringLiteral("LXan"));
    LXan->setAlignment(Qt::AlignHCenter);
    // Keeps its line when empty, so the button does not jump when it fills.
    LXan->setMinimumHeight(LXan->fontMetrics().height());
    bXanEintragen = named(new QPushButton(QStringLiteral("Eintragen"), GroupBox5), QStringLiteral("bXanEintragen"));
    auto* xanLayout = new QVBoxLayout(GroupBox5);
    xanLayout->addWidget(LXan);
    xanLayout->addWidget(bXanEintragen, 0, Qt::AlignHCenter);

    LFOV = named(new QLabel(QStringLiteral("Field Of View (FOV)"), this), QStringLiteral("LFOV"));
    meFOV = named(new MaskedEdit(3, this), QStringLiteral("meFOV"));
    LDodge = named(new QLabel(QStringLiteral("Dodge Click Time"), this), QStringLiteral("LDodge"));
    LDodge->hide();
    meDodge = named(new MaskedEdit(3, this), QStringLiteral("meDodge"));
    meDodge->hide();
    auto* valuesLayout = new QGridLayout;
    valuesLayout->addWidget(LFOV, 0, 0);
    valuesLayout->addWidget(meFOV, 0, 1);
    valuesLayout->addWidget(LDodge, 1, 0);
    valuesLayout->addWidget(meDodge, 1, 1);

    auto* left = new QVBoxLayout;
    left->addWidget(GroupBox2);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(GroupBox5);
    right->addLayout(valuesLayout);
    right->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addLayout(right);

    setTabChain({eName, bNameEintragen, rbKeine, rbBlau, rbRot, rbGold, rbGruen, coboModel, coboSkinMS, coboSkinMC,
                 coboSkinFS, coboSkinFC, bXanEintragen, meFOV, meDodge});

    const EventRules& events = services_.events;
    events.onChange(eName, [this] { eNameChange(); });
    events.onClick(bNameEintragen, [this] { bNameEintragenClick(); });
    events.onSelect(rbKeine, [this] { rbKeineClick(); });
    events.onSelect(rbBlau, [this] { rbBlauClick(); });
    events.onSelect(rbRot, [this] { rbRotClick(); });
    events.onSelect(rbGold, [this] { rbGoldClick(); });
    events.onSelect(rbGruen, [this] { rbGruenClick(); });
    events.onSelect(coboModel, [this] { coboModelSelect(); });
    events.onPick(coboSkinMS, [this] { coboSkinMSChange(); });
    events.onPick(coboSkinMC, [this] { coboSkinMCChange(); });
    events.onPick(coboSkinFS, [this] { coboSkinFSChange(); });
    events.onPick(coboSkinFC, [this] { coboSkinFCChange(); });
    events.onClick(bXanEintragen, [this] { bXanEintragenClick(); });
    events.onChange(meFOV, [this] { meFOVChange(); });
}

void UserPage::tsUserShow()
{
    setQuitButtonVisible(true);

    // "90.000000" shows as "90"; anything of seven characters or fewer as
    // nothing.
    QString fov = UserIni().ReadString(GameIni::playerPawnSection, desiredFovKey, QStringLiteral("0"));
    fov.chop(7);
    EventRules::setText(meFOV, fov);

    EventRules::setText(meDodge, UserIni().ReadString(GameIni::playerPawnSection, dodgeKey, QStringLiteral("0.0")));

    if (UserIni().ReadString(GameIni::ladderSection, beatenKey, NotFoundDefault::entryNotFound) == GameIni::trueText) {
        LXan->setText(QStringLiteral("Wert existiert schon!"));
        bXanEintragen->setEnabled(false);
    }

    EventRules::setText(eName, UserIni().ReadString(GameIni::defaultPlayerSection, nameKey, NotFoundDefault::entryNotFound));

    switch (UserIni().ReadInteger(GameIni::defaultPlayerSection, teamKey, noTeam)) {
    case 0:
        rbRotClick();
        break;
    case 1:
        rbBlauClick();
        break;
    case 2:
        rbGruenClick();
        break;
    case 3:
        rbGoldClick();
        break;
    case noTeam:
        rbKeineClick();
        break;
    default:
        break;
    }

    const QString className = UserIni().ReadString(GameIni::defaultPlayerSection, classKey, NotFoundDefault::entryNotFound);
    if (className == QLatin1String(models[0].className))
        Male2Select();
    else if (className == QLatin1String(models[1].className))
        Male1Select();
    else if (className == QLatin1String(models[2].className))
        Female2Select();
    else if (className == QLatin1String(models[3].className))
        Female1Select();
    else if (className == QLatin1String(models[bossModel].className))
        BossSelect();
}

void UserPage::eNameChange()
{
    bNameEintragen->setEnabled(eName->text()
                               != UserIni().ReadString(GameIni::defaultPlayerSection, nameKey, NotFoundDefault::entryNotFound));
}

void UserPage::bNameEintragenClick()
{
    UserIni().WriteString(GameIni::defaultPlayerSection, nameKey, eName->text());
}

void UserPage::teamClick(QRadioButton* own, int team)
{
    UserIni().WriteInteger(GameIni::defaultPlayerSection, teamKey, team);
    EventRules::select(own);
    for (QRadioButton* button : {rbKeine, rbBlau, rbRot, rbGold, rbGruen})
        setBold(button, button == own);
}

void UserPage::rbKeineClick() { teamClick(rbKeine, noTeam); }
void UserPage::rbRotClick() { teamClick(rbRot, 0); }
void UserPage::rbBlauClick() { teamClick(rbBlau, 1); }
void UserPage::rbGruenClick() { teamClick(rbGruen, 2); }
void UserPage::rbGoldClick() { teamClick(rbGold, 3); }

void UserPage::coboModelSelect()
{
    const QString text = coboModel->currentText();
    for (int model = 0; model < coboModel->count(); ++model) {
        if (text != coboModel->itemText(model))
            continue;
        if (model != bossModel) {
            // The class is stored only when one of the model's skins is picked.
            modelSelect(model);
            return;
        }
        writeLook(UserIni(), models[bossModel], bossSkin);
        BossSelect();
        return;
    }
}

void UserPage::modelSelect(int model)
{
    QComboBox* own = skinBoxes_[model];
    EventRules::setComboText(coboModel, coboModel->itemText(model));
    own->show();
    for (QComboBox* box : skinBoxes_)
        if (box != own)
            box->hide();
    LSkin->show();

    const QString stored = UserIni().ReadString(GameIni::defaultPlayerSection, skinKey, NotFoundDefault::entryNotFound);
    for (const SkinRow& row : models[model].skins) {
        if (row.recognises(stored)) {
            EventRules::setComboText(own, QString::fromLatin1(row.item));
            return;
        }
    }
}

void UserPage::Male2Select() { modelSelect(0); }
void UserPage::Male1Select() { modelSelect(1); }
void UserPage::Female2Select() { modelSelect(2); }
void UserPage::Female1Select() { modelSelect(3); }

void UserPage::BossSelect()
{
    EventRules::setComboText(coboModel, coboModel->itemText(bossModel));
    for (QComboBox* box : skinBoxes_)
        box->hide();
    LSkin->hide();
}

void UserPage::skinChange(int model)
{
    const QString text = skinBoxes_[model]->currentText();
    const ModelRow& own = models[model];
    for (const SkinRow& row : own.skins) {
        if (text != QLatin1String(row.item))
            continue;
        writeLook(UserIni(), own, row);
        return;
    }
}

void UserPage::coboSkinMSChange() { skinChange(0); }
void UserPage::coboSkinMCChange() { skinChange(1); }
void UserPage::coboSkinFSChange() { skinChange(2); }
void UserPage::coboSkinFCChange() { skinChange(3); }

void UserPage::bXanEintragenClick()
{
    UserIni().WriteString(GameIni::ladderSection, beatenKey, GameIni::trueText);
    LXan->setText(QStringLiteral("Wert eingetragen..."));
}

void UserPage::meFOVChange()
{
    const QString value = meFOV->value();
    if (value.isEmpty()) {
        // A change of its own: the nested run writes 0 before this one goes on.
        EventRules::setText(meFOV, QStringLiteral("0"));
    } else {
        const std::optional<std::int32_t> number = IniNumbers::toInt32(value);
        if (!number)
            throw EditorError(QStringLiteral("'%1' is not a valid integer value").arg(value));
        if (*number < 0)
            EventRules::setText(meFOV, QStringLiteral("0"));
    }
    UserIni().WriteString(GameIni::playerPawnSection, desiredFovKey, meFOV->value() + fovDecimals);
    UserIni().WriteString(GameIni::playerPawnSection, defaultFovKey, meFOV->value() + fovDecimals);
}
