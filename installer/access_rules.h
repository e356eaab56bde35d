// Who may change a file or folder, judged from its security descriptor's bytes.
#pragma once

#include <cstddef>

// The largest self-relative descriptor of an owner and a DACL: its header, the
// longest SID, and the longest ACL.
inline constexpr std::size_t DESCRIPTOR_SIZE = 20 + 68 + 65535;

// The longest SID, in bytes.
inline constexpr std::size_t SID_SIZE = 68;

// Why users who are not administrators could change an item, in the refusal's
// words: a SID as text is at most 186 characters.
using AccessReason = char[256];

// True when descriptor (length bytes, self-relative, as Windows reported it)
// lets nobody but an administrator change the item: its owner is an
// administrative account or user (the SID of SID_SIZE bytes of the account
// running setup.exe, or null), and every allow entry that applies to the item
// itself and grants a right that changes it is for such an account, SYSTEM,
// TrustedInstaller, CREATOR OWNER or OWNER RIGHTS. Otherwise false with reason
// naming the owner, the first entry's SID (Everyone for a missing or NULL
// DACL), or bytes that do not parse or an entry that cannot be weighed.
[[nodiscard]] bool onlyAdministratorsCanChange(const unsigned char* descriptor, std::size_t length,
                                               const unsigned char* user, AccessReason& reason);
