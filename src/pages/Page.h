#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>

class EventRules;
class GameConfigStore;
class GameRegistry;
class MaskedEdit;
class MessageBoxes;
class QPushButton;
class QTabWidget;

// The widget, given the name the program and its tests find it by.
template <typename T>
T* named(T* widget, const QString& name)
{
    widget->setObjectName(name);
    return widget;
}

// The number a digit field shows, for the pages that pick a row by it:
// blanks around the digits do not count; -1 for a text that is no decimal
// number.
int fieldNumber(const MaskedEdit* field);

// Tab goes from each widget to the next, in the order given.
void setTabChain(const QList<QWidget*>& widgets);

// Puts the widget after every other one in its window's Tab order. Widgets
// made later join the order at its end, so the quit button, which comes last
// on every page, goes there again whenever a page is built.
void putLastInTabOrder(QWidget* widget);

// What start-up sets once and every page shares. Owned by the main window;
// the stores and the registry live from start-up to exit.
struct EditorState {
    QString GameDir;
    QString MainIniPath;
    QString UserIniPath;
    std::unique_ptr<GameConfigStore> MainIni;
    std::unique_ptr<GameConfigStore> UserIni;
    std::unique_ptr<::GameRegistry> GameRegistry;
    // The machine's physical memory in bytes; replaceable for tests.
    std::function<std::uint32_t()> totalPhysicalMemory;

    // The way every page, renderer group and window reaches the two stores:
    // before start-up has opened them (a page built early, a test) it throws
    // EditorError, which the event rules show, instead of crashing.
    GameConfigStore& mainIni() const;
    GameConfigStore& userIni() const;
};

// What a page is given when it is built.
struct PageServices {
    EditorState& state;
    const EventRules& events;
    MessageBoxes& boxes;
    QPushButton* bBeenden;
    QTabWidget* PageControl1;
};

// A tab page. Its controls are built on its first show (most users open a
// few of the pages, and a start builds only the one shown), or earlier
// through ensureBuilt(). The main window runs its show handler each time the
// page becomes the visible page, the first show of the window included.
class Page : public QWidget {
public:
    Page(const PageServices& services, const QString& objectName);

    void ensureBuilt();
    bool isBuilt() const { return built_; }

    // Runs the show handler as an entry from Qt: a failure ends it and is
    // shown as the error box. Never called from inside a show event, where a
    // modal box would run while Qt is still showing the window's children.
    void runShowHandler();

protected:
    // Creates the page's controls and connects their handlers; once.
    virtual void build() = 0;
    virtual void showHandler() = 0;
    void showEvent(QShowEvent* event) override;
    // Qt hands the focus of a control that is disabled or hidden on along
    // the Tab order; on a page it stays in the control's group, or on the
    // page itself, which acts on no key (FocusHeir). Tab from the page goes
    // on from the control that left it the keys.
    bool focusNextPrevChild(bool next) override;

    // The page's short way to the stores of its state.
    GameConfigStore& MainIni() const;
    GameConfigStore& UserIni() const;
    // The quit button lies over the pages' lower right corner; each page's
    // show handler says whether it is wanted there.
    void setQuitButtonVisible(bool visible) const;

    PageServices services_;

private:
    bool built_ = false;
    QPointer<QWidget> keysLeftBy_;
};
