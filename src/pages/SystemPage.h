#pragma once

#include "pages/Page.h"

class ElidedLabel;
class MaskedEdit;
class QGroupBox;
class RendererGroup;
class QLabel;
class QLineEdit;
class QPushButton;

// "System": the engine's cache size, the intro switch and the IRC nick, all
// in unrealtournament.ini; beside them the Direct3D group.
class SystemPage final : public Page {
public:
    explicit SystemPage(const PageServices& services);
    ~SystemPage() override;

    // The recommended cache size: three quarters of the physical memory, in
    // megabytes.
    int GetRAM() const;

    void tsSystemShow();
    void meCacheChange();
    void bCacheEintragenClick();
    void bNoIntroClick();
    void eIRCNickChange();
    void bIRCNickEintragenClick();

    // The renderer question's answer Direct3D: the group loses its
    // "(Read only)".
    void unlockD3D();

    std::unique_ptr<RendererGroup> d3d;

protected:
    void build() override;
    void showHandler() override { tsSystemShow(); }

private:
    QGroupBox* GroupBox3 = nullptr; // the Direct3D options
    QGroupBox* gbCache = nullptr;
    ElidedLabel* LCacheMom = nullptr;
    QLabel* LCacheNeu = nullptr;
    QLabel* LCacheHint = nullptr;
    MaskedEdit* meCache = nullptr;
    QPushButton* bCacheEintragen = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QLabel* LNoIntro = nullptr;
    QPushButton* bNoIntro = nullptr;
    QGroupBox* GroupBox9 = nullptr;
    QLineEdit* eIRCNick = nullptr;
    QPushButton* bIRCNickEintragen = nullptr;
};

// Three quarters of the memory in megabytes of 1,048,576 bytes, rounded.
int recommendedCacheMegs(std::uint32_t physicalMemoryBytes);
