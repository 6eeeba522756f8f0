#pragma once

#include <QStringList>
#include <QTableWidget>

// A grid of fixed keys and their values under a title row, as the key
// bindings and the alias list show them. Keys are fixed when it is built and
// cannot be edited; a value cell opens its editor as soon as it becomes the
// current cell, so typing always goes into a value.
class ValueListEditor final : public QTableWidget {
    Q_OBJECT

public:
    ValueListEditor(const QString& keyTitle, const QString& valueTitle, const QStringList& keys,
                    QWidget* parent = nullptr);

    QString key(int row) const;
    // The row whose key is exactly key, or -1.
    int rowOfKey(const QString& key) const;

    // The value as the user sees it, text still in an open editor included.
    QString value(int row) const;
    // Set by the program; an editor open on the row loses what was typed.
    void setValue(int row, const QString& value);

    // Puts what is typed in an open editor into its cell and closes it.
    void commitEditor();
    // Closes an open editor, dropping what was typed.
    void discardEditor();

protected:
    // Tab and Shift+Tab in a value's editor keep what was typed and leave
    // the grid for the next control, as in a grid of this kind, instead of
    // going on to the next cell: the grid's values would trap the keys.
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    QWidget* openEditor() const;
};
