#include "installer/update_checks.h"

#include "platform/platform.h"

namespace {

constexpr char NETWORK_PATH_MESSAGE[] =
    "setup.exe cannot copy the Mendrel2 files from a network path. Copy the distribution to a "
    "local drive, or map a drive letter to its share, and start setup.exe from there.\n\n"
    "Mendrel2 installation cannot continue.";
constexpr char NO_INSTALL_DIR_MESSAGE[] =
    "The installation directory \"%s\" does not exist.\n\nMendrel2 installation cannot continue.";
constexpr char NO_SOURCE_MESSAGE[] =
    "The folder \"%s\" of the Mendrel2 distribution is not in the current directory. Start "
    "setup.exe from the root of a complete Mendrel2 distribution.\n\n"
    "Mendrel2 installation cannot continue.";
constexpr char IN_USE_MESSAGE[] =
    "The file \"%s\" cannot be replaced: it is in use or read-only. Stop Lumeric Server 4.5 and "
    "every program that uses its files, then start setup.exe again.\n\n"
    "Mendrel2 installation cannot continue.";
constexpr char NO_SPACE_MESSAGE[] =
    "There is not enough free disk space for the Mendrel2 files in \"%s\".\n\n"
    "Mendrel2 installation cannot continue.";
constexpr char NOT_COPIED_MESSAGE[] =
    "The Mendrel2 file \"%s\" was not copied into the installation.\n\n"
    "The Service Level has not been changed. Mendrel2 installation did not complete.";

// FAT keeps write times in steps of 2 seconds.
constexpr unsigned long long TIME_TOLERANCE = 2ULL * 10000000ULL;

using platform::isFolder;

bool isFolderAt(const char* path) {
  platform::FileFacts facts;
  return platform::fileFacts(path, &facts) && isFolder(facts);
}

// The command interpreter cannot start in a UNC folder and would copy from the
// Windows folder instead.
RunOutcome checkNotOnNetworkPath() {
  ComposedText directory;
  if (platform::currentDirectory(directory, sizeof directory) && directory[0] == '\\' &&
      directory[1] == '\\') {
    return stopRun(NETWORK_PATH_MESSAGE);
  }
  return GO_ON;
}

RunOutcome checkFoldersExist(const char* installDir, const PayloadTrees& trees) {
  if (!isFolderAt(installDir)) return stopRunNaming(NO_INSTALL_DIR_MESSAGE, installDir);
  for (const PayloadTree& tree : trees) {
    if (!isFolderAt(tree.source)) return stopRunNaming(NO_SOURCE_MESSAGE, tree.source);
  }
  return GO_ON;
}

unsigned long long roundedUp(unsigned long long bytes, unsigned long long cluster) {
  return cluster == 0 ? bytes : (bytes + cluster - 1) / cluster * cluster;
}

// A destination that exists must be of the item's kind and, for a file, open
// for writing. Adds to *bytesAdded what the item's copy takes on the volume.
RunOutcome checkReplaceable(const PayloadItem& item, const char* destination,
                            unsigned long long cluster, unsigned long long* bytesAdded) {
  platform::FileFacts existing{0, 0, 0};
  const bool exists = platform::fileFacts(destination, &existing);
  if (exists && (isFolder(existing) != item.isFolder ||
                 (!item.isFolder && !platform::canOpenForWriting(destination)))) {
    return stopRunNaming(IN_USE_MESSAGE, destination);
  }
  if (!item.isFolder && item.size > existing.size) {
    *bytesAdded += roundedUp(item.size - existing.size, cluster);
  }
  return GO_ON;
}

// When the volume does not tell its free space, the check after the copies
// still finds what did not fit.
RunOutcome checkDestinations(const char* installDir, const PayloadListing& listing) {
  unsigned long long freeBytes = 0, cluster = 0;
  const bool spaceKnown = platform::volumeSpace(installDir, &freeBytes, &cluster);
  unsigned long long bytesAdded = 0;
  for (std::size_t i = 0; i < listing.count; ++i) {
    const PayloadItem& item = listing.items[i];
    const RunOutcome outcome =
        checkReplaceable(item, listing.destinationOf(item), cluster, &bytesAdded);
    if (outcome.stop) return outcome;
  }
  if (spaceKnown && bytesAdded > freeBytes) return stopRunNaming(NO_SPACE_MESSAGE, installDir);
  return GO_ON;
}

bool isInPlace(const PayloadListing& listing, const PayloadItem& item) {
  platform::FileFacts facts;
  if (!platform::fileFacts(listing.destinationOf(item), &facts)) return false;
  if (isFolder(facts) || item.isFolder) return isFolder(facts) == item.isFolder;
  const unsigned long long apart = facts.writeTime > item.writeTime
                                       ? facts.writeTime - item.writeTime
                                       : item.writeTime - facts.writeTime;
  return facts.size == item.size && apart <= TIME_TOLERANCE;
}

}  // namespace

RunOutcome checkUpdateCanComplete(const char* installDir, const PayloadTrees& trees,
                                  PayloadListing* listing) {
  RunOutcome outcome = checkNotOnNetworkPath();
  if (outcome.stop) return outcome;
  outcome = checkFoldersExist(installDir, trees);
  if (outcome.stop) return outcome;
  outcome = listPayload(trees, installDir, listing);
  if (outcome.stop) return outcome;
  return checkDestinations(installDir, *listing);
}

RunOutcome checkEveryItemInPlace(const PayloadListing& listing) {
  for (std::size_t i = 0; i < listing.count; ++i) {
    const PayloadItem& item = listing.items[i];
    if (!isInPlace(listing, item)) {
      return stopRunNaming(NOT_COPIED_MESSAGE, listing.destinationOf(item), EXIT_INCOMPLETE);
    }
  }
  return GO_ON;
}
