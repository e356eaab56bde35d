// The check of the installed service level before anything is changed.
#pragma once

#include "installer/installer.h"

// serviceLevel as a number, converted as the C library's atoi does in the C
// locale; saturates instead of overflowing.
[[nodiscard]] int levelNumber(const char* serviceLevel);

// Goes on for "GA" and levels below this update's; asks the user to confirm
// re-applying it or back-levelling a higher one, and stops unless they agree.
[[nodiscard]] RunOutcome passLevelGate(const char* serviceLevel, const Session& session);
