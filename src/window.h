#pragma once

// The one entry of the window module (src/window.cpp), which the program
// (src/main.cpp) loads with dlopen() and finds by this name.

#include <QStringList>

#define BRENNWERK_WINDOW_ENTRY "brennwerk_window_main"
#define BRENNWERK_WINDOW_EXPORT __attribute__((visibility("default")))

// Runs the editor's window as the whole program would: argc and argv are the
// process's (QApplication keeps argc by reference), arguments the same as
// text. Returns the process's exit status.
extern "C" {
using BrennwerkWindowMain = int (*)(int* argc, char** argv, const QStringList* arguments);
}
