#pragma once

#include <QString>

struct CommandLine;

// "get" and "set" for scripts and servers: the same INI layer as the window,
// no display needed. Returns the process's exit status; the value goes to
// out, errors to err (UTF-8 both).
int runConsoleCommand(const CommandLine& commandLine, QByteArray& out, QByteArray& err);
