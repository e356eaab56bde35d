// The two message boxes through which every stage speaks to the user, and
// standard error, where a deployment tool reads the same texts.
#pragma once

#include "installer/installer.h"

// The session of this run: whether a user can see its boxes.
[[nodiscard]] Session currentSession();

// Writes text to standard error and, where a box can be seen, shows it in the
// modal error box.
void showError(const Session& session, const char* text);

// Writes text to standard error and, where a box can be seen, asks it in the
// modal warning box with Cancel preselected; goes on only when the user chose
// OK, and stops silently on Cancel, when no box could be shown, or where
// nobody could see one.
[[nodiscard]] RunOutcome askConfirmation(const Session& session, const char* text);
