// Who may change a file or folder, judged from its security descriptor's bytes.
#pragma once

#include <cstddef>

// The largest self-relative descriptor of an owner and a DACL: its header, the
// longest SID, and the longest ACL.
inline constexpr std::size_t DESCRIPTOR_SIZE = 20 + 68 + 65535;

// The longest SID, in bytes.
inline constexpr std::size_t SID_SIZE = 68;

// True when descriptor (size bytes, self-relative, as GetFileSecurity gives it)
// gives no way to change the item to an owner that is no administrator or to a
// broad group (Everyone, Users, Domain Users and the like): its owner is an
// administrative account or user (the SID of SID_SIZE bytes of the account
// running setup.exe, or null), and no entry that applies to the item itself
// allows a broad group a right that changes the item or what it holds. Entries
// for other accounts and groups are an administrator's grant. A missing or NULL
// DACL, an allow entry of a kind that cannot be weighed, or bytes that do not
// parse, count as changeable.
[[nodiscard]] bool onlyAdministratorsCanChange(const unsigned char* descriptor, std::size_t size,
                                               const unsigned char* user);
