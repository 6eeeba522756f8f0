#pragma once

#include "pages/Page.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;

// "Multiplayer Game": what the server announces about itself and two network
// switches, in unrealtournament.ini. Every field is written keystroke by
// keystroke, every box when it is clicked.
class MultiplayerPage final : public Page {
public:
    explicit MultiplayerPage(const PageServices& services);

    void tsMultiplayerShow();
    void leServerNameChange();
    void leAdminNameChange();
    void leAdminEmailChange();
    void leAdminPasswortChange();
    void leMOTD1Change();
    void leMOTD2Change();
    void leMOTD3Change();
    void leMOTD4Change();
    void cbLANClick();
    void cbAdvertiseClick();

protected:
    void build() override;
    void showHandler() override { tsMultiplayerShow(); }

private:
    QGroupBox* GroupBox6 = nullptr;
    QLineEdit* leServerName = nullptr;
    QLineEdit* leAdminName = nullptr;
    QLineEdit* leAdminEmail = nullptr;
    QLineEdit* leAdminPasswort = nullptr;
    QCheckBox* cbLAN = nullptr;
    QCheckBox* cbAdvertise = nullptr;
    QGroupBox* GroupBox7 = nullptr;
    QLineEdit* leMOTD1 = nullptr;
    QLineEdit* leMOTD2 = nullptr;
    QLineEdit* leMOTD3 = nullptr;
    QLineEdit* leMOTD4 = nullptr;
};
