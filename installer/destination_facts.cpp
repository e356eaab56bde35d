// What stands at each destination of the listing, read one destination folder at a time.
#include "installer/destination_facts.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "installer/ansi_text.h"
#include "installer/payload_listing.h"

namespace {

// The facts of a listing's destinations, taken from its sorted destinations.
struct FolderReads {
  const PayloadListing& listing;
  const SortedDestinations& sorted;
  DestinationFact* facts;

  // The position in sorted order of the item at folder and name, or count when none is.
  std::size_t find(const char* folder, std::size_t length, const char* name, std::size_t begin,
                   std::size_t end) const {
    const std::size_t* order = sorted.order;
    const std::size_t* at = std::lower_bound(
        order + begin, order + end, 0,
        [&](std::size_t i, int) { return sorted.compare(i, folder, length, name) < 0; });
    const bool found = at != order + end && sorted.compare(*at, folder, length, name) == 0;
    return found ? static_cast<std::size_t>(at - order) : listing.count;
  }

  // True when the folder of item i is itself an item that was read as missing.
  bool folderIsMissing(std::size_t i) const {
    ComposedText folder;
    (void)std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(sorted.folderLength[i]),
                        sorted.key(i));
    const std::size_t split = lastSeparator(folder);
    folder[split] = '\0';
    const std::size_t at = find(folder, split, folder + split + 1, 0, listing.count);
    return at < listing.count && facts[sorted.order[at]].known && !facts[sorted.order[at]].exists;
  }

  // Reads the folder of the items at sorted positions [begin, end), which share it.
  void readFolder(std::size_t begin, std::size_t end) {
    const std::size_t first = sorted.order[begin], length = sorted.folderLength[first];
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
      const std::size_t at = find(sorted.key(first), length, found.name, begin, end);
      if (at < listing.count) facts[sorted.order[at]] = DestinationFact{true, true, found.facts};
    }
    if (search != nullptr) platform::findClose(search);
    // Read to its end, or not there at all: what was not found does not exist.
    if (result != platform::RESULT_NO_MORE_FILES && result != platform::RESULT_FILE_NOT_FOUND &&
        result != platform::RESULT_PATH_NOT_FOUND) {
      return;
    }
    for (std::size_t at = begin; at < end; ++at) facts[sorted.order[at]].known = true;
  }

  void readEachFolder() {
    const std::size_t* order = sorted.order;
    for (std::size_t begin = 0; begin < listing.count;) {
      std::size_t end = begin;
      while (end < listing.count &&
             sorted.folderLength[order[end]] == sorted.folderLength[order[begin]] &&
             std::memcmp(sorted.key(order[end]), sorted.key(order[begin]),
                         sorted.folderLength[order[begin]]) == 0) {
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
  facts->items =
      static_cast<DestinationFact*>(std::calloc(listing.count + 1, sizeof(DestinationFact)));
  const SortedDestinations sorted(listing);
  if (facts->items != nullptr && sorted.holdsAll()) {
    FolderReads{listing, sorted, facts->items}.readEachFolder();
  }
}

bool factsAtDestination(const PayloadListing& listing, const DestinationFacts& facts,
                        std::size_t index, platform::FileFacts* found) {
  if (facts.items != nullptr && facts.items[index].known) {
    *found = facts.items[index].facts;
    return facts.items[index].exists;
  }
  return platform::fileFacts(listing.destinationOf(listing.items[index]), found);
}
