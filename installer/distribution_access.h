// Whether anyone but the administrators could change what the copies install.
#pragma once

#include "installer/installer.h"

// Stops, naming the first item, when an owner that is no administrator or a
// broad group may change setup.exe's folder or its file, the current directory
// (sourceRoot, ending in a backslash, or empty where it is unknown), or any
// folder or file, hidden ones included, of the trees. Nothing is read on a
// read-only volume, and a volume that keeps no permissions is refused at once;
// setup.exe's volume and the distribution's are asked each. Stops as the listing
// would for a tree's path too long for the copy to read or a folder it cannot read.
[[nodiscard]] RunOutcome checkOnlyAdministratorsCanChange(const char* sourceRoot,
                                                          const PayloadTrees& trees);
