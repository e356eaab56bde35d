// What the command interpreter does of its own accord to the copies, as its
// registry settings tell: a command run before each copy, and !NAME! expanded.
#pragma once

#include "installer/installer.h"

// True where cmd.exe expands !NAME!: the REG_DWORD DelayedExpansion of the
// user's Command Processor key, or of the machine's where the user has none, is not 0.
[[nodiscard]] bool delayedExpansionIsOn();

// True when, with delayedExpansion, cmd.exe would take a ! of text for part of
// a variable's name and leave it out, or put the variable's value in its place.
[[nodiscard]] bool expandsExclamationMark(const char* text, bool delayedExpansion);

// Stops, naming the value, where cmd.exe would first run the AutoRun command of
// the machine's or the user's Command Processor key before each copy.
[[nodiscard]] RunOutcome checkNoAutoRun();
