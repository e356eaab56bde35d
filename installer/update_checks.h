// What is checked before the first copy, so that an update that cannot
// complete changes nothing.
#pragma once

#include "installer/installer.h"
#include "installer/payload_listing.h"

// Checks that the copies can start here, that the installation and the three
// trees exist, that every destination can be replaced and that the copies fit
// the volume; fills listing with what the copies will put in place.
[[nodiscard]] RunOutcome checkUpdateCanComplete(const char* installDir,
                                                const PayloadTree (&trees)[3],
                                                PayloadListing* listing);
