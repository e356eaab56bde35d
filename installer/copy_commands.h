// The copy command lines, and the rule for a name that stands unquoted in one.
#pragma once

#include "installer/installer.h"

// The extensions that the copies' cmd.exe runs a program by, handed to it as PATHEXT.
#define COPY_EXTENSIONS_TEXT ".COM;.EXE;.BAT;.CMD"
inline constexpr char COPY_EXTENSIONS[] = COPY_EXTENSIONS_TEXT;

// True when name can stand unquoted on a command line as one argument (no
// control character or space, none of the characters that the command
// interpreter treats specially, no broken character at its end) and names a
// folder of the current directory itself (no path separator, drive colon or
// wildcard, and not "." or "..").
[[nodiscard]] bool isPlainFolderName(const char* name);

// True when the command that copies tree below installDir fits its buffer.
[[nodiscard]] bool commandFits(const PayloadTree& tree, const char* installDir);

// Composes the command that copies tree into its place below installDir (which
// ends in a backslash). The command must fit (commandFits).
void composeCopyCommand(const PayloadTree& tree, const char* installDir, ComposedText& command);
