#include "pages/WeaponPriorityPage.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/ElidedLabel.h"
#include "controls/EventRules.h"
#include "controls/Fonts.h"
#include "controls/MaskedEdit.h"

#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <memory>

namespace {

const QString noWeapon = QStringLiteral("None");

// The game's weapon class names, written as they stand.
const QStringList weapons{
    QStringLiteral("Translocator"), QStringLiteral("ChainSaw"),      QStringLiteral("ImpactHammer"),
    QStringLiteral("Enforcer"),     QStringLiteral("DoubleEnforcer"), QStringLiteral("ShockRifle"),
    QStringLiteral("UT_BioRifle"),  QStringLiteral("PulseGun"),      QStringLiteral("SniperRifle"),
    QStringLiteral("Ripper"),       QStringLiteral("Minigun2"),      QStringLiteral("UT_FlakCannon"),
    QStringLiteral("UT_EightBall"), QStringLiteral("WarheadLauncher"),
};

// Grid columns of the group box: the two labels of a row, then the editing
// line, whose "." stays on the last row.
enum Column { NumberColumn, WeaponColumn, ButtonColumn, FieldColumn, DotColumn, ComboColumn };

QString priorityKey(int index)
{
    return QStringLiteral("WeaponPriority[%1]").arg(index);
}

const QString groupTitle = QStringLiteral(" Waffen-Priorität ");
constexpr int rowSpacing = 2;

// The group box inside the page, as both the page and its size hint lay it
// out.
void placeGroup(QWidget* page, QGroupBox* group)
{
    auto* layout = new QHBoxLayout(page);
    layout->addWidget(group, 0, Qt::AlignTop | Qt::AlignLeft);
    layout->addStretch(1);
}

// Every row is as high as the tallest control of the editing line.
int rowHeight(const QList<const QWidget*>& editingLine)
{
    int height = 0;
    for (const QWidget* control : editingLine)
        height = std::max(height, control->sizeHint().height());
    return height;
}

} // namespace

WeaponPriorityPage::WeaponPriorityPage(const PageServices& services)
    : Page(services, QStringLiteral("tsWeapponpriority"))
{
}

void WeaponPriorityPage::build()
{
    for (int i = 0; i < rowCount; ++i)
        PriorityTable << QString();

    GroupBox8 = named(new QGroupBox(groupTitle, this), QStringLiteral("GroupBox8"));
    rows_ = new QGridLayout(GroupBox8);
    rows_->setVerticalSpacing(rowSpacing);
    for (int n = 1; n <= rowCount; ++n) {
        auto* number = named(new QLabel(QStringLiteral("%1.").arg(n), GroupBox8), QStringLiteral("LPriority%1").arg(n));
        number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        auto* weapon = named(new ElidedLabel(GroupBox8), QStringLiteral("LWeappon%1").arg(n));
        // Room for the longest texts in bold, so the columns do not shift
        // when the bold row moves. A longer weapon (a mod's class) is
        // elided: the editing line beside the rows stays clear of the quit
        // button.
        const QFontMetrics bold(boldFont(weapon->font()));
        number->setMinimumWidth(bold.horizontalAdvance(QStringLiteral("14.")));
        weapon->setMinimumWidth(bold.horizontalAdvance(NotFoundDefault::entryNotFoundNoMark) + 8);
        weapon->setRoomFor(NotFoundDefault::entryNotFoundNoMark);
        LPriority << number;
        LWeappon << weapon;
        rows_->addWidget(number, n - 1, NumberColumn);
        rows_->addWidget(weapon, n - 1, WeaponColumn);
    }

    bPriorityEintragen = named(new QPushButton(QStringLiteral("<--"), GroupBox8), QStringLiteral("bPriorityEintragen"));
    mePriority = named(new MaskedEdit(2, GroupBox8), QStringLiteral("mePriority"));
    mePriority->setValue(QStringLiteral("14"));
    Label9 = named(new QLabel(QStringLiteral("."), GroupBox8), QStringLiteral("Label9"));
    setBold(Label9, true);
    coboWeappon = named(new QComboBox(GroupBox8), QStringLiteral("coboWeappon"));
    coboWeappon->setEditable(true);
    coboWeappon->addItems(weapons);
    // Typed text is written as typed: no completion, no new items.
    coboWeappon->setInsertPolicy(QComboBox::NoInsert);
    coboWeappon->setCompleter(nullptr);
    EventRules::setComboText(coboWeappon, QStringLiteral("Translocator"));
    rows_->addWidget(Label9, rowCount - 1, DotColumn);

    // Every row as high as the editing line, so the rows stay put when it
    // moves from one to the next.
    const int height = rowHeight({bPriorityEintragen, mePriority, coboWeappon});
    for (int row = 0; row < rowCount; ++row)
        rows_->setRowMinimumHeight(row, height);
    rows_->setColumnStretch(ComboColumn, 1);

    markRow(rowCount);

    placeGroup(this, GroupBox8);

    const EventRules& events = services_.events;
    events.onChange(mePriority, [this] { mePriorityChange(); });
    events.onClick(bPriorityEintragen, [this] { bPriorityEintragenClick(); });
}

