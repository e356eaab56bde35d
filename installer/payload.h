// Deployment of the payload: the three copy commands.
#pragma once

#include "installer/installer.h"

// Copies the payload into record.installDir; goes on only when every copy succeeded.
[[nodiscard]] RunOutcome deployPayload(const InstallRecord& record);
