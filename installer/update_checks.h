// The checks at both ends of the copies: before the first, so that an update
// that cannot complete changes nothing, and after the last, that every file is in place.
#pragma once

#include "installer/installer.h"
#include "installer/payload_listing.h"
#include "installer/release_seal.h"

// Checks that the copies can start here, that the three trees exist, that only
// administrators can change them and, for a sealed release, that they hold the
// released bytes, that the installation exists, that every destination is no
// link and can be written and replaced, that the copies fit the volume, and that
// they will ask nothing that nobody in session could answer; fills listing with
// what the copies will put in place.
[[nodiscard]] RunOutcome checkUpdateCanComplete(const char* installDir, const PayloadTrees& trees,
                                                const Session& session, const ReleaseSeal& seal,
                                                PayloadListing* listing);

// Stops with status 2, naming the first item of listing that is not at its
// destination (a file with its size and, within 2 seconds, its write time), or is
// there through a link, or, for a sealed release, whose bytes there are not the released ones.
[[nodiscard]] RunOutcome checkEveryItemInPlace(const PayloadListing& listing,
                                               const ReleaseSeal& seal);
