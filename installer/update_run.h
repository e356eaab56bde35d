// The run of the update: its stages in order.
#pragma once

// Performs the whole update and gives the process exit status.
[[nodiscard]] int runUpdate();
