// Who may change a file or folder: its owner and the allow entries of its DACL.
#include "installer/access_rules.h"

#include <cstdio>
#include <cstring>

#include "installer/messages.h"

namespace {

// A self-relative SECURITY_DESCRIPTOR: revision, padding, control (2 bytes),
// then the offsets (4 bytes each) of the owner, group, SACL and DACL.
constexpr std::size_t CONTROL = 2, OWNER = 4, DACL = 16;
constexpr unsigned long DACL_PRESENT = 0x4;  // SE_DACL_PRESENT
// An ACL: revision, padding, size (2), entry count (2), padding (2). An entry:
// type, flags, size (2), then for the kinds weighed here the mask (4) and the SID.
constexpr std::size_t ACL_HEADER = 8, ENTRY_MASK = 4, ENTRY_SID = 8;
constexpr unsigned char ALLOWED = 0x0, ALLOWED_CALLBACK = 0x9;
constexpr unsigned char DENIED_KINDS[] = {0x1, 0x6, 0xA, 0xC};  // plain, object, callback ones
constexpr unsigned char INHERIT_ONLY = 0x8;

// FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_WRITE_EA, FILE_DELETE_CHILD,
// FILE_WRITE_ATTRIBUTES, DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE.
constexpr unsigned long CHANGING_RIGHTS =
    0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

// Administrators, SYSTEM, TrustedInstaller; a domain's Administrator, Domain
// Admins and Enterprise Admins.
constexpr const char* ADMINISTRATIVE_ACCOUNTS[] = {
    "S-1-5-32-544", "S-1-5-18", "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
constexpr unsigned long ADMINISTRATIVE_DOMAIN_ACCOUNTS[] = {500, 512, 519};

// CREATOR OWNER, a placeholder that grants nobody anything on the item itself, and
// OWNER RIGHTS, which stands for the owner, itself an administrator.
constexpr const char* OWNER_STAND_INS[] = {"S-1-3-0", "S-1-3-4"};

// Bytes of a descriptor, read only within their bounds.
struct Bytes {
  const unsigned char* data;
  std::size_t size;

  [[nodiscard]] bool holds(std::size_t offset, std::size_t length) const {
    return offset <= size && length <= size - offset;
  }
  [[nodiscard]] unsigned long number(std::size_t offset, std::size_t length) const {
    unsigned long value = 0;
    for (std::size_t i = length; i-- > 0;) value = value << 8 | data[offset + i];
    return value;
  }
};

// A SID: revision, count of sub-authorities, a 6-byte authority (most significant
// byte first), and the sub-authorities (4 bytes each).
struct Sid {
  const unsigned char* bytes = nullptr;
  std::size_t length = 0;
  char text[16 * 11 + 24] = {};  // "S-1-" and up to 15 numbers
  std::size_t count = 0;
  unsigned long last = 0;  // the last sub-authority
};

bool readSid(const Bytes& bytes, std::size_t offset, Sid* sid) {
  if (offset == 0 || !bytes.holds(offset, 8)) return false;
  const std::size_t count = bytes.data[offset + 1];
  if (count > 15 || !bytes.holds(offset, 8 + 4 * count)) return false;
  unsigned long long authority = 0;
  for (std::size_t i = 2; i < 8; ++i) authority = authority << 8 | bytes.data[offset + i];
  sid->bytes = bytes.data + offset;
  sid->length = 8 + 4 * count;
  sid->count = count;
  int written =
      std::snprintf(sid->text, sizeof sid->text, "S-%u-%llu", bytes.data[offset], authority);
  for (std::size_t i = 0; i < count; ++i) {
    sid->last = bytes.number(offset + 8 + 4 * i, 4);
    written += std::snprintf(sid->text + written, sizeof sid->text - written, "-%lu", sid->last);
  }
  return true;
}

template <std::size_t N>
bool isListed(const Sid& sid, const char* const (&list)[N]) {
  for (const char* listed : list) {
    if (std::strcmp(sid.text, listed) == 0) return true;
  }
  return false;
}

// A domain's account or group S-1-5-21-x-y-z-rid, with rid one of rids.
template <std::size_t N>
bool isDomainAccount(const Sid& sid, const unsigned long (&rids)[N]) {
  if (sid.count != 5 || std::strncmp(sid.text, "S-1-5-21-", 9) != 0) return false;
  for (const unsigned long rid : rids) {
    if (sid.last == rid) return true;
  }
  return false;
}

bool isAdministrative(const Sid& sid, const unsigned char* user) {
  return isListed(sid, ADMINISTRATIVE_ACCOUNTS) ||
         isDomainAccount(sid, ADMINISTRATIVE_DOMAIN_ACCOUNTS) ||
         (user != nullptr && user[1] == sid.bytes[1] &&
          std::memcmp(sid.bytes, user, sid.length) == 0);
}

bool isDenial(unsigned char kind) {
  for (const unsigned char denied : DENIED_KINDS) {
    if (kind == denied) return true;
  }
  return false;
}

// Sets reason to format, whose %s (if any) is sid's text; gives false, the verdict.
bool refuse(AccessReason& reason, const char* format, const Sid& sid = Sid{}) {
  (void)std::snprintf(reason, sizeof reason, format, sid.text);
  return false;
}

// True when the entry at offset of acl lets only administrators change the item;
// an entry that cannot be weighed refuses it.
bool entryAllowsOnlyAdministrators(const Bytes& acl, std::size_t offset, std::size_t size,
                                   const unsigned char* user, AccessReason& reason) {
  const unsigned char kind = acl.data[offset], flags = acl.data[offset + 1];
  if ((flags & INHERIT_ONLY) != 0 || isDenial(kind)) return true;
  if (kind != ALLOWED && kind != ALLOWED_CALLBACK) return refuse(reason, UNREADABLE_PERMISSIONS);
  const Bytes entry{acl.data + offset, size};
  Sid sid;
  if (!entry.holds(ENTRY_MASK, 4) || !readSid(entry, ENTRY_SID, &sid)) {
    return refuse(reason, UNREADABLE_PERMISSIONS);
  }
  if ((entry.number(ENTRY_MASK, 4) & CHANGING_RIGHTS) == 0 || isAdministrative(sid, user) ||
      isListed(sid, OWNER_STAND_INS)) {
    return true;
  }
  return refuse(reason, WRITER_REASON, sid);
}

// A missing or NULL DACL allows everyone everything.
bool daclAllowsOnlyAdministrators(const Bytes& descriptor, const unsigned char* user,
                                  AccessReason& reason) {
  Sid everyone;
  (void)std::snprintf(everyone.text, sizeof everyone.text, "S-1-1-0");
  const std::size_t offset = descriptor.number(DACL, 4);
  if ((descriptor.number(CONTROL, 2) & DACL_PRESENT) == 0 || offset == 0) {
    return refuse(reason, WRITER_REASON, everyone);
  }
  if (!descriptor.holds(offset, ACL_HEADER)) return refuse(reason, UNREADABLE_PERMISSIONS);
  const std::size_t declared = descriptor.number(offset + 2, 2);
  const Bytes acl{descriptor.data + offset,
                  descriptor.holds(offset, declared) ? declared : descriptor.size - offset};
  const unsigned long count = acl.number(4, 2);
  std::size_t at = ACL_HEADER;
  for (unsigned long i = 0; i < count; ++i) {
    if (!acl.holds(at, 4)) return refuse(reason, UNREADABLE_PERMISSIONS);
    const std::size_t size = acl.number(at + 2, 2);
    if (size < 4 || !acl.holds(at, size)) return refuse(reason, UNREADABLE_PERMISSIONS);
    if (!entryAllowsOnlyAdministrators(acl, at, size, user, reason)) return false;
    at += size;
  }
  return true;
}

}  // namespace

bool onlyAdministratorsCanChange(const unsigned char* descriptor, std::size_t length,
                                 const unsigned char* user, AccessReason& reason) {
  const Bytes bytes{descriptor, length};
  Sid owner;
  if (!bytes.holds(0, 20) || !readSid(bytes, bytes.number(OWNER, 4), &owner)) {
    return refuse(reason, UNREADABLE_PERMISSIONS);
  }
  if (!isAdministrative(owner, user)) return refuse(reason, OWNER_REASON, owner);
  return daclAllowsOnlyAdministrators(bytes, user, reason);
}
