#pragma once

#include "cli/CommandOutput.h"

#include <QString>

#include <cstdio>
#include <optional>

struct CommandLine;

// "get", "set" and "paths" for scripts and servers: the same INI layer as the
// window, no display needed. Returns the process's exit status; what the
// command prints goes to out, errors to err.
int runConsoleCommand(const CommandLine& commandLine, CommandOutput& out, CommandOutput& err);

// Whatever the command line asks for but the window: help, the version, a
// usage error or a command, with what it prints put into out and err.
// Returns the exit status, or nothing when it asks for the window.
std::optional<int> runWithoutWindow(const CommandLine& commandLine, CommandOutput& out, CommandOutput& err);
// The same, with what it prints as text (a file's bytes decoded).
std::optional<int> runWithoutWindow(const CommandLine& commandLine, QString& out, QString& err);

// Puts what the program says on one of its streams, in the encoding of the
// user's locale; on a terminal, with the characters that would drive it
// escaped (TerminalText).
void printText(const QString& text, std::FILE* stream);
