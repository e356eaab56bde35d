// Deployment of the payload: the checks before the copies, the three copy
// commands, and the check that every file is in place after them.
#pragma once

#include "installer/installer.h"

// Copies the payload into record.installDir; goes on only when every file is
// in place and every copy succeeded, and stops with status 1 before the first
// copy when the update could not complete, including when the product's key at
// keyPath, where the level is recorded afterwards, does not open for writing.
[[nodiscard]] RunOutcome deployPayload(const InstallRecord& record, const char* keyPath,
                                       const Session& session);
