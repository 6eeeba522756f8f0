#pragma once

#include "app/HauptUnit.h"
#include "support/Files.h"
#include "support/ScriptedMessageBoxes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <optional>

class QWidget;
class QAbstractButton;

// A temporary copy of the sample installation, a temporary registry file and
// the scripted boxes: what a test needs to start the whole editor.
class GameFixture {
public:
    GameFixture();
    ~GameFixture();

    // Folder of the copied installation (it holds System/).
    QString gameDir() const;
    QString mainIniPath() const; // System/UnrealTournament.ini
    QString userIniPath() const; // System/User.ini
    QString registryPath() const;

    // Writes a registry file whose install-path key names folder.
    void registerGameDir(const QString& folder) const;
    void registerGameDir() const { registerGameDir(gameDir()); }

    // Starts the editor in-process with the arguments (after the program's
    // name); "--registry <this fixture's file>" is added unless given or
    // registryOption is off. Waits until the window is exposed. Null when
    // start-up ended it.
    THauptForm* start(QStringList arguments = {});
    THauptForm* window() const { return window_.get(); }
    // Ends the editor; the files stay.
    void stop() { window_.reset(); }

    // A widget of the started editor by its name; the test ends when there is
    // none.
    template <typename T>
    T* child(const QString& name) const
    {
        T* widget = window_ ? window_->findChild<T*>(name) : nullptr;
        if (!widget)
            qFatal("no widget %s", qPrintable(name));
        return widget;
    }
    // Makes the page current, as a click on its tab does, and lets it show.
    void showPage(const char* name) const;
    // Clicks the renderer question's button of that name.
    void answerRendererQuestion(const char* button) const;
    int exitCode() const { return exitCode_; }
    QString out, err;

    ScriptedMessageBoxes boxes;
    // The program's real boxes instead of the scripted ones; a test answers
    // them with a ModalAnswerer.
    bool realBoxes = false;
    // Closing the renderer question unlocks nothing; most tests want the
    // main window enabled and the renderer groups as they start.
    bool closeRendererQuestion = true;
    // Off, the editor finds the registry as it does for a user (WINEPREFIX,
    // ~/.wine, its own file).
    bool registryOption = true;
    std::uint32_t physicalMemory = 512u * 1024u * 1024u;

private:
    QtMessageBoxes qtBoxes_;
    QTemporaryDir dir_;
    std::unique_ptr<THauptForm> window_;
    int exitCode_ = 0;
};

// Clicks a button where the user would: a check box or radio button on its
// indicator (its widget may be wider than the part that takes clicks).
void click(QAbstractButton* button);

// Turns the mouse wheel over the middle of the widget, notches up (positive)
// or down, the way the window system delivers it: a spontaneous event to the
// widget's window, which hands it on and gives the focus as Qt does.
void wheelOver(QWidget* widget, int notches);

// Does one of the things a person does that may leave the focused field of
// the main window's current page: a key to the focused widget ("Tab",
// "Shift+Tab", "Ctrl+Tab", "Ctrl+Shift+Tab", "Ctrl+PgDown", "Ctrl+PgUp",
// "F10, Right, Return", "Alt, Right, Return", "F10, Return"), a click ("tab
// click", "menu Info", "menu Beenden", "quit button", "window close button"),
// a key to the tab bar ("Right on the tab bar") or the wheel over it ("wheel
// up", "wheel down").
void leaveBy(THauptForm* window, const QString& way);

// Types any text into the widget, one key event a character.
void typeText(QWidget* widget, const QString& text);

// Gives the field the focus, selects all it holds (Ctrl+A) and types the
// text: the first key replaces the selection, or with DeleteFirst the
// selection is deleted first, a change of its own.
enum class Selection { TypedOver, DeleteFirst };
void typeOver(QWidget* field, const QString& text, Selection selection = Selection::TypedOver);


// A copy of the bytes with the value of key in section set (the first
// "key=" line after "[section]"); an empty optional removes the line.
QByteArray withValue(const QByteArray& file, const QByteArray& section, const QByteArray& key,
                     const std::optional<QByteArray>& value);

// A copy of the bytes with the value of one "Key=Value" line replaced (the
// first line starting with key + "="), for building expected files.
QByteArray withLine(const QByteArray& file, const QByteArray& oldLine, const QByteArray& newLine);
