#include "controls/ValueListEditor.h"

#include <QHeaderView>
#include <QLineEdit>

namespace {
constexpr int keyColumn = 0;
constexpr int valueColumn = 1;
} // namespace

ValueListEditor::ValueListEditor(const QString& keyTitle, const QString& valueTitle, const QStringList& keys,
                                 QWidget* parent)
    : QTableWidget(static_cast<int>(keys.size()), 2, parent)
{
    setHorizontalHeaderLabels({keyTitle, valueTitle});
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionResizeMode(keyColumn, QHeaderView::ResizeToContents);
    horizontalHeader()->setSectionResizeMode(valueColumn, QHeaderView::Stretch);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::AllEditTriggers);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWordWrap(false);
    setTabKeyNavigation(false);
    // Fusion's styled frame loses lines at fractional scales (1.25, 1.5),
    // and a one-pixel one its right line under the scroll bar; the two-pixel
    // sunken frame of a classic grid keeps all four.
    setFrameStyle(QFrame::WinPanel | QFrame::Sunken);

    for (int row = 0; row < keys.size(); ++row) {
        auto* keyItem = new QTableWidgetItem(keys[row]);
        keyItem->setFlags(Qt::ItemIsEnabled);
        keyItem->setBackground(palette().button());
        setItem(row, keyColumn, keyItem);
        auto* valueItem = new QTableWidgetItem(QString());
        valueItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
        setItem(row, valueColumn, valueItem);
    }

    // A click on a key goes to its value: keys are never edited.
    connect(this, &QTableWidget::currentCellChanged, this, [this](int row, int column, int, int) {
        if (row >= 0 && column == keyColumn)
            setCurrentCell(row, valueColumn);
    });
    // A click on a value edits it at once, also on the cell that is already
    // current (Qt would wait for the double-click time there).
    connect(this, &QAbstractItemView::pressed, this, [this](const QModelIndex& index) {
        if (index.column() == valueColumn && !indexWidget(index))
            edit(index);
    });
}

QString ValueListEditor::key(int row) const
{
    return item(row, keyColumn)->text();
}

int ValueListEditor::rowOfKey(const QString& key) const
{
    for (int row = 0; row < rowCount(); ++row) {
        if (item(row, keyColumn)->text() == key)
            return row;
    }
    return -1;
}

QWidget* ValueListEditor::openEditor() const
{
    const QModelIndex current = currentIndex();
    if (!current.isValid() || state() != QAbstractItemView::EditingState)
        return nullptr;
    return indexWidget(current);
}

QString ValueListEditor::value(int row) const
{
    if (QWidget* editor = openEditor(); editor && currentRow() == row) {
        if (const auto* line = qobject_cast<QLineEdit*>(editor))
            return line->text();
    }
    return item(row, valueColumn)->text();
}

void ValueListEditor::setValue(int row, const QString& value)
{
    if (QWidget* editor = openEditor(); editor && currentRow() == row)
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    item(row, valueColumn)->setText(value);
}

void ValueListEditor::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint)
{
    const bool leaving = hint == QAbstractItemDelegate::EditNextItem || hint == QAbstractItemDelegate::EditPreviousItem;
    QTableWidget::closeEditor(editor, leaving ? QAbstractItemDelegate::NoHint : hint);
    if (leaving && hasFocus())
        focusNextPrevChild(hint == QAbstractItemDelegate::EditNextItem);
}

void ValueListEditor::commitEditor()
{
    if (QWidget* editor = openEditor()) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

void ValueListEditor::discardEditor()
{
    if (QWidget* editor = openEditor())
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
}
