// The listing of the payload, as xcopy /E copies it.
#include "installer/payload_listing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/ansi_text.h"
#include "installer/messages.h"
#include "platform/platform.h"

namespace {

// Windows' CreateDirectory takes a folder of at most MAX_PATH - 12 characters
// with its terminator.
constexpr std::size_t LONGEST_FOLDER = 247;

// What xcopy without /H passes over.
bool isHiddenOrSystem(const platform::FileFacts& facts) {
  return (facts.attributes & (platform::ATTRIBUTE_HIDDEN | platform::ATTRIBUTE_SYSTEM)) != 0;
}

// Grows *block to hold at least needed elements of size bytes; false when out of memory.
template <typename T>
bool reserve(T** block, std::size_t* capacity, std::size_t needed) {
  if (needed <= *capacity) return true;
  const std::size_t grown = std::max(needed, *capacity * 2 + 64);
  void* moved = std::realloc(*block, grown * sizeof(T));
  if (moved == nullptr) return false;
  *block = static_cast<T*>(moved);
  *capacity = grown;
  return true;
}

bool appendText(PayloadListing* listing, const char* text, std::size_t* offset) {
  const std::size_t size = std::strlen(text) + 1;
  if (!reserve(&listing->text, &listing->textCapacity, listing->textSize + size)) return false;
  std::memcpy(listing->text + listing->textSize, text, size);
  *offset = listing->textSize;
  listing->textSize += size;
  return true;
}

// A path being built: text appended behind the fixed part, then taken back.
struct PathBuffer {
  ComposedText text;
  std::size_t length;

  bool append(const char* part) {
    const std::size_t size = std::strlen(part);
    if (length + size >= sizeof text) return false;
    std::memcpy(text + length, part, size + 1);
    length += size;
    return true;
  }
  void cut(std::size_t at) {
    length = at;
    text[at] = '\0';
  }
};

struct Lister {
  PayloadListing* listing;
  PathBuffer source, destination;  // source relative to the current directory
  const char* sourceRoot;          // the current directory and its backslash
  unsigned char tree = 0;          // the one being listed
  const char* message = nullptr;   // why the listing stopped
  const char* failure = nullptr;   // the folder or destination it names, if any
  // A source path too long to read: its folder passed sourceFits, so it holds at
  // most 254 characters with the current directory, and its name 259 bytes.
  char longSource[2 * COMPOSED_SIZE] = {};

  bool fail(const char* why, const char* path = nullptr) {
    message = why;
    failure = path;
    return false;
  }

  // Windows' xcopy reads no longer path than it writes.
  bool sourceFits() {
    if (characterCount(sourceRoot) + characterCount(source.text) <= LONGEST_FILE) return true;
    (void)std::snprintf(longSource, sizeof longSource, "%s%s", sourceRoot, source.text);
    return fail(SOURCE_TOO_LONG_MESSAGE, longSource);
  }

  // Adds the item at source and destination; a copied one must fit where the copy writes it.
  bool add(const platform::FileFacts& facts, bool copied) {
    const bool isFolder = platform::describesFolder(facts);
    const std::size_t longest = isFolder ? LONGEST_FOLDER : LONGEST_FILE;
    if (copied && characterCount(destination.text) > longest) {
      return fail(TOO_LONG_MESSAGE, destination.text);
    }
    PayloadItem item{.tree = tree,
                     .isFolder = isFolder,
                     .copied = copied,
                     .attributes = facts.attributes,
                     .size = facts.size,
                     .writeTime = facts.writeTime};
    if (!reserve(&listing->items, &listing->capacity, listing->count + 1) ||
        !appendText(listing, destination.text, &item.destination) ||
        !appendText(listing, source.text, &item.source)) {
      return fail(NO_MEMORY_MESSAGE);
    }
    listing->items[listing->count++] = item;
    return true;
  }

  // Lists what is below the folder at source into the folder at destination;
  // nothing below a folder that is not copied is copied.
  bool listFolder(bool copied) {
    const std::size_t sourceLength = source.length;
    if (!source.append("\\*")) return fail(UNREADABLE_MESSAGE, source.text);
    platform::SearchHandle search = nullptr;
    platform::FoundFile found;
    long result = platform::findFirstFile(source.text, &search, &found);
    source.cut(sourceLength);
    if (result == platform::RESULT_FILE_NOT_FOUND) return true;  // not even "." in it
    if (result != platform::RESULT_SUCCESS) return fail(UNREADABLE_MESSAGE, source.text);
    bool listed = listFound(found, copied);
    while (listed &&
           (result = platform::findNextFile(search, &found)) == platform::RESULT_SUCCESS) {
      listed = listFound(found, copied);
    }
    platform::findClose(search);
    if (listed && result != platform::RESULT_NO_MORE_FILES) {
      return fail(UNREADABLE_MESSAGE, source.text);
    }
    return listed;
  }

  bool listFound(const platform::FoundFile& found, bool folderCopied) {
    if (isDotEntry(found.name)) return true;
    // A name that fills the buffer may have been cut: it cannot be copied by name.
    if (std::strlen(found.name) + 1 >= sizeof found.name)
      return fail(UNREADABLE_MESSAGE, source.text);
    const std::size_t sourceLength = source.length, destinationLength = destination.length;
    // On a double-byte code page a name can take the path past the buffer while
    // the folder was within the copy's limit, and then past that limit too.
    if (!source.append("\\") || !source.append(found.name)) {
      source.cut(sourceLength);
      (void)std::snprintf(longSource, sizeof longSource, "%s%s\\%s", sourceRoot, source.text,
                          found.name);
      return fail(SOURCE_TOO_LONG_MESSAGE, longSource);
    }
    if (!sourceFits()) return false;
    const bool copied = folderCopied && !isHiddenOrSystem(found.facts);
    // What is not copied is never written, so where it would land matters not.
    if ((!destination.append("\\") || !destination.append(found.name)) && copied) {
      return fail(TOO_LONG_MESSAGE, destination.text);
    }
    const bool listed =
        add(found.facts, copied) && (!platform::describesFolder(found.facts) || listFolder(copied));
    if (listed) {
      source.cut(sourceLength);
      destination.cut(destinationLength);
    }
    return listed;
  }

