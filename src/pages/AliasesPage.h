#pragma once

#include "pages/Page.h"

#include <QStringList>

class MaskedEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class ValueListEditor;

// "Aliases": the forty console aliases Aliases[0] .. Aliases[39] of
// [Engine.Input] in user.ini. Each button writes one slot at once;
// "Wiederherstellen" puts back what the slots held when the page was last
// shown.
class AliasesPage final : public Page {
public:
    explicit AliasesPage(const PageServices& services);

    static constexpr int slotCount = 40;
    static const QString EmptyAlias;

    void GetAliases();

    void tsAliasesShow();
    void meAliasPositionChange();
    void leAliasNameChange();
    void leAliasCommandChange();
    void bAliasEintragenClick();
    void bIJumpEintragenClick();
    void bAliasDeleteClick();
    void BitBtn1Click();
    void bOriginalAliasesClick();

    // The help box's text.
    static QString helpText();

protected:
    void build() override;
    void showHandler() override { tsAliasesShow(); }

private:
    // The slot number in meAliasPosition (1 to 40), 0 if there is none.
    int chosenRow() const;
    void enableAliasEintragen();

    // The snapshot "Wiederherstellen" writes back: entry i is the value of
    // Aliases[i] at the last load, or empty where it was EmptyAlias.
    QStringList AliasTable;
    // Slots whose key was missing at the last load (their entry holds the
    // placeholder, which is no alias).
    QList<bool> missingInTable_;

    ValueListEditor* vleAliases = nullptr;
    QLabel* lAliasName = nullptr;
    QLineEdit* leAliasName = nullptr;
    QLabel* lAliasCommand = nullptr;
    QLineEdit* leAliasCommand = nullptr;
    QPushButton* bAliasEintragen = nullptr;
    QLabel* Label2 = nullptr;
    MaskedEdit* meAliasPosition = nullptr;
    QPushButton* bIJumpEintragen = nullptr;
    QPushButton* bAliasDelete = nullptr;
    QPushButton* bOriginalAliases = nullptr;
    QPushButton* BitBtn1 = nullptr;
};
