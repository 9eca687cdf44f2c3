#ifndef KEVRA_OPENNEBULA_FILE_LINK_H
#define KEVRA_OPENNEBULA_FILE_LINK_H

// Where a linked image or disk path leads, here or on another host.

#include <string>

namespace hx_opennebula_common {

// 0 with `target` = the path `path` leads to: on this machine (empty `host` or
// this node's name) the canonical path when `path` is a symbolic link, else
// unchanged; on another host the output of "readlink" over ssh ("-f" with `full`).
// An empty `target` becomes `path`. 1 when the link's target is missing, the
// file system fails or the remote readlink fails (logged).
int read_file_link(const std::string& path, std::string& target, const std::string& host, bool full);

// `name` = the last component of `path`; when it holds a ".", only the part
// after its first "." and the result is 1; otherwise the whole component and 0.
int parse_rbd_disk_name(const std::string& path, std::string& name);

}  // namespace hx_opennebula_common

#endif
