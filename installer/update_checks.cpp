// The checks at both ends of the copies.
#include "installer/update_checks.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "installer/ansi_text.h"
#include "installer/copy_commands.h"
#include "installer/destination_facts.h"
#include "installer/distribution_access.h"
#include "installer/messages.h"
#include "installer/release_seal.h"
#include "platform/platform.h"

namespace {

constexpr char COPY_SWITCHES_VARIABLE[] = "COPYCMD";

// FAT keeps write times in steps of 2 seconds.
constexpr unsigned long long TIME_TOLERANCE = 2ULL * 10000000ULL;

using platform::describesFolder;

// Windows' copy refuses to replace such a file.
constexpr unsigned long PROTECTING_ATTRIBUTES =
    platform::ATTRIBUTE_READONLY | platform::ATTRIBUTE_HIDDEN | platform::ATTRIBUTE_SYSTEM;

// What the copies will do at their destinations.
struct DestinationTally {
  unsigned long long bytesAdded = 0;  // on the volume, in whole clusters
  bool replacesFiles = false;
};

bool isFolderAt(const char* path) {
  platform::FileFacts facts;
  return platform::fileFacts(path, &facts) && describesFolder(facts);
}

// The command interpreter cannot start in a UNC folder and would copy from the
// Windows folder instead.
RunOutcome checkNotOnNetworkPath(const char* sourceRoot) {
  if (sourceRoot[0] == '\\' && sourceRoot[1] == '\\') return stopRun(NETWORK_PATH_MESSAGE);
  return GO_ON;
}

// True when found is a file that cmd.exe would run for "xcopy": xcopy with an
// extension of extensions (";.EXT;...;" in upper case), compared as Windows
// compares names.
bool runsAsXcopy(const platform::FoundFile& found, const char* extensions) {
  constexpr char STEM[] = "XCOPY";
  ComposedText name, extension;
  (void)std::snprintf(name, sizeof name, "%s", found.name);
  platform::upperCase(name, static_cast<unsigned long>(std::strlen(name)));
  if (describesFolder(found.facts) || std::strncmp(name, STEM, sizeof STEM - 1) != 0) return false;
  (void)std::snprintf(extension, sizeof extension, ";%s;", name + sizeof STEM - 1);
  return name[sizeof STEM - 1] == '.' && std::strstr(extensions, extension) != nullptr;
}

// cmd.exe looks for xcopy in the current folder before PATH. The copies turn
// that off, but Windows before Vista and Wine do not honour the switch.
RunOutcome checkNoXcopyPlanted(const char* sourceRoot) {
  constexpr char EXTENSIONS[] = ";" COPY_EXTENSIONS_TEXT ";";
  ComposedText pattern;
  (void)std::snprintf(pattern, sizeof pattern, "%s*", sourceRoot);
  platform::SearchHandle search = nullptr;
  platform::FoundFile found;
  long result = platform::findFirstFile(pattern, &search, &found);
  if (result != platform::RESULT_SUCCESS) return GO_ON;
  while (result == platform::RESULT_SUCCESS && !runsAsXcopy(found, EXTENSIONS)) {
    result = platform::findNextFile(search, &found);
  }
  platform::findClose(search);
  if (result != platform::RESULT_SUCCESS) return GO_ON;
  ComposedText path;
  (void)std::snprintf(path, sizeof path, "%s%s", sourceRoot, found.name);
  return stopRunNaming(PLANTED_MESSAGE, path);
}

RunOutcome checkSourcesExist(const PayloadTrees& trees) {
  for (const PayloadTree& tree : trees) {
    if (!isFolderAt(tree.source)) return stopRunNaming(NO_SOURCE_MESSAGE, tree.source);
  }
  return GO_ON;
}

RunOutcome checkInstallDirExists(const char* installDir) {
  if (!isFolderAt(installDir)) return stopRunNaming(NO_INSTALL_DIR_MESSAGE, installDir);
  return GO_ON;
}

unsigned long long roundedUp(unsigned long long bytes, unsigned long long cluster) {
  return cluster == 0 ? bytes : (bytes + cluster - 1) / cluster * cluster;
}

// A destination that exists must be no link that sends the copy elsewhere, be
// of the item's kind and, for a file, have none of the protecting attributes,
// open for writing and have no other name, whose file xcopy would rewrite too.
RunOutcome checkReplaceable(const PayloadItem& item, const char* destination, bool exists,
                            const platform::FileFacts& existing, unsigned long long cluster,
                            DestinationTally* tally) {
  if (exists && isNameSurrogate(destination, existing.attributes)) {
    return stopRunNaming(LINK_MESSAGE, destination);
  }
  if (exists && describesFolder(existing) != item.isFolder) {
    return stopRunNaming(KIND_IN_THE_WAY_MESSAGE, destination);
  }
  if (item.isFolder) return GO_ON;
  if (exists && (existing.attributes & PROTECTING_ATTRIBUTES) != 0) {
    return stopRunNaming(PROTECTED_MESSAGE, destination);
  }
  unsigned long names = 1;
  if (exists && !platform::canOpenForWriting(destination, &names)) {
    return stopRunNaming(IN_USE_MESSAGE, destination);
  }
  if (names != 1) return stopRunNaming(LINK_MESSAGE, destination);
  if (item.size > existing.size) tally->bytesAdded += roundedUp(item.size - existing.size, cluster);
  tally->replacesFiles = tally->replacesFiles || exists;
  return GO_ON;
}

// When the volume does not tell its free space, the check after the copies
// still finds what did not fit.
RunOutcome checkDestinations(const char* installDir, const PayloadListing& listing,
                             DestinationTally* tally) {
  unsigned long long freeBytes = 0, cluster = 0;
  const bool spaceKnown = platform::volumeSpace(installDir, &freeBytes, &cluster);
  DestinationFacts destinations;
  readDestinations(listing, &destinations);
  for (std::size_t i = 0; i < listing.count; ++i) {
    const PayloadItem& item = listing.items[i];
    platform::FileFacts existing{0, 0, 0};
    const bool exists = factsAtDestination(listing, destinations, i, &existing);
    const RunOutcome outcome =
        checkReplaceable(item, listing.destinationOf(item), exists, existing, cluster, tally);
    if (outcome.stop) return outcome;
  }
  if (spaceKnown && tally->bytesAdded > freeBytes) {
    return stopRunNaming(NO_SPACE_MESSAGE, installDir);
  }
  return GO_ON;
}

// word's length characters are name (in upper case) in either case, as the C
// locale's toupper compares ASCII letters.
bool isSwitch(const char* word, std::size_t length, const char* name) {
  if (length != std::strlen(name)) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::toupper(static_cast<unsigned char>(word[i])) != name[i]) return false;
  }
  return true;
}

