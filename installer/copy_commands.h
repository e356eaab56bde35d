// The three copy command lines, and the rule for a name that stands unquoted in one.
#pragma once

#include "installer/installer.h"

// True when name can stand unquoted on a command line as one argument (no
// control character or space, none of the characters that the command
// interpreter treats specially, no broken character at its end) and names a
// folder of the current directory itself (no path separator, drive colon or
// wildcard, and not "." or "..").
[[nodiscard]] bool isPlainFolderName(const char* name);

// Each composes one copy command into command; false when it would not fit.
[[nodiscard]] bool composeCommonCommand(const char* destination, ComposedText& command);
[[nodiscard]] bool composeCompilerCommand(const char* compilerDir, const char* destination,
                                          ComposedText& command);
[[nodiscard]] bool composeLanguageCommand(const char* installedNlv, const char* destination,
                                          ComposedText& command);
