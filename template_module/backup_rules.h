#ifndef KEVRA_TEMPLATE_MODULE_BACKUP_RULES_H
#define KEVRA_TEMPLATE_MODULE_BACKUP_RULES_H

// The small rules of a template backup: the lines of the image list file, the
// file stem of an image, which names may stand for files and for the clone,
// and how a cloned image's state is read while the backup waits for it.

#include <string>

#include "opennebula/image_record.h"

namespace kevra_template {

// The name of the image list file, in the archive directory and in the archive.
extern const char* const kImageListName;
// The empty marker in the snapshot directory.
extern const char* const kImageIdsMarkerName;

// The first line of the image list: "TEMPLATE CLONE NAME:" + the clone's name.
std::string clone_name_line(const std::string& clone);

// One image's line of the image list, without its line end: ID, NAME,
// DATASTORE_ID, DEV_PREFIX, DRIVER, TYPE, DISK_TYPE and PERSISTENT joined by ":".
std::string image_list_line(const hx_opennebula_common::oneimage& image);

// The image's file stem: its device prefix followed by its name with the first
// occurrence of `clone` removed (the name unchanged when `clone` is empty or absent).
std::string image_file_stem(const hx_opennebula_common::oneimage& image, const std::string& clone);

// True when `name` can stand as one file name inside a directory: not empty,
// not "." or "..", without "/" and without a line end.
bool is_plain_file_name(const std::string& name);


// What the backup makes of a cloned image's state while it waits.
enum class clone_image_wait {
    ready,     // 1, 2, 8: ready, used, used persistent
    changing,  // 0, 4, 6, 9, 10: still changing, ask again later
    disabled,  // 3
    error,     // 5
    deleting,  // 7
    wrong      // negative or above 10
};

// The wait step's reading of platform image state `state`.
clone_image_wait classify_clone_image_state(int state);

}  // namespace kevra_template

#endif
