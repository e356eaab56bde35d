// Whether anyone but the administrators could change what the copies install:
// the owner and the DACL of every item that the copies read, and their digests.
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

RunOutcome refuse(const char* named, const char* reason) {
  return stopRunNaming(OPEN_DISTRIBUTION_MESSAGE, named, EXIT_UNCHANGED, reason);
}

// One read per item, into one buffer for the whole walk.
struct AccessWalk {
  const char* sourceRoot;
  const unsigned char* user;  // the SID of the account running setup.exe, or null
  platform::DigesterHandle digester;
  unsigned char descriptor[DESCRIPTOR_SIZE];

  RunOutcome judge(bool read, unsigned long length, const char* named) {
    if (!read) return refuse(named, UNREADABLE_PERMISSIONS);
    AccessReason reason;
    if (onlyAdministratorsCanChange(descriptor, length, user, reason)) return GO_ON;
    return refuse(named, reason);
  }

  RunOutcome checkItem(const char* item, const char* named) {
    unsigned long length = 0;
    const bool read = platform::fileSecurity(item, descriptor, sizeof descriptor, &length);
    return judge(read, length, named);
  }

  // A file's permissions (where security) and digest (where it is copied and a
  // digester is at hand) from one handle. A file held open without read sharing
  // still gives its permissions; its digest is then unreadable.
  RunOutcome readFile(PayloadItem& item, const char* path, const char* named, bool security) {
    platform::FileReading reading;
    reading.descriptor = security ? descriptor : nullptr;
    reading.size = sizeof descriptor;
    reading.digester = item.copied ? digester : nullptr;
    reading.streams = true;  // xcopy copies them, and the digest covers the file's own
    if (reading.descriptor == nullptr && reading.digester == nullptr) return GO_ON;
    // A link's own bytes are read: the seal refuses it all the same.
    reading.throughFilter = (item.attributes & platform::ATTRIBUTE_REPARSE_POINT) != 0 &&
                            !isNameSurrogate(path, item.attributes);
    platform::FileRead read = platform::readFile(path, &reading);
    if (read == platform::FileRead::NOT_OPENED && reading.digester != nullptr) {
      item.digestRead = DigestRead::UNREADABLE;
      reading.digester = nullptr;
      if (!security) return GO_ON;
      read = platform::readFile(path, &reading);
    }
    if (reading.digester != nullptr) {
      item.digestRead =
          read == platform::FileRead::READ ? DigestRead::READ : DigestRead::UNREADABLE;
      std::memcpy(item.digest, reading.digest, sizeof item.digest);
      item.otherStream = reading.otherStream;
    }
    if (!security) return GO_ON;
    return judge(read == platform::FileRead::READ || read == platform::FileRead::DATA_UNREADABLE,
                 reading.length, named);
  }

  // An item of the listing, named by its full path.
  RunOutcome checkListed(PayloadItem& item, const char* path, bool security) {
    FullPath full;
    (void)std::snprintf(full, sizeof full, "%s%s", sourceRoot, path);
    if (item.isFolder) return security ? checkItem(path, full) : GO_ON;
    return readFile(item, path, full, security);
  }

  // setup.exe's folder and file, which may lie on another volume than the distribution.
  RunOutcome checkProgram(ComposedText& folder) {
    ComposedText program;
    if (!platform::programPath(program, sizeof program)) {
      return refuse("setup.exe", UNREADABLE_PERMISSIONS);
    }
    (void)std::snprintf(folder, sizeof folder, "%s", program);
    folder[lastSeparator(folder) + 1] = '\0';
    const Volume volume = volumeOf(folder);
    if (volume == Volume::ANYONE_CAN_CHANGE) return refuse(folder, NO_PERMISSIONS_KEPT);
    if (volume == Volume::NOBODY_CAN_CHANGE) return GO_ON;
    const RunOutcome outcome = checkItem(folder, folder);
    return outcome.stop ? outcome : checkItem(program, program);
  }

  // The current directory, where it is another folder than setup.exe's, and the listing.
  RunOutcome checkDistribution(const char* programFolder, PayloadListing* listing) {
    const Volume volume = volumeOf(sourceRoot);
    if (volume == Volume::ANYONE_CAN_CHANGE) return refuse(sourceRoot, NO_PERMISSIONS_KEPT);
    const bool security = volume == Volume::READ_EACH;
    RunOutcome outcome = GO_ON;
    if (security && std::strcmp(programFolder, sourceRoot) != 0) {
      outcome = checkItem(sourceRoot[0] != '\0' ? sourceRoot : ".", sourceRoot);
    }
    for (std::size_t i = 0; i < listing->count && !outcome.stop; ++i) {
      PayloadItem& item = listing->items[i];
      outcome = checkListed(item, listing->sourceOf(item), security);
    }
    return outcome;
  }
};

}  // namespace

RunOutcome checkOnlyAdministratorsCanChange(const char* sourceRoot, PayloadListing* listing,
                                            platform::DigesterHandle digester) {
  unsigned char user[SID_SIZE];
  const bool userKnown = platform::processUser(user, sizeof user);
  static_assert(sizeof(AccessWalk) < 80UL * 1024, "a frame of the run's thread");
  AccessWalk walk{sourceRoot, userKnown ? user : nullptr, digester, {}};
  ComposedText programFolder;
  const RunOutcome outcome = walk.checkProgram(programFolder);
  return outcome.stop ? outcome : walk.checkDistribution(programFolder, listing);
}
