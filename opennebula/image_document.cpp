#include "opennebula/image_document.h"

#include "opennebula/datastore_queries.h"
#include "opennebula/layer_log.h"
#include "opennebula/xml_access.h"

namespace hx_opennebula_common {

void read_image_document(xmlNode* root, oneimage& image)
{
    for (xmlNode* child = root->children; child != nullptr; child = child->next) {
        if (is_element(child, "TYPE")) {
            image.type = static_cast<opennebula_image_type>(std::stoi(element_text(child)));
        } else if (is_element(child, "DISK_TYPE")) {
            image.disk_type = static_cast<opennebula_disk_type>(std::stoi(element_text(child)));
            break;
        }
    }
    for (xmlNode* child = root->children; child != nullptr; child = child->next) {
        if (is_element(child, "ID")) {
            image.id = element_text(child);
        } else if (is_element(child, "NAME")) {
            image.name = element_text(child);
        } else if (is_element(child, "SIZE")) {
            image.size = static_cast<std::uint64_t>(std::stoull(element_text(child), nullptr, 0)) << 20;
        } else if (is_element(child, "DATASTORE_ID")) {
            image.datastore_id = element_text(child);
        } else if (is_element(child, "PERSISTENT")) {
            image.persistent = element_text(child);
        } else if (is_element(child, "SOURCE")) {
            image.source = element_text(child);
            image.printed_source = image.source;
        } else if (is_element(child, "TEMPLATE")) {
            for (xmlNode* field = child->children; field != nullptr; field = field->next) {
                if (is_element(field, "DEV_PREFIX"))
                    image.dev_prefix = element_text(field);
                else if (is_element(field, "DRIVER"))
                    image.driver = element_text(field);
            }
        }
    }
}

int disk_type_from_datastore(const std::string& prototype, int datastore_type, TM_MAD_TYPE tm,
                             opennebula_disk_type& disk)
{
    if (datastore_type == DATASTORE_TYPE_FILE) {
        disk = DISK_TYPE_FILE;
        return 0;
    }
    if (datastore_type != DATASTORE_TYPE_IMAGE) {
        log_error(prototype + ": unsupported datastore type: \"" + std::to_string(datastore_type) + "\"");
        return 1;
    }
    switch (tm) {
    case TM_MAD_QCOW2:
    case TM_MAD_SHARED:
        disk = DISK_TYPE_FILE;
        return 0;
    case TM_MAD_CEPH:
        disk = DISK_TYPE_RBD;
        return 0;
    case TM_MAD_LVM_LVM:
        disk = DISK_TYPE_BLOCK;
        return 0;
    default: {
        const auto name = TM_MAD_TYPE_STR.find(tm);
        log_error(prototype + ": unsupported TM_MAD type: " + (name == TM_MAD_TYPE_STR.end() ? "" : name->second));
        return 1;
    }
    }
}

int resolve_datastore_facts(const std::string& prototype, oneimage& image, TM_MAD_TYPE& tm)
{
    tm = get_datastore_tm_mad(image.datastore_id);
    if (tm == TM_MAD_NONE) {
        // The platform has more drivers than the table; the image's own
        // DISK_TYPE (copied from its datastore) still says what its data is.
        std::string driver;
        if (image.disk_type == DISK_TYPE_NONE || !get_datastore_tm_mad_name(image.datastore_id, driver)) {
            log_error(prototype + ": wrong datastore TM_MAD");
            return 1;
        }
        log_warning(prototype + ": the datastore with ID " + image.datastore_id + " has the transfer driver " +
                    double_quoted(driver) + ", which is not among the known drivers; the image's own disk type " +
                    std::to_string(static_cast<int>(image.disk_type)) + " (" + disk_type_to_str(image.disk_type) +
                    ") is used");
        return 0;
    }
    if (image.disk_type != DISK_TYPE_NONE)
        return 0;
    int datastore_type = -1;
    if (get_datastore_type(image.datastore_id, datastore_type) != 0) {
        log_error(prototype + ": unable to determine type of datastore with ID: " + double_quoted(image.datastore_id));
        return 1;
    }
    return disk_type_from_datastore(prototype, datastore_type, tm, image.disk_type);
}

}  // namespace hx_opennebula_common
