#include "pages/RendererGroup.h"

#include "config/GameConfigStore.h"
#include "config/GameIniNames.h"
#include "config/NotFoundDefault.h"
#include "controls/EventRules.h"
#include "controls/MessageBoxes.h"
#include "pages/Page.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLocale>
#include <QRadioButton>

#include <algorithm>
#include <cmath>

namespace {
const QString levelOffText = QStringLiteral("0");

// A level the render device uses: a number above 0 ("16", "4.000000").
bool isLevel(const QString& value)
{
    bool ok = false;
    const double level = QLocale::c().toDouble(value, &ok);
    return ok && std::isfinite(level) && level > 0;
}
} // namespace

RendererGroup::RendererGroup(const RendererGroupTable& table, QGroupBox* groupBox, const PageServices& services)
    : table_(table), groupBox_(groupBox), services_(services)
{
    grid = new QGridLayout(groupBox);
    int index = 0;
    for (int column = 0; column < table.columns.size(); ++column) {
        for (int row = 0; row < table.columns[column]; ++row, ++index) {
            const RendererOption& option = table.options.at(index);
            auto* box = new QCheckBox(QString::fromUtf8(option.caption), groupBox);
            box->setObjectName(QString::fromLatin1(option.box));
            if (option.hint)
                box->setToolTip(QString::fromUtf8(option.hint));
            box->setEnabled(false);
            services.events.onClick(box, [this, index] { click(index); });
            grid->addWidget(box, row, column);
            boxes_.append(box);
        }
    }
    values_ = QList<bool>(boxes_.size(), false);

    // The two presets are the only radio buttons of the group box, so
    // selecting one deselects the other.
    rbQuality = new QRadioButton(QStringLiteral("Quality Settings"), groupBox);
    rbQuality->setObjectName(table.qualityName);
    rbFast = new QRadioButton(QStringLiteral("Fast Settings"), groupBox);
    rbFast->setObjectName(table.fastName);
    const int presetRow = *std::max_element(table.columns.begin(), table.columns.end());
    grid->addWidget(rbQuality, presetRow, 0);
    grid->addWidget(rbFast, presetRow, 1);
    for (QRadioButton* button : {rbQuality, rbFast})
        button->setEnabled(false);
    services.events.onSelect(rbQuality, [this] { preset(true); });
    services.events.onSelect(rbFast, [this] { preset(false); });
    grid->setRowStretch(presetRow + 1, 1);
}

QList<QWidget*> RendererGroup::tabOrder(QWidget* footOfFirstColumn) const
{
    QList<QWidget*> order;
    for (qsizetype i = 0; i < boxes_.size(); ++i) {
        order << boxes_[i];
        if (i + 1 == table_.columns.value(0))
            order << footOfFirstColumn;
    }
    order << rbQuality << rbFast;
    return order;
}

void RendererGroup::StrAssign()
{
    keys_.clear();
    for (const RendererOption& option : table_.options)
        keys_.append(QString::fromLatin1(option.key));
}

void RendererGroup::GetValues()
{
    for (int i = 0; i < keys_.size(); ++i) {
        const QString value = services_.state.mainIni().ReadString(table_.section, keys_[i], NotFoundDefault::entryNotFound);
        if (table_.options[i].levelOn) {
            values_[i] = value == GameIni::trueText || isLevel(value);
            continue;
        }
        switch (table_.reading) {
        case RendererGroupTable::Reading::TrueFalseOrNumber:
            if (value == GameIni::trueText)
                values_[i] = true;
            else if (value == GameIni::falseText)
                values_[i] = false;
            else
                values_[i] = services_.state.mainIni().ReadBool(table_.section, keys_[i], false);
            break;
        case RendererGroupTable::Reading::TrueOrOne:
            values_[i] = value == GameIni::trueText || value == QLatin1String("1");
            break;
        }
    }
}

void RendererGroup::cbRefresh()
{
    for (int i = 0; i < boxes_.size(); ++i)
        EventRules::setChecked(boxes_[i], values_[i]);
}

void RendererGroup::Activate()
{
    rbQuality->setEnabled(true);
    rbFast->setEnabled(true);
    for (QCheckBox* box : boxes_)
        box->setEnabled(true);
}

void RendererGroup::unlock(const QString& title)
{
    groupBox_->setTitle(title);
    groupBox_->setEnabled(true);
}

void RendererGroup::click(int index)
{
    const bool ticked = boxes_[index]->isChecked();
    const RendererOption& option = table_.options[index];
    const QString key = keys_.value(index, QString::fromLatin1(option.key));
    if (!option.levelOn) {
        services_.state.mainIni().WriteString(table_.section, key, ticked ? GameIni::trueText : GameIni::falseText);
    } else if (!ticked) {
        services_.state.mainIni().WriteString(table_.section, key, levelOffText);
    } else if (!isLevel(services_.state.mainIni().ReadString(table_.section, key, NotFoundDefault::entryNotFound))) {
        // The device reads "True" as 0, no filtering at all; a level it
        // lowers to what the card has is what "on" means to it.
        services_.state.mainIni().WriteString(table_.section, key, QString::fromLatin1(option.levelOn));
    }
    if (ticked && table_.options[index].notice)
        services_.boxes.notice(boxes_[index]->window(), QString::fromUtf8(table_.options[index].notice));
    EventRules::deselect(rbQuality);
    EventRules::deselect(rbFast);
}

void RendererGroup::preset(bool quality)
{
    for (int i = 0; i < boxes_.size(); ++i) {
        const RendererOption& option = table_.options[i];
        EventRules::setChecked(boxes_[i], quality ? option.quality : option.fast);
    }
}