QSize WeaponPriorityPage::sizeHint() const
{
    if (isBuilt())
        return Page::sizeHint();
    if (!unbuiltHint_.isValid())
        unbuiltHint_ = unbuiltSizeHint();
    return unbuiltHint_;
}

QSize WeaponPriorityPage::unbuiltSizeHint() const
{
    // Measured on stand-ins made inside the page, so that they take its
    // font and style: a line edit is as high as the digit field, and an
    // empty combo box as high as the list of weapons. The rows stand in one
    // block of their joint height.
    const std::unique_ptr<QWidget> page(new QWidget(const_cast<WeaponPriorityPage*>(this)));
    auto* group = new QGroupBox(groupTitle, page.get());
    auto* rows = new QGridLayout(group);
    rows->setVerticalSpacing(rowSpacing);
    const int height = rowHeight({new QPushButton(QStringLiteral("<--"), group), new QLineEdit(group),
                                  new QComboBox(group)});
    auto* block = new QWidget(group);
    block->setFixedHeight(rowCount * height + (rowCount - 1) * rowSpacing);
    rows->addWidget(block, 0, 0);
    placeGroup(page.get(), group);
    return page->sizeHint();
}

void WeaponPriorityPage::changeEvent(QEvent* event)
{
    Page::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        unbuiltHint_ = QSize();
        updateGeometry();
    }
}

void WeaponPriorityPage::GetPriority()
{
    for (int i = 0; i < rowCount; ++i) {
        const QString value = UserIni().ReadString(GameIni::playerPawnSection, priorityKey(i), NotFoundDefault::entryNotFoundNoMark);
        PriorityTable[i] = value == noWeapon ? QString() : value;
    }
}

void WeaponPriorityPage::tsWeapponpriorityShow()
{
    setQuitButtonVisible(true);
    GetPriority();
    for (int i = 0; i < rowCount; ++i)
        LWeappon[i]->setParts(QString(), PriorityTable[i], QString());
}

void WeaponPriorityPage::markRow(int n)
{
    for (QWidget* control : {static_cast<QWidget*>(bPriorityEintragen), static_cast<QWidget*>(mePriority),
                             static_cast<QWidget*>(coboWeappon)})
        rows_->removeWidget(control);
    rows_->addWidget(bPriorityEintragen, n - 1, ButtonColumn);
    rows_->addWidget(mePriority, n - 1, FieldColumn);
    rows_->addWidget(coboWeappon, n - 1, ComboColumn);
    for (int row = 1; row <= rowCount; ++row) {
        setBold(LPriority[row - 1], row == n);
        setBold(LWeappon[row - 1], row == n);
    }
}

void WeaponPriorityPage::mePriorityChange()
{
    const int typed = fieldNumber(mePriority);
    if (typed < 1 || typed > rowCount) {
        EventRules::setText(mePriority, QStringLiteral("1"));
        markRow(1);
    }
    const int n = fieldNumber(mePriority);
    if (n >= 1 && n <= rowCount)
        markRow(n);
}

void WeaponPriorityPage::bPriorityEintragenClick()
{
    const int n = fieldNumber(mePriority);
    if (n < 1 || n > rowCount)
        return;
    const QString weapon = coboWeappon->currentText();
    // Written first: after a failed write the row still shows what the file
    // holds.
    UserIni().WriteString(GameIni::playerPawnSection, priorityKey(n - 1), weapon);
    LWeappon[n - 1]->setParts(QString(), weapon, QString());
}
