#pragma once

#include "pages/Page.h"

#include <array>

class MaskedEdit;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// "User": the player's name, team colour, model and skin, field of view and
// the ladder flag that unlocks the boss, all in user.ini.
class UserPage final : public Page {
public:
    explicit UserPage(const PageServices& services);

    void tsUserShow();
    void eNameChange();
    void bNameEintragenClick();
    void rbKeineClick();
    void rbRotClick();
    void rbBlauClick();
    void rbGruenClick();
    void rbGoldClick();
    void coboModelSelect();
    void coboSkinMSChange();
    void coboSkinMCChange();
    void coboSkinFSChange();
    void coboSkinFCChange();
    void bXanEintragenClick();
    void meFOVChange();

    // Show the model in the model box and its skin box with the stored skin.
    void Male2Select();
    void Male1Select();
    void Female2Select();
    void Female1Select();
    void BossSelect();

protected:
    void build() override;
    void showHandler() override { tsUserShow(); }

private:
    void modelSelect(int model);
    void skinChange(int model);
    void teamClick(QRadioButton* own, int team);

    QGroupBox* GroupBox2 = nullptr;
    QLabel* LSpielername = nullptr;
    QLineEdit* eName = nullptr;
    QPushButton* bNameEintragen = nullptr;
    QFrame* Bevel1 = nullptr;
    QLabel* LTeamfarbe = nullptr;
    QRadioButton* rbKeine = nullptr;
    QRadioButton* rbBlau = nullptr;
    QRadioButton* rbRot = nullptr;
    QRadioButton* rbGold = nullptr;
    QRadioButton* rbGruen = nullptr;
    QLabel* LModel = nullptr;
    QComboBox* coboModel = nullptr;
    QLabel* LSkin = nullptr;
    QComboBox* coboSkinMS = nullptr;
    QComboBox* coboSkinMC = nullptr;
    QComboBox* coboSkinFS = nullptr;
    QComboBox* coboSkinFC = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QLabel* LXan = nullptr;
    QPushButton* bXanEintragen = nullptr;
    QLabel* LFOV = nullptr;
    MaskedEdit* meFOV = nullptr;
    QLabel* LDodge = nullptr;
    MaskedEdit* meDodge = nullptr;

    // The skin boxes by model position (the boss has none).
    std::array<QComboBox*, 4> skinBoxes_{};
};
