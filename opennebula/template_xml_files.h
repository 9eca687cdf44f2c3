#ifndef KEVRA_OPENNEBULA_TEMPLATE_XML_FILES_H
#define KEVRA_OPENNEBULA_TEMPLATE_XML_FILES_H

// The template file (root TEMPLATE) that a backup stores and a restore reads
// back, and the saved image descriptions (root IMAGE).

#include <libxml/tree.h>

#include <functional>
#include <string>
#include <vector>

#include "opennebula/image_record.h"

namespace hx_opennebula_common {

// 0 after writing to `file` the TEMPLATE of template `tpl` (ID or name) with
// its disks' IMAGE_IDs turned into IMAGE and IMAGE_UNAME (the image's own
// name and owner) and NAME = `new_name`
// (or the template's own name) appended; 1 when the command, the document, an
// image name, the rewrite or the save fails, or there is no TEMPLATE (logged;
// nothing is written then).
int create_template_xml(const std::string& tpl, const std::string& file, const std::string& new_name);

// 0 after setting the file's first top-level NAME to `new_name`; 1 when the
// file cannot be read, has no NAME or cannot be saved (logged; file unchanged).
int change_name_in_template_xml(const std::string& file, const std::string& new_name);

// 0 after replacing every DISK/IMAGE equal to some record's `name` by that
// record's `restore_name` (the last matching record wins); 1 when an IMAGE
// matches no record or the file cannot be read or saved (logged; file unchanged).
int change_image_name_in_template_xml(const std::string& file, const std::vector<oneimage>& images);

// 0 with `name` = the file's first top-level NAME; 1 when the file cannot be read or has no NAME (logged).
int get_template_name_from_file(const std::string& file, std::string& name);

// 0 after removing every top-level VMS of a saved image description; 1 when
// the file cannot be read or saved (logged).
int convert_image_xml(const std::string& file);

// 0 after appending to `ids`, in disk order, the ID of the image each DISK of
// the template file refers to (by IMAGE_ID, or by IMAGE among the images of
// its IMAGE_UNAME or IMAGE_UID); 1 when the file cannot be read or a disk's
// image cannot be found (logged; the IDs appended so far stay).
int get_template_file_image_ids(const std::string& file, std::vector<std::string>& ids);

// Looks up the name and the owner's name of image `id`: 0 with both set, non-zero on failure.
using image_name_lookup = std::function<int(const std::string& id, std::string& name, std::string& owner)>;

// Turns a parsed VMTEMPLATE document into the template file's document (steps
// of create_template_xml between the query and the save), records after
// `prototype`. 0 on success; 1 when there is no TEMPLATE, a lookup fails or an
// element cannot be added (logged); the document may then be partly changed
// and must not be saved.
int build_template_file_document(const std::string& prototype, const std::string& tpl, xmlDoc* doc,
                                 const std::string& new_name, const image_name_lookup& lookup);

}  // namespace hx_opennebula_common

#endif
