// The listing of the payload: every file and folder that the three copies put in place.
#pragma once

#include <cstddef>

#include "installer/installer.h"

// Windows' xcopy runs out of memory on a file path, read or written, of more characters.
inline constexpr std::size_t LONGEST_FILE = 254;

// True when the item at path, of attributes, is a symbolic link, junction or
// mount point: a reparse point whose tag is a name surrogate, or cannot be read.
// Deduplicated, compressed and cloud files carry tags of other kinds.
[[nodiscard]] bool isNameSurrogate(const char* path, unsigned long attributes);

// True for the "." and ".." that a search of a folder gives.
[[nodiscard]] bool isDotEntry(const char* name);

// The length of a SHA-256 digest, in bytes.
inline constexpr std::size_t DIGEST_SIZE = 32;

// What the read of a file of the distribution gave its digest.
enum class DigestRead : unsigned char { NOT_READ, READ, UNREADABLE };

// A file or folder of the trees; its paths are in the listing's text.
struct PayloadItem {
  std::size_t destination = 0;  // the full path in the installation
  std::size_t source = 0;       // the path relative to the current directory
  unsigned char tree;           // which of the three
  bool isFolder;
  // False for what xcopy passes over (hidden and system items and all below
  // them) and for a tree's folder that is copied into the installation itself.
  bool copied;
  unsigned long attributes;
  unsigned long long size;
  unsigned long long writeTime;  // in 100-ns ticks
  DigestRead digestRead = DigestRead::NOT_READ;
  bool otherStream = false;  // a named data stream that xcopy would copy too
  unsigned char digest[DIGEST_SIZE] = {};
};

// The items in the order the copies read them, and the text of their paths.
struct PayloadListing {
  PayloadItem* items = nullptr;
  std::size_t count = 0, capacity = 0;
  char* text = nullptr;
  std::size_t textSize = 0, textCapacity = 0;
  bool replacesOwnFiles = false;  // a later tree replaces a file that an earlier one wrote

  PayloadListing() = default;
  PayloadListing(const PayloadListing&) = delete;
  PayloadListing& operator=(const PayloadListing&) = delete;
  ~PayloadListing();

  [[nodiscard]] const char* destinationOf(const PayloadItem& item) const {
    return text + item.destination;
  }
  [[nodiscard]] const char* sourceOf(const PayloadItem& item) const { return text + item.source; }
};

// The destinations of a listing as Windows compares them, in upper case, each
// split at its last separator into folder and name, and the items sorted by
// folder, then name, then copy order. Holds nothing when memory ran out.
struct SortedDestinations {
  const PayloadListing& listing;
  char* keys = nullptr;
  std::size_t* folderLength = nullptr;  // per item
  std::size_t* order = nullptr;         // item numbers in sorted order

  explicit SortedDestinations(const PayloadListing& sortedListing);
  SortedDestinations(const SortedDestinations&) = delete;
  SortedDestinations& operator=(const SortedDestinations&) = delete;
  ~SortedDestinations();

  [[nodiscard]] bool holdsAll() const { return order != nullptr; }
  [[nodiscard]] const char* key(std::size_t i) const { return keys + listing.items[i].destination; }
  [[nodiscard]] const char* name(std::size_t i) const { return key(i) + folderLength[i] + 1; }
  // Below, at or above zero as item i's folder and name sort before, with or
  // after folder (of length characters' bytes) and other.
  [[nodiscard]] int compare(std::size_t i, const char* folder, std::size_t length,
                            const char* other) const;
  [[nodiscard]] int compare(std::size_t i, std::size_t j) const {
    return compare(i, key(j), folderLength[j], name(j));
  }
};

// Lists the trees, found in sourceRoot (the current directory ending in a
// backslash, or empty where it is unknown), in the order of their copies below
// installDir: each tree's folder, then every folder and file below it, hidden
// and system ones marked as not copied, as xcopy /E without /H passes over
// them. Stops when a folder cannot be read, a source is too long for the copy
// to read or a copied destination for it to write, or memory runs out.
[[nodiscard]] RunOutcome listPayload(const PayloadTrees& trees, const char* sourceRoot,
                                     const char* installDir, PayloadListing* listing);

// Keeps what the copies put in place: the copied items, each destination once
// with the last tree's item. Stops when one tree gives a file where another
// gives a folder, or memory runs out.
[[nodiscard]] RunOutcome keepWhatLands(PayloadListing* listing);
