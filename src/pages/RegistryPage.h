#pragma once

#include "pages/Page.h"

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;

// A registry value that names a file of the game: the game folder followed
// by a path in the Windows way ("\System\UnrealTournament.exe \"%1\"").
// Every such value the page writes is built here and nowhere else, so that
// how a folder is named to the game is decided in one place: in a Wine
// prefix's registry as the Windows path Wine knows it by ("C:\Games\UT");
// `registered`, the install path the registry holds, is kept as it is spelled
// while it still names the game folder. Elsewhere a Unix folder is followed by
// the file as this machine names it ("/home/anna/UT/System/UnrealTournament.exe
// \"%1\""), a Windows one by the tail as it is.
QString registryGamePath(const GameRegistry& registry, const QString& gameDir, const QString& windowsTail,
                         const QString& registered = QString());

// One shell registration: a file type (or the URL protocol) that the game
// opens. The four differ only in these columns.
struct ShellRegistration {
    const char* boxName;
    const char* labelName;
    QString extensionKey; // empty for the protocol
    QString classKey;
    QString description;  // also the name in the status line
    QString openVerb;
    QString commandTail;  // after the game folder
};

// "Registry": the install-path key that start-up reads, and the game's file
// types and URL protocol. Ticking a box writes its item; a box once ticked
// stays ticked and disabled. Nothing is ever deleted.
class RegistryPage final : public Page {
public:
    explicit RegistryPage(const PageServices& services);

    void tsRegistryShow();
    void RegVisible();
    void GetModuleState();
    void GetMapState();
    void GetLinkState();
    void GetProtocolState();
    void cbUTPathClick();
    void cbModuleClick();
    void cbMapClick();
    void cbLinkClick();
    void cbProtocolClick();

protected:
    void build() override;
    void showHandler() override { tsRegistryShow(); }

private:
    struct Registration {
        const ShellRegistration* item = nullptr;
        QLabel* label = nullptr;
        QCheckBox* box = nullptr;
    };
    enum Index { Module, Map, Link, Protocol };

    // The four registrations' boxes, shown and set from the registry.
    void refreshRegistrations();
    void getState(Registration& registration);
    void writeRegistration(Registration& registration);
    // The box ticked and closed, the line present: after a write.
    void markWritten(Registration& registration);
    GameRegistry& registry() const;

    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lUTPath = nullptr;
    QCheckBox* cbUTPath = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label5 = nullptr;
    std::array<Registration, 4> registrations_;
};
