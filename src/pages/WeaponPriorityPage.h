#pragma once

#include "pages/Page.h"

#include <QList>
#include <QStringList>

class ElidedLabel;
class MaskedEdit;
class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QPushButton;

// "WeapponPriority": the order in which the game picks weapons, the keys
// WeaponPriority[0] .. WeaponPriority[13] of [Engine.PlayerPawn] in user.ini.
// The editing line stands beside the chosen row and writes that one key.
class WeaponPriorityPage final : public Page {
public:
    explicit WeaponPriorityPage(const PageServices& services);

    static constexpr int rowCount = 14;

    void GetPriority();

    void tsWeapponpriorityShow();
    void mePriorityChange();
    void bPriorityEintragenClick();

    // Built or not, the room the page needs: the page is the tallest, and the
    // window is sized to hold it before it is built.
    QSize sizeHint() const override;

protected:
    void build() override;
    void showHandler() override { tsWeapponpriorityShow(); }
    void changeEvent(QEvent* event) override;

private:
    // Puts the editing line beside row n and makes row n the bold one.
    void markRow(int n);
    // The size hint of the page as build() lays it out, from the height of
    // its rows and the frame around them; narrower than the page will be.
    QSize unbuiltSizeHint() const;
    mutable QSize unbuiltHint_;

    // Entry i: the value of WeaponPriority[i] at the last load, empty where
    // it was "None".
    QStringList PriorityTable;

    QGroupBox* GroupBox8 = nullptr;
    QGridLayout* rows_ = nullptr;
    QList<QLabel*> LPriority;  // LPriority1 .. LPriority14
    QList<ElidedLabel*> LWeappon; // LWeappon1 .. LWeappon14
    MaskedEdit* mePriority = nullptr;
    QComboBox* coboWeappon = nullptr;
    QPushButton* bPriorityEintragen = nullptr;
    QLabel* Label9 = nullptr;
};
