// The three copy command lines, and the rule for a name that stands unquoted in one.
#pragma once

#include "installer/installer.h"

// True when word can stand unquoted on a command line as one argument: no
// control character or space, none of the characters that the command
// interpreter treats specially, and no broken character at its end.
[[nodiscard]] bool isSafeUnquotedWord(const char* word);

// Each composes one copy command into command; false when it would not fit.
[[nodiscard]] bool composeCommonCommand(const char* destination, ComposedText& command);
[[nodiscard]] bool composeCompilerCommand(const char* compilerDir, const char* destination,
                                          ComposedText& command);
[[nodiscard]] bool composeLanguageCommand(const char* installedNlv, const char* destination,
                                          ComposedText& command);
