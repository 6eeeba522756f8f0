#pragma once

#include "cli/CommandLine.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class MessageBoxes;
class THauptForm;

// The resources (icon, logo) are compiled into the program's static library,
// whose registration the linker would drop unless something refers to it.
void registerResources();

// Qt's own texts (the file dialog's, say) in the user's language, from the
// translations installed with Qt. The program's own texts are German as they
// stand. False when there is none for that language.
bool loadQtTranslations(const QLocale& locale);

// From options to the shown main window. Nullptr when the user cancelled the
// search for the game: nothing was shown, read or written.
std::unique_ptr<THauptForm> openEditor(const EditorOptions& options, MessageBoxes& boxes,
                                       std::function<std::uint32_t()> totalPhysicalMemory = {});

// The whole start, for the program and its tests alike: parses the arguments,
// puts help, version, the error or a command's output into out and err, and
// opens the editor. exitCode is what the process ends with when no window is
// open. prepareWindow runs once the command line asks for the window and
// before anything is read: the program makes its QApplication there, so that
// help and the commands need no display; false ends the start with status 1
// and the reason in err.
struct StartResult {
    int exitCode = 0;
    std::unique_ptr<THauptForm> window;
};
StartResult startEditor(const QStringList& arguments, MessageBoxes& boxes, QString& out, QString& err,
                        std::function<std::uint32_t()> totalPhysicalMemory = {},
                        const std::function<bool(QString& err)>& prepareWindow = {});
