// The release's seal: a sealed setup.exe installs only the bytes that were
// released, as listed in a file whose digest it carries.
#pragma once

#include "installer/installer.h"
#include "installer/payload_listing.h"
#include "platform/platform.h"

// The name of the list of released files, in the distribution's root.
inline constexpr char SEAL_LIST_NAME[] = "Mendrel2.sha256";

// What a sealed setup.exe carries, and Windows' SHA-256 to check by; no
// digester for an unsealed one.
struct ReleaseSeal {
  platform::DigesterHandle digester = nullptr;
  unsigned char listDigest[DIGEST_SIZE] = {};

  ReleaseSeal() = default;
  ReleaseSeal(const ReleaseSeal&) = delete;
  ReleaseSeal& operator=(const ReleaseSeal&) = delete;
  ~ReleaseSeal();
};

// Learns whether this setup.exe is sealed and, where it is, opens Windows'
// SHA-256; stops where Windows has none.
[[nodiscard]] RunOutcome openSeal(ReleaseSeal* seal);

// For a sealed setup.exe, reads the list in sourceRoot once and checks that it
// is the one released with it; then, tree by tree in the copies' order, that
// every file of listing that the copies read is listed with its digest and has
// no other data stream, that no item is a link, and that every file listed
// below the tree is there to be copied. Goes on at once for an unsealed one.
[[nodiscard]] RunOutcome checkSealedTrees(const ReleaseSeal& seal, const char* sourceRoot,
                                          const PayloadTrees& trees, const PayloadListing& listing);

// For a sealed setup.exe, stops with status 2 naming the first file of listing
// whose bytes at its destination are not the ones checked before the copies.
[[nodiscard]] RunOutcome checkInstalledBytes(const ReleaseSeal& seal,
                                             const PayloadListing& listing);
