#ifndef KEVRA_MODULES_MOUNT_TABLE_H
#define KEVRA_MODULES_MOUNT_TABLE_H
// The kernel's table of mounts ("/proc/mounts"): one line per mount, fields
// separated by single blanks, with blank, tab, newline and backslash inside a
// field written as \040, \011, \012 and \134.

#include <istream>
#include <string>

namespace kelvomar {
namespace module {

// `path` as the mounts table writes it in a field. Never throws beyond std::bad_alloc.
std::string mount_table_escaped(const std::string& path);

// A field of the mounts table with its octal escapes turned back into characters.
std::string mount_table_unescaped(const std::string& field);

// True, with the unescaped device field in `device`, when a line of `table`
// has `mount_point` as its mount point (the first such line wins); false otherwise.
bool find_mounted_device(std::istream& table, const std::string& mount_point, std::string& device);

// The same query on "/proc/mounts"; false also when the file cannot be read.
bool find_mounted_device(const std::string& mount_point, std::string& device);

}  // namespace module
}  // namespace kelvomar

#endif
