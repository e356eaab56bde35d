// Deployment of the payload: the compiler's folder, the checks before the
// copies, the three copy commands, and the check that every file is in place.
#pragma once

#include "installer/installer.h"

// Looks up QDXCOMP and sets *compilerDir to the folder of the compiler's
// payload; stops when it is unset or cannot stand in its copy command below installDir.
[[nodiscard]] RunOutcome findCompilerDir(const char* installDir, const char** compilerDir);

// Copies the payload into record.installDir; goes on only when every file is
// in place and every copy succeeded, and stops with status 1 before the first
// copy when the update could not complete.
[[nodiscard]] RunOutcome deployPayload(const InstallRecord& record, const char* compilerDir,
                                       const Session& session);
