#pragma once

#include "pages/Page.h"

#include <QMainWindow>

#include <memory>
#include <optional>

class EventRules;
class MessageBoxes;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;
class SystemPage;
class TRendererForm;
class TInfoForm;
class OtherRenderersPage;

// The main window: the page control with the eight pages, the quit button
// over their lower right corner, the menu and the status-bar clock. It owns
// what every page shares (EditorState).
class THauptForm final : public QMainWindow {
    Q_OBJECT

public:
    // gameDir given: used as the game folder, the registry is not asked.
    // iniDir given: the folder of both INI files.
    THauptForm(MessageBoxes& boxes, std::unique_ptr<GameRegistry> registry,
               std::function<std::uint32_t()> totalPhysicalMemory, std::optional<QString> gameDir,
               std::optional<QString> iniDir = std::nullopt);
    ~THauptForm() override;

    // Finds the game folder and shows the window. False when the user
    // cancelled the search: then nothing was shown, read or written.
    bool FormCreate();

    void HavePath();
    void D3DStrAssign();
    void D3DActivate();
    void Timer1Timer();
    void mmBeendenClick();
    void mmInfoClick();
    void FormClose();

    // Moves to the next (direction 1) or previous (-1) page whose tab is
    // shown, wrapping around at the ends when asked; the field being edited
    // is left first, and when its exit handler keeps the user there, the
    // page stays.
    void stepPage(int direction, bool wrap);
    // The field with the focus, when it runs a handler on leaving it.
    QWidget* exitFieldWithFocus() const;
    // Leaves that field as a change of focus would, running its exit
    // handler. False when the handler kept the user in the field.
    bool leaveField();
    // Shows the "andere 3D-Renderer" tab; from then on the user can reach it.
    void revealOtherRenderersPage();

    EditorState& state() { return state_; }
    MessageBoxes& boxes() { return boxes_; }
    const EventRules& events() const { return *events_; }

    // The other two windows: the renderer question, created right after
    // this one, and the about box, created when "Info" is first chosen.
    std::unique_ptr<TRendererForm> RendererForm;
    std::unique_ptr<TInfoForm> InfoForm;
    QTabWidget* PageControl1 = nullptr;
    QPushButton* bBeenden = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildPages();
    void placeQuitButton();
    void pageBecameCurrent(int index);

    MessageBoxes& boxes_;
    EditorState state_;
    std::unique_ptr<EventRules> events_;
    class MainWindowInput* input_ = nullptr;
    std::optional<QString> givenGameDir_;
    std::optional<QString> givenIniDir_;

    QLabel* clockTime_ = nullptr;
    QLabel* clockDate_ = nullptr;
    QTimer* Timer1 = nullptr;

    SystemPage* tsSystem = nullptr;
    Page* tsUser = nullptr;
    Page* tsMultiplayer = nullptr;
    Page* tsTastenbelegung = nullptr;
    Page* tsRegistry = nullptr;
    Page* tsWeapponpriority = nullptr;
    Page* tsAliases = nullptr;
public:
    // The pages the renderer question reaches into.
    SystemPage* systemPage() const { return tsSystem; }
    OtherRenderersPage* otherRenderersPage() const { return ts3DRender; }

private:
    OtherRenderersPage* ts3DRender = nullptr;
};
