#pragma once

#include "pages/Page.h"

#include <QStringList>

class QPushButton;
class ValueListEditor;

// "Tastenbelegung": the player's key bindings, one row per input key of
// [Engine.Input] in user.ini, edited in the grid and written all at once.
class KeyBindingsPage final : public Page {
public:
    explicit KeyBindingsPage(const PageServices& services);

    // The keys the page lists, in row order.
    static const QStringList& keyNames();

    void tsTastenbelegungShow();
    void GetKeyBindings();
    void bKeyBindEintragenClick();

protected:
    void build() override;
    void showHandler() override { tsTastenbelegungShow(); }

private:
    ValueListEditor* vleKeyBindings = nullptr;
    QPushButton* bKeyBindAktualisieren = nullptr;
    QPushButton* bKeyBindEintragen = nullptr;
    // Which rows' keys were missing from the file at the last load.
    QList<bool> missingAtLoad_;
};
