// Whether anyone but the administrators could change what the copies install:
// the owner and the DACL of every item that the copies read.
#include "installer/distribution_access.h"

#include <cstdio>
#include <cstring>

#include "installer/access_rules.h"
#include "installer/ansi_text.h"
#include "installer/messages.h"
#include "platform/platform.h"

namespace {

// Windows' xcopy reads no longer path than it writes, as the listing says.
constexpr std::size_t LONGEST_SOURCE = 254;

using FullPath = char[2 * COMPOSED_SIZE];  // the current directory and a source path

bool isDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
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
    if (characterCount(sourceRoot) + characterCount(path) > LONGEST_SOURCE) {
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

  // setup.exe's folder and file, and the current directory where it is another.
  RunOutcome checkProgramAndRoot() {
    ComposedText program, folder;
    if (!platform::programPath(program, sizeof program)) {
      return stopRunNaming(OPEN_DISTRIBUTION_MESSAGE, "setup.exe");
    }
    (void)std::snprintf(folder, sizeof folder, "%s", program);
    folder[lastSeparator(folder) + 1] = '\0';
    RunOutcome outcome = checkItem(folder, folder);
    if (!outcome.stop && std::strcmp(folder, sourceRoot) != 0) {
      outcome = checkItem(sourceRoot[0] != '\0' ? sourceRoot : ".", sourceRoot);
    }
    return outcome.stop ? outcome : checkItem(program, program);
  }
};

}  // namespace

RunOutcome checkOnlyAdministratorsCanChange(const char* sourceRoot, const PayloadTrees& trees) {
  unsigned long flags = 0;
  if (platform::volumeFlags(sourceRoot[0] != '\0' ? sourceRoot : ".", &flags)) {
    if ((flags & platform::VOLUME_READ_ONLY) != 0) return GO_ON;  // nobody can change it
    if ((flags & platform::VOLUME_PERSISTENT_ACLS) == 0) {
      return stopRunNaming(OPEN_DISTRIBUTION_MESSAGE, sourceRoot);
    }
  }
  unsigned char user[SID_SIZE];
  const bool userKnown = platform::processUser(user, sizeof user);
  static_assert(sizeof(AccessWalk) < 80UL * 1024, "a frame of the run's thread");
  AccessWalk walk{sourceRoot, userKnown ? user : nullptr, {}, {}};
  RunOutcome outcome = walk.checkProgramAndRoot();
  for (const PayloadTree& tree : trees) {
    if (outcome.stop) return outcome;
    (void)std::snprintf(walk.path, sizeof walk.path, "%s", tree.source);
    outcome = walk.checkTree();
  }
  return outcome;
}
