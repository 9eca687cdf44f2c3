#ifndef KEVRA_MODULES_SNAPSHOT_MEMBERS_H
#define KEVRA_MODULES_SNAPSHOT_MEMBERS_H

// The members of a snapshot file, as tar lists them, and which of them may be
// unpacked: only plain files and directories whose names stay inside the
// folder they are unpacked into.

#include <string>
#include <vector>

#include "common/untrusted_files.h"

namespace kelvomar {
namespace module {

// One member of a snapshot file: its kind as the first letter of tar's long
// listing ('-' plain file, 'd' directory, 'l' symbolic link, 'h' hard link,
// 'c' or 'b' device, 'p' FIFO, ...) and its name as tar prints it.
struct snapshot_member {
    char kind = '?';
    std::string name;
};

// Pairs tar's two listings of one snapshot file, line by line: `names` (tar
// -t, one name a line) and `long_listing` (tar -tv, whose line of a plain file
// or directory ends with a blank and the member's name). True with the members
// in `members`; false when the two do not pair up (another number of lines, a
// line that names another member, an empty line).
bool read_snapshot_listing(const std::string& names, const std::string& long_listing,
                           std::vector<snapshot_member>& members);

// Why `member` may not be unpacked ("is a symbolic link", "has an absolute
// name", ...); empty when it is a plain file or a directory whose name has
// no ".." piece and does not begin with "/".
std::string snapshot_member_refusal(const snapshot_member& member);

// Lists the members of the snapshot file read through `source` (a path that
// names the open file; `file` is its name in the records) and checks each with
// snapshot_member_refusal. True when all may be unpacked; false after an Error
// record, which starts with `signature`, naming the first member refused or
// the listing that failed.
bool snapshot_members_acceptable(const std::string& file, const std::string& source, const char* signature);

// Opens the snapshot file `file` for the listings and the unpacking, which
// then all read the same file: a regular file with one link, not reached
// through a link at its own name. True with it open in `opened` and `source`
// naming the descriptor for a command of this process; false after an Error
// record that starts with `signature`.
bool open_snapshot_file(const std::string& file, untrusted_files::input_file& opened, std::string& source,
                        const char* signature);

}  // namespace module
}  // namespace kelvomar

#endif
