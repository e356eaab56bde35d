// Whether anyone but the administrators could change what the copies install,
// and the digests of the files that they read, from one read of each.
#pragma once

#include "installer/installer.h"
#include "installer/payload_listing.h"
#include "platform/platform.h"

// Stops, naming the first item, when an owner or an account that is no
// administrator may change setup.exe's folder or its file, the current
// directory (sourceRoot, ending in a backslash, or empty where it is unknown),
// or any item of listing, hidden ones included. Nothing of that is read on a
// read-only volume, and a volume that keeps no permissions is refused at once;
// setup.exe's volume and the distribution's are asked each. With a digester,
// each copied file's digest is read into its item from the handle that its
// permissions are read from, on every volume.
[[nodiscard]] RunOutcome checkOnlyAdministratorsCanChange(const char* sourceRoot,
                                                          PayloadListing* listing,
                                                          platform::DigesterHandle digester);