// xcopy takes switches from COPYCMD before its command line, without regard to
// case; of /Y and /-Y the last one counts.
bool copiesReplaceWithoutAsking() {
  const char* switches = platform::environmentValue(COPY_SWITCHES_VARIABLE);
  bool replaces = false;
  for (const char* c = switches != nullptr ? switches : ""; *c != '\0';) {
    const std::size_t length = std::strcspn(c, " \t");
    if (isSwitch(c, length, "/Y")) replaces = true;
    if (isSwitch(c, length, "/-Y")) replaces = false;
    c += length;
    c += std::strspn(c, " \t");
  }
  return replaces;
}

// Where no screen is, nobody can answer xcopy's question before it replaces a file.
RunOutcome checkReplacingNeedsNoAnswer(const Session& session, bool replacesFiles) {
  if (session.boxesCanBeSeen || !replacesFiles || copiesReplaceWithoutAsking()) return GO_ON;
  return stopRun(UNANSWERABLE_MESSAGE);
}

// What a link points to is no file that the check can vouch for.
bool isInPlace(const PayloadItem& item, const char* destination, bool exists,
               const platform::FileFacts& facts) {
  if (!exists || isNameSurrogate(destination, facts.attributes)) return false;
  if (describesFolder(facts) || item.isFolder) return describesFolder(facts) == item.isFolder;
  const unsigned long long apart = facts.writeTime > item.writeTime
                                       ? facts.writeTime - item.writeTime
                                       : item.writeTime - facts.writeTime;
  return facts.size == item.size && apart <= TIME_TOLERANCE;
}

// The current directory ending in a backslash. An ANSI one always fits; one
// that could not be read stands as empty, relative paths then naming what is in it.
void readSourceRoot(ComposedText& sourceRoot) {
  if (!platform::currentDirectory(sourceRoot, sizeof sourceRoot - 1)) sourceRoot[0] = '\0';
  const std::size_t length = std::strlen(sourceRoot);
  if (length == 0 || endsInBackslash(sourceRoot)) return;
  sourceRoot[length] = '\\';  // the buffer kept room for it
  sourceRoot[length + 1] = '\0';
}

}  // namespace

RunOutcome checkUpdateCanComplete(const char* installDir, const PayloadTrees& trees,
                                  const Session& session, const ReleaseSeal& seal,
                                  PayloadListing* listing) {
  ComposedText sourceRoot;
  readSourceRoot(sourceRoot);
  RunOutcome outcome = checkNotOnNetworkPath(sourceRoot);
  if (outcome.stop) return outcome;
  outcome = checkNoXcopyPlanted(sourceRoot);
  if (outcome.stop) return outcome;
  outcome = checkSourcesExist(trees);
  if (outcome.stop) return outcome;
  // What the distribution holds is judged before anything of the installation,
  // from one walk of the trees and one read of each file.
  outcome = listPayload(trees, sourceRoot, installDir, listing);
  if (outcome.stop) return outcome;
  outcome = checkOnlyAdministratorsCanChange(sourceRoot, listing, seal.digester);
  if (outcome.stop) return outcome;
  outcome = checkSealedTrees(seal, sourceRoot, trees, *listing);
  if (outcome.stop) return outcome;
  outcome = checkInstallDirExists(installDir);
  if (outcome.stop) return outcome;
  outcome = keepWhatLands(listing);
  if (outcome.stop) return outcome;
  DestinationTally tally;
  outcome = checkDestinations(installDir, *listing, &tally);
  if (outcome.stop) return outcome;
  return checkReplacingNeedsNoAnswer(session, tally.replacesFiles || listing->replacesOwnFiles);
}

RunOutcome checkEveryItemInPlace(const PayloadListing& listing, const ReleaseSeal& seal) {
  DestinationFacts destinations;
  readDestinations(listing, &destinations);
  for (std::size_t i = 0; i < listing.count; ++i) {
    const PayloadItem& item = listing.items[i];
    platform::FileFacts facts{0, 0, 0};
    const bool exists = factsAtDestination(listing, destinations, i, &facts);
    if (!isInPlace(item, listing.destinationOf(item), exists, facts)) {
      return stopRunNaming(NOT_COPIED_MESSAGE, listing.destinationOf(item), EXIT_INCOMPLETE);
    }
  }
  return checkInstalledBytes(seal, listing);
}
