#pragma once

#include "pages/Page.h"

#include <QList>
#include <QString>

#include <vector>

class GameConfigStore;
class MessageBoxes;
class EventRules;
class QCheckBox;
class QGridLayout;
class QGroupBox;
class QRadioButton;
class QWidget;

// One on/off option of a render device: its key, its check box and the
// states the two presets give it.
struct RendererOption {
    const char* key;
    const char* box;      // the check box's name
    const char* caption;
    const char* hint;     // tooltip, or nullptr
    bool quality;
    bool fast;
    const char* notice = nullptr; // shown after the key is written "True"
    // The key holds a level, 0 for off (MaxAnisotropy): on is "True" or a
    // number above 0; on is written as the level the file holds already,
    // else as levelOn, off as "0".
    const char* levelOn = nullptr;
};

// The table that makes a renderer group of a render device's section.
struct RendererGroupTable {
    enum class Reading {
        // "True" on, "False" off, else the number rule of ReadBool.
        TrueFalseOrNumber,
        // Only "True" and "1" are on.
        TrueOrOne,
    };

    QString section;
    Reading reading;
    QString qualityName; // names of the two preset buttons
    QString fastName;
    QList<int> columns;  // how many boxes each column holds, in table order
    std::vector<RendererOption> options;
};

// A locked group of check boxes, one per key of a render device's section,
// with the presets "Quality Settings" and "Fast Settings". Every change of a
// box, the user's or the program's (refresh, preset), writes its key as
// "True" or "False" (a level key as its level) and clears both presets; a
// failed write ends the refresh or preset at that box.
class RendererGroup {
public:
    // Builds the boxes and presets into the group box, disabled.
    RendererGroup(const RendererGroupTable& table, QGroupBox* groupBox, const PageServices& services);

    // Fills the key table; once, at start-up.
    void StrAssign();
    // Reads every key into the value table by the group's reading rule.
    void GetValues();
    // Sets every box from the value table, in table order.
    void cbRefresh();
    // Enables the presets and the boxes; reads and writes nothing.
    void Activate();
    // Gives the group box its title without "(Read only)" and enables it, so
    // the boxes can be switched on by Activate.
    void unlock(const QString& title);

    const QStringList& keys() const { return keys_; }
    const QList<bool>& values() const { return values_; }
    QCheckBox* box(int index) const { return boxes_.at(index); }
    QRadioButton* rbQuality = nullptr;
    QRadioButton* rbFast = nullptr;
    // The row below the last box of the first column, free for a field.
    QGridLayout* grid = nullptr;
    int firstFreeRow() const { return table_.columns.value(0); }
    // The group's controls in Tab order: down each column of boxes, the
    // field at the foot of the first column in it, then the two presets.
    QList<QWidget*> tabOrder(QWidget* footOfFirstColumn) const;

private:
    void click(int index);
    void preset(bool quality);

    const RendererGroupTable& table_;
    QGroupBox* groupBox_;
    PageServices services_;
    QStringList keys_;
    QList<bool> values_;
    QList<QCheckBox*> boxes_;
};
