// Deployment of the payload: the three copy commands and the recording of the
// new level.
#pragma once

#include "installer/installer.h"

// True for the bytes 0x01 to 0x1F, which no name on a command line may hold.
[[nodiscard]] bool isControlCharacter(char c);

// True when word can stand unquoted on a command line: no control character and
// none of the characters that the command interpreter treats specially.
[[nodiscard]] bool isSafeUnquotedWord(const char* word);

// Each composes one copy command into command; false when it would not fit.
[[nodiscard]] bool composeCommonCommand(const char* destination, ComposedText& command);
[[nodiscard]] bool composeCompilerCommand(const char* compilerDir, const char* destination,
                                          ComposedText& command);
[[nodiscard]] bool composeLanguageCommand(const char* installedNlv, const char* destination,
                                          ComposedText& command);

// Copies the payload into record.installDir and records the new level below
// keyPath; goes on only when every copy and the recording succeeded.
[[nodiscard]] RunOutcome deployPayload(const InstallRecord& record, const char* keyPath);
