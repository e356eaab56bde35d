// Whether anyone but the administrators could change what the copies install:
// the owner and the DACL of every item that the copies read.
#include "installer/distribution_access.h"

#include <cstdio>
#include <cstring>

#include "installer/access_rules.h"
#include "installer/ansi_text.h"
#include "installer/messages.h"
#include "installer/payload_listing.h"
#include "platform/platform.h"

namespace {

using FullPath = char[2 * COMPOSED_SIZE];  // the current directory and a source path

// What the volume that holds path says of who may change its items.
enum class Volume {
  READ_EACH,          // the items' permissions tell, or the volume could not be asked
  NOBODY_CAN_CHANGE,  // read-only, such as a DVD or a mounted ISO image
  ANYONE_CAN_CHANGE,  // no permissions kept, as on FAT32 or exFAT
};

Volume volumeOf(const char* path) {
  unsigned long flags = 0;
  if (path[0] == '\0' || !platform::volumeFlags(path, &flags)) return Volume::READ_EACH;
  if ((flags & platform::VOLUME_READ_ONLY) != 0) return Volume::NOBODY_CAN_CHANGE;
  if ((flags & platform::VOLUME_PERSISTENT_ACLS) == 0) return Volume::ANYONE_CAN_CHANGE;
  return Volume::READ_EACH;
}

// One security read per item, into one buffer for the whole walk.
struct AccessWalk {
  const char* sourceRoot;
  const unsigned char* user;  // the SID of the account running setup.exe, or null
  FullPath path;              // a tree's item, relative to the current directory
  unsigned char descriptor[DESCRIPTOR_SIZE];

  RunOutcome checkItem(const char* item, const char* named) {
    if (platform::fileSecurity(item, descriptor, sizeof descriptor) &&
        onlyAdministratorsCanChange(descriptor, sizeof descriptor, user)) {
      return GO_ON;
    }
    return stopRunNaming(OPEN_DISTRIBUTION_MESSAGE, named);
  }

  // The item at path, which is named by its full path.
  RunOutcome checkSource() {
    FullPath full;
    (void)std::snprintf(full, sizeof full, "%s%s", sourceRoot, path);
    if (characterCount(sourceRoot) + characterCount(path) > LONGEST_FILE) {
      return stopRunNaming(SOURCE_TOO_LONG_MESSAGE, full);
    }
    return checkItem(path, full);
  }

  RunOutcome checkFound(const platform::FoundFile& found, std::size_t length) {
    if (isDotEntry(found.name)) return GO_ON;
    // A name that fills the buffer may have been cut: it cannot be read by name.
    if (std::strlen(found.name) + 1 >= sizeof found.name) {
      return stopRunNaming(UNREADABLE_MESSAGE, path);
    }
    (void)std::snprintf(path + length, sizeof path - length, "\\%s", found.name);
    const RunOutcome outcome = platform::describesFolder(found.facts) ? checkTree() : checkSource();
    path[length] = '\0';
    return outcome;
  }

  // The folder at path, and everything below it.
  RunOutcome checkTree() {
    RunOutcome outcome = checkSource();
    if (outcome.stop) return outcome;
    const std::size_t length = std::strlen(path);
    (void)std::snprintf(path + length, sizeof path - length, "\\*");
    platform::SearchHandle search = nullptr;
    platform::FoundFile found;
    long result = platform::findFirstFile(path, &search, &found);
    path[length] = '\0';
    if (result == platform::RESULT_FILE_NOT_FOUND) return GO_ON;  // not even "." in it
    if (result != platform::RESULT_SUCCESS) return stopRunNaming(UNREADABLE_MESSAGE, path);
    outcome = checkFound(found, length);
    while (!outcome.stop &&
           (result = platform::findNextFile(search, &found)) == platform::RESULT_SUCCESS) {
      outcome = checkFound(found, length);
    }
    platform::findClose(search);
    if (!outcome.stop && result != platform::RESULT_NO_MORE_FILES) {
      return stopRunNaming(UNREADABLE_MESSAGE, path);
    }
    return outcome;
  }

  // setup.exe's folder and file, which may lie on another volume than the distribution.
  RunOutcome checkProgram(ComposedText& folder) {
    ComposedText program;
    if (!platform::programPath(program, sizeof program)) {
      return stopRunNaming(OPEN_DISTRIBUTION_MESSAGE, "setup.exe");
    }
    (void)std::snprintf(folder, sizeof folder, "%s", program);
    folder[lastSeparator(folder) + 1] = '\0';
    const Volume volume = volumeOf(folder);
    if (volume == Volume::ANYONE_CAN_CHANGE)
      return stopRunNaming(OPEN_DISTRIBUTION_MESSAGE, folder);
    if (volume == Volume::NOBODY_CAN_CHANGE) return GO_ON;
    const RunOutcome outcome = checkItem(folder, folder);
    return outcome.stop ? outcome : checkItem(program, program);
  }

  // The current directory, where it is another folder than setup.exe's, and the trees.
  RunOutcome checkDistribution(const char* programFolder, const PayloadTrees& trees) {
    const Volume volume = volumeOf(sourceRoot);
    if (volume == Volume::ANYONE_CAN_CHANGE) {
      return stopRunNaming(OPEN_DISTRIBUTION_MESSAGE, sourceRoot);
    }
    if (volume == Volume::NOBODY_CAN_CHANGE) return GO_ON;
    RunOutcome outcome = GO_ON;
    if (std::strcmp(programFolder, sourceRoot) != 0) {
      outcome = checkItem(sourceRoot[0] != '\0' ? sourceRoot : ".", sourceRoot);
    }
    for (const PayloadTree& tree : trees) {
      if (outcome.stop) return outcome;
      (void)std::snprintf(path, sizeof path, "%s", tree.source);
      outcome = checkTree();
    }
    return outcome;
  }
};

}  // namespace

RunOutcome checkOnlyAdministratorsCanChange(const char* sourceRoot, const PayloadTrees& trees) {
  unsigned char user[SID_SIZE];
  const bool userKnown = platform::processUser(user, sizeof user);
  static_assert(sizeof(AccessWalk) < 80UL * 1024, "a frame of the run's thread");
  AccessWalk walk{sourceRoot, userKnown ? user : nullptr, {}, {}};
  ComposedText programFolder;
  const RunOutcome outcome = walk.checkProgram(programFolder);
  return outcome.stop ? outcome : walk.checkDistribution(programFolder, trees);
}
