#pragma once
// An access control list given to a file or directory in a test, without the
// acl tools: the extended attribute is written as setfacl would store it.

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace kevra_test {

// Gives `path` the list "user::rwx, user:<uid>:<perm>, group::---,
// mask::<perm>, other::---" (perm: the three bits rwx, e.g. 5 for r-x); its
// mode's group bits then show the mask. False with errno set when the file
// system keeps no such lists.
bool give_acl_entry(const std::string& path, uid_t uid, std::uint16_t perm);

}  // namespace kevra_test
