#ifndef KEVRA_OPENNEBULA_TEMPLATE_QUERIES_H
#define KEVRA_OPENNEBULA_TEMPLATE_QUERIES_H

// Questions to "/usr/bin/onetemplate" about one template, its images, and its deletion.

#include <libxml/tree.h>

#include <cstddef>
#include <string>
#include <vector>

#include "opennebula/image_record.h"
#include "opennebula/pool_objects.h"

namespace hx_opennebula_common {

// 0 with `name` = the template's first top-level NAME; 1 when the command or
// the document fails or there is no NAME (logged).
int get_template_name(const std::string& id, std::string& name);

// True when the platform knows template `name` (an ID or a name); nothing is logged.
bool does_template_name_exist(const std::string& name);

// 0 with `id` = the ID of the one template that `tpl` (an ID or a name) names;
// 1 when the look-up fails, also when the name is ambiguous (logged).
int get_template_id(const std::string& tpl, std::string& id);

// 0 after appending to `ids` the ID of every template whose NAME is exactly
// `name` (read from the pool, so a name of digits is not taken for an ID);
// 1 when the pool cannot be read (logged).
int get_template_ids_by_name(const std::string& name, std::vector<std::string>& ids);

// 0 after appending to `objects` every template of the pool (ID, name, owner),
// in pool order; 1 when the pool cannot be read (logged).
int get_template_pool(std::vector<pool_object>& objects);

// The IDs of the templates of a parsed VMTEMPLATE_POOL whose NAME is exactly
// `name`, in pool order; templates without ID or NAME are passed over.
std::vector<std::string> template_ids_named(xmlNode* pool, const std::string& name);

// 0 after deleting the template with the ID `id` (this run's template, called
// `name` in the records) together with its images, or without them when
// `with_images` is false; 1 when `id` is not an ID or the command fails (logged).
int delete_template(const std::string& id, const std::string& name, bool with_images = true);

// 0 after appending to `ids`, in disk order, one image ID per DISK that refers
// to an image (its IMAGE_ID, or the ID of the image its IMAGE names, among the
// images of its IMAGE_UNAME or IMAGE_UID when it gives one), so the
// positions match the template's disks; 1 when the command or the document
// fails or a name has no ID (logged; the IDs appended so far stay).
int get_simple_template_image_list(const std::string& tpl, std::vector<std::string>& ids);

// 0 after appending one fully read image record per image of the template, in
// disk order (images without data, such as a CD-ROM, without a unique
// signature); 1 when the list or an image cannot be read (logged; the records
// appended so far stay).
int get_template_image_list(const std::string& tpl, std::vector<oneimage>& images);

// One DISK's reference to its image: by ID, or by name (of one owner when the
// DISK gives IMAGE_UNAME or IMAGE_UID).
struct template_disk_image {
    bool by_id;
    std::string value;                  // the IMAGE_ID text, or the IMAGE name
    const char* owner_field = nullptr;  // "UNAME" for IMAGE_UNAME, else "UID" for IMAGE_UID, else null
    std::string owner;                  // the IMAGE_UNAME or IMAGE_UID text
    std::size_t disk_index = 0;         // the DISK's position among all DISKs of its TEMPLATE, volatile ones counted
};

// The image references of the DISKs of every top-level TEMPLATE of a VMTEMPLATE
// root, in document order: the DISK's first IMAGE_ID, else its first IMAGE
// with its first IMAGE_UNAME (else IMAGE_UID); DISKs with neither (volatile disks) are left out.
std::vector<template_disk_image> template_disk_images(xmlNode* root);

// The same references for the DISKs of one TEMPLATE element (the root of a template file).
std::vector<template_disk_image> disk_images_of_template(xmlNode* tmpl);

// 0 after appending to `disks` the image references of the DISKs of template
// `tpl` (an ID or a name), in disk order, as template_disk_images reads them;
// 1 when the command or the document fails (logged).
int get_template_disk_images(const std::string& tpl, std::vector<template_disk_image>& disks);

// 0 after appending to `ids`, in order, the ID of the image each of `disks`
// refers to: its IMAGE_ID, the image of that name and owner, or for a name
// alone the image the platform finds by that name; 1 at the first image that
// cannot be told (logged after `prototype`; the IDs appended so far stay).
int disk_image_ids(const std::string& prototype, const std::vector<template_disk_image>& disks,
                   std::vector<std::string>& ids);

}  // namespace hx_opennebula_common

#endif
