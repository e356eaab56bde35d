// Text as the characters of the ANSI code page: on a double-byte code page a
// lead byte and the byte after it are one character, and that second byte is
// never a backslash or a character of its own.
#pragma once

#include <cstddef>

// The character after the one at c (which is not the terminator): two bytes for
// a lead byte with its trail byte, one otherwise; a lead byte before the
// terminator, or before a byte that can be no trail byte, is a broken character
// of one byte.
[[nodiscard]] const char* nextCharacter(const char* c);

// The number of characters in text.
[[nodiscard]] std::size_t characterCount(const char* text);

// True when text ends in a lead byte without its trail byte.
[[nodiscard]] bool endsInLoneLeadByte(const char* text);

// True when the last character of text is a backslash of its own.
[[nodiscard]] bool endsInBackslash(const char* text);

// Where the last backslash of text that is a character of its own stands; 0 when none does.
[[nodiscard]] std::size_t lastSeparator(const char* text);

// True when path is a drive letter, a colon and a separator, or begins with two
// backslashes (a UNC path): a path that does not depend on the current folder or drive.
[[nodiscard]] bool isFullPath(const char* path);

// True when a single-byte character of text is a control character or one of refused.
[[nodiscard]] bool holdsControlCharacterOrAnyOf(const char* text, const char* refused);
