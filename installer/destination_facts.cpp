// What stands at each destination of the listing, read one destination folder at a time.
#include "installer/destination_facts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/ansi_text.h"

namespace {

// Where the last backslash of text stands that is a character of its own.
std::size_t lastSeparator(const char* text) {
  std::size_t at = 0;
  for (const char* c = text; *c != '\0'; c = nextCharacter(c)) {
    if (*c == '\\') at = static_cast<std::size_t>(c - text);
  }
  return at;
}

// The destinations in upper case, as Windows compares names, each split into
// its folder and its name; order holds the items sorted by folder, then name.
struct Destinations {
  const PayloadListing& listing;
  DestinationFact* facts;
  char* keys;
  std::size_t* folderLength;
  std::size_t* order;

  const char* key(std::size_t i) const { return keys + listing.items[i].destination; }
  const char* name(std::size_t i) const { return key(i) + folderLength[i] + 1; }

  // Below, at or above zero as item i sorts before, at or after folder and name.
  int compare(std::size_t i, const char* folder, std::size_t length, const char* other) const {
    const int folders = std::memcmp(key(i), folder, std::min(folderLength[i], length));
    if (folders != 0) return folders;
    if (folderLength[i] != length) return folderLength[i] < length ? -1 : 1;
    return std::strcmp(name(i), other);
  }

  void sort() {
    const std::size_t count = listing.count;
    std::memcpy(keys, listing.text, listing.textSize);
    platform::upperCase(keys, static_cast<unsigned long>(listing.textSize));
    for (std::size_t i = 0; i < count; ++i) {
      folderLength[i] = lastSeparator(key(i));
      order[i] = i;
    }
    std::sort(order, order + count, [&](std::size_t a, std::size_t b) {
      return compare(a, key(b), folderLength[b], name(b)) < 0;
    });
  }

  // The position in order of the item at folder and name, or count when none is.
  std::size_t find(const char* folder, std::size_t length, const char* other, std::size_t begin,
                   std::size_t end) const {
    const std::size_t* at =
        std::lower_bound(order + begin, order + end, 0,
                         [&](std::size_t i, int) { return compare(i, folder, length, other) < 0; });
    const bool found = at != order + end && compare(*at, folder, length, other) == 0;
    return found ? static_cast<std::size_t>(at - order) : listing.count;
  }

  // True when the folder of item i is itself an item that was read as missing.
  bool folderIsMissing(std::size_t i) const {
    ComposedText folder;
    (void)std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(folderLength[i]), key(i));
    const std::size_t split = lastSeparator(folder);
    folder[split] = '\0';
    const std::size_t at = find(folder, split, folder + split + 1, 0, listing.count);
    return at < listing.count && facts[order[at]].known && !facts[order[at]].exists;
  }

  // Reads the folder of the items at order[begin, end), which share it.
  void readFolder(std::size_t begin, std::size_t end) {
    const std::size_t first = order[begin], length = folderLength[first];
    long result = platform::RESULT_FILE_NOT_FOUND;
    platform::SearchHandle search = nullptr;
    platform::FoundFile found;
    if (!folderIsMissing(first)) {
      ComposedText pattern;
      (void)std::snprintf(pattern, sizeof pattern, "%.*s\\*", static_cast<int>(length),
                          listing.text + listing.items[first].destination);
      result = platform::findFirstFile(pattern, &search, &found);
      if (result != platform::RESULT_SUCCESS) search = nullptr;
    }
    for (; result == platform::RESULT_SUCCESS; result = platform::findNextFile(search, &found)) {
      platform::upperCase(found.name, static_cast<unsigned long>(std::strlen(found.name)));
      const std::size_t at = find(key(first), length, found.name, begin, end);
      if (at < listing.count) facts[order[at]] = DestinationFact{true, true, found.facts};
    }
    if (search != nullptr) platform::findClose(search);
    // Read to its end, or not there at all: what was not found does not exist.
    if (result != platform::RESULT_NO_MORE_FILES && result != platform::RESULT_FILE_NOT_FOUND &&
        result != platform::RESULT_PATH_NOT_FOUND) {
      return;
    }
    for (std::size_t at = begin; at < end; ++at) facts[order[at]].known = true;
  }

  void readEachFolder() {
    for (std::size_t begin = 0; begin < listing.count;) {
      std::size_t end = begin + 1;
      while (end < listing.count && folderLength[order[end]] == folderLength[order[begin]] &&
             std::memcmp(key(order[end]), key(order[begin]), folderLength[order[begin]]) == 0) {
        ++end;
      }
      readFolder(begin, end);
      begin = end;
    }
  }
};

}  // namespace

DestinationFacts::~DestinationFacts() { std::free(items); }

void readDestinations(const PayloadListing& listing, DestinationFacts* facts) {
  const std::size_t count = listing.count;
  facts->items = static_cast<DestinationFact*>(std::calloc(count + 1, sizeof(DestinationFact)));
  auto* keys = static_cast<char*>(std::malloc(listing.textSize + 1));
  auto* folderLength = static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)));
  auto* order = static_cast<std::size_t*>(std::malloc((count + 1) * sizeof(std::size_t)));
  if (facts->items != nullptr && keys != nullptr && folderLength != nullptr && order != nullptr) {
    Destinations destinations{listing, facts->items, keys, folderLength, order};
    destinations.sort();
    destinations.readEachFolder();
  }
  std::free(keys);
  std::free(folderLength);
  std::free(order);
}

bool factsAtDestination(const PayloadListing& listing, const DestinationFacts& facts,
                        std::size_t index, platform::FileFacts* found) {
  if (facts.items != nullptr && facts.items[index].known) {
    *found = facts.items[index].facts;
    return facts.items[index].exists;
  }
  return platform::fileFacts(listing.destinationOf(listing.items[index]), found);
}
