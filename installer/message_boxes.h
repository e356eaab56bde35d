// The two message boxes through which every stage speaks to the user.
#pragma once

#include "installer/installer.h"

// Shows text in the modal error box.
void showError(const char* text);

// Asks text in the modal warning box with Cancel preselected; goes on only when
// the user chose OK, and stops silently on Cancel or when no box could be shown.
[[nodiscard]] RunOutcome askConfirmation(const char* text);
