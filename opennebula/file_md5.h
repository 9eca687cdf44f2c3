#ifndef KEVRA_OPENNEBULA_FILE_MD5_H
#define KEVRA_OPENNEBULA_FILE_MD5_H

// MD5 of an image file's content, read through one 4096-byte buffer.

#include <string>

namespace hx_opennebula_common {

// 0 with `digest` = 32 lowercase hex digits of the MD5 of the file at `path`;
// 1 when it cannot be opened or sized, a read falls short, or the file is empty (logged).
int calc_md5sum(const std::string& path, std::string& digest);

}  // namespace hx_opennebula_common

#endif