  // One tree: its folder, which lands in a subfolder of its own or is the
  // installation directory itself, and what is below it.
  bool listTree(const PayloadTree& tree, const char* installDir) {
    source.cut(0);
    destination.cut(0);
    if (!source.append(tree.source) || !destination.append(installDir)) {
      return fail(UNREADABLE_MESSAGE, tree.source);
    }
    if (!sourceFits()) return false;
    const bool ownFolder = tree.subfolder[0] != '\0';
    if (!ownFolder) {
      destination.cut(destination.length - 1);  // items add their own backslash
    } else if (!destination.append(tree.subfolder)) {
      return fail(TOO_LONG_MESSAGE, destination.text);
    }
    return add(platform::FileFacts{platform::ATTRIBUTE_FOLDER, 0, 0}, ownFolder) &&
           listFolder(true);
  }
};

// Marks each item that a later tree's item of the same destination replaces;
// gives the first item, in copy order, of a kind other than the one it replaces
// (a file over a folder or a folder over a file), or count when there is none.
std::size_t markReplaced(PayloadListing* listing, const SortedDestinations& sorted,
                         bool* replaced) {
  const PayloadItem* items = listing->items;
  std::size_t otherKind = listing->count;
  for (std::size_t i = 0; i + 1 < listing->count; ++i) {
    const std::size_t earlier = sorted.order[i], later = sorted.order[i + 1];
    if (sorted.compare(earlier, later) != 0) continue;
    replaced[earlier] = true;
    if (items[earlier].isFolder != items[later].isFolder) otherKind = std::min(otherKind, later);
    if (!items[earlier].isFolder && !items[later].isFolder) listing->replacesOwnFiles = true;
  }
  return otherKind;
}

}  // namespace

SortedDestinations::SortedDestinations(const PayloadListing& sortedListing)
    : listing(sortedListing) {
  const std::size_t count = listing.count;
  keys = static_cast<char*>(std::malloc(listing.textSize + 1));
  folderLength = static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)));
  auto* sorted = static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)));
  if (keys == nullptr || folderLength == nullptr || sorted == nullptr) {
    std::free(sorted);
    return;
  }
  std::memcpy(keys, listing.text, listing.textSize);
  platform::upperCase(keys, static_cast<unsigned long>(listing.textSize));
  for (std::size_t i = 0; i < count; ++i) {
    folderLength[i] = lastSeparator(key(i));
    sorted[i] = i;
  }
  std::sort(sorted, sorted + count, [&](std::size_t a, std::size_t b) {
    const int compared = compare(a, b);
    return compared < 0 || (compared == 0 && a < b);
  });
  order = sorted;
}

SortedDestinations::~SortedDestinations() {
  std::free(keys);
  std::free(folderLength);
  std::free(order);
}

int SortedDestinations::compare(std::size_t i, const char* folder, std::size_t length,
                                const char* other) const {
  const int folders = std::memcmp(key(i), folder, std::min(folderLength[i], length));
  if (folders != 0) return folders;
  if (folderLength[i] != length) return folderLength[i] < length ? -1 : 1;
  return std::strcmp(name(i), other);
}

bool isNameSurrogate(const char* path, unsigned long attributes) {
  if ((attributes & platform::ATTRIBUTE_REPARSE_POINT) == 0) return false;
  unsigned long tag = 0;
  return !platform::reparseTag(path, &tag) || (tag & platform::REPARSE_TAG_NAME_SURROGATE) != 0;
}

bool isDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

PayloadListing::~PayloadListing() {
  std::free(items);
  std::free(text);
}

RunOutcome listPayload(const PayloadTrees& trees, const char* sourceRoot, const char* installDir,
                       PayloadListing* listing) {
  Lister lister{listing, {}, {}, sourceRoot};
  for (const PayloadTree& tree : trees) {
    if (!lister.listTree(tree, installDir)) {
      return lister.failure == nullptr ? stopRun(lister.message)
                                       : stopRunNaming(lister.message, lister.failure);
    }
    ++lister.tree;
  }
  return GO_ON;
}

// Where two trees give one destination, the later copy's item is the one that
// lands, and a file that replaces a file makes xcopy ask; xcopy cannot put a
// file where a folder is, or a folder where a file is.
RunOutcome keepWhatLands(PayloadListing* listing) {
  std::size_t copied = 0;
  for (std::size_t i = 0; i < listing->count; ++i) {
    if (listing->items[i].copied) listing->items[copied++] = listing->items[i];
  }
  listing->count = copied;
  const std::size_t count = listing->count;
  const SortedDestinations sorted(*listing);
  auto* replaced = static_cast<bool*>(std::calloc(count + 1, sizeof(bool)));
  if (!sorted.holdsAll() || replaced == nullptr) {
    std::free(replaced);
    return stopRun(NO_MEMORY_MESSAGE);
  }
  const std::size_t otherKind = markReplaced(listing, sorted, replaced);
  const RunOutcome outcome = otherKind < count
                                 ? stopRunNaming(FILE_AND_FOLDER_MESSAGE,
                                                 listing->destinationOf(listing->items[otherKind]))
                                 : GO_ON;
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (!replaced[i]) listing->items[kept++] = listing->items[i];
  }
  listing->count = kept;
  std::free(replaced);
  return outcome;
}
