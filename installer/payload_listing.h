// The listing of the payload: every file and folder that the three copies put
// in place, made once before the first copy and checked again after the last.
#pragma once

#include <cstddef>

#include "installer/installer.h"

// A file or folder that a copy puts in place; its paths are in the listing's text.
struct PayloadItem {
  std::size_t source;       // relative to the distribution root, as the payload spells it
  std::size_t destination;  // the full path in the installation
  bool isFolder;
  unsigned long long size;
  unsigned long long writeTime;  // in 100-ns ticks
};

// The items in the order the copies make them, and the text of their paths.
struct PayloadListing {
  PayloadItem* items = nullptr;
  std::size_t count = 0, capacity = 0;
  char* text = nullptr;
  std::size_t textSize = 0, textCapacity = 0;

  PayloadListing() = default;
  PayloadListing(const PayloadListing&) = delete;
  PayloadListing& operator=(const PayloadListing&) = delete;
  ~PayloadListing();

  [[nodiscard]] const char* sourceOf(const PayloadItem& item) const { return text + item.source; }
  [[nodiscard]] const char* destinationOf(const PayloadItem& item) const {
    return text + item.destination;
  }
};

// The folder of one tree in the distribution, and the subfolder of the
// installation directory that it lands in (empty: the directory itself).
struct PayloadTree {
  const char* source;
  const char* subfolder;
};

// Lists the trees in the order of their copies below installDir, as xcopy /E
// without /H copies them: empty folders included, hidden and system files and
// folders left out, each destination once with the last tree's item. Stops when
// a folder cannot be read or a destination is too long for the copy to write.
[[nodiscard]] RunOutcome listPayload(const PayloadTree (&trees)[3], const char* installDir,
                                     PayloadListing* listing);

// The first item that is not at its destination as listed (a file with its
// size and, within 2 seconds, its write time), or null when all are.
[[nodiscard]] const PayloadItem* firstItemNotInPlace(const PayloadListing& listing);
