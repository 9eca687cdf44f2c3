#ifndef KEVRA_TEMPLATE_MODULE_RESTORE_RULES_H
#define KEVRA_TEMPLATE_MODULE_RESTORE_RULES_H

// The small rules of a template restore: how an image list line is read, the
// names of the restored images and files, the room an image needs, the options
// of the image-create command and the names a record or patch may carry.

#include <cstddef>
#include <cstdint>
#include <string>

#include "opennebula/image_record.h"

namespace kevra_template {

// The template files that a backup archives and a restore reads back.
extern const char* const kTemplateFileName;          // "template.xml"
extern const char* const kOriginalTemplateFileName;  // "orig_template.xml"

// `text` with blanks trimmed at both ends and every inner run of blanks made
// one blank; other white space (tabs included) is kept as it is.
std::string compressed_blanks(const std::string& text);

// An image list line as the reader takes it: tabs made blanks, then blanks
// trimmed and compressed as by compressed_blanks.
std::string normalised_list_line(const std::string& line);

// Sorts a normalised image list line: true for an image record; false for a
// blank line, a comment or the clone name line (which sets `clone_name`).
bool is_image_list_record(const std::string& line, std::string& clone_name);

// Fills `image` from the ':'-separated fields of an image list line, in order:
// ID, NAME, DATASTORE_ID, DEV_PREFIX, DRIVER, TYPE, DISK_TYPE, PERSISTENT
// (fields after the eighth are ignored). Returns the number of fields. Throws
// std::invalid_argument or std::out_of_range when TYPE or DISK_TYPE is not a
// decimal number in the signed 32-bit range (`image` then partly filled).
std::size_t read_image_list_fields(const std::string& line, hx_opennebula_common::oneimage& image);
// The part of an image's archived NAME that follows the clone's name: NAME
// with the first occurrence of `clone` removed (NAME unchanged when `clone` is
// empty or absent), the rule the backup names the image's file by.
std::string name_suffix(const std::string& name, const std::string& clone);

// The name a restored image gets: `template_name` followed by the suffix of
// its NAME; `template_name` alone when `clone` is empty.
std::string restore_image_name(const std::string& template_name, const std::string& name, const std::string& clone);

// The room a file of `bytes` bytes needs in a datastore, in whole MiB rounded up.
std::uint64_t needed_mib(std::uint64_t bytes);

// Whether the image-create command gets the " --driver " option: DRIVER is not
// empty and the platform's tools take it. A version the module knows
// (`known_version`) takes it unless it is one of those whose tools refuse it;
// an unknown one only when its major number is below 3 (the releases before
// the option was dropped).
bool takes_driver_option(const std::string& driver, const std::string& platform_version, bool known_version);

// The major number of a version text: the value of its first run of decimal
// digits ("Kevra 2.7" gives 2); -1 when it holds no digit.
int version_major_number(const std::string& version);

// Whether a restored image is created persistent: the restore asks for it, or
// the archived PERSISTENT text is exactly "1".
bool restored_persistent(bool set_images_persistent, const std::string& persistent);

// True when `value` (a record id or an archive to patch) can name a directory
// inside the operation directory: it holds neither "/" nor "..".
bool is_confined_name(const std::string& value);

}  // namespace kevra_template

#endif
