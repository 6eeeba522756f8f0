#pragma once

#include <QString>

struct CommandLine;

// "get", "set" and "paths" for scripts and servers: the same INI layer as the
// window, no display needed. Returns the process's exit status; what the
// command prints goes to out, errors to err (UTF-8 both).
int runConsoleCommand(const CommandLine& commandLine, QByteArray& out, QByteArray& err);
