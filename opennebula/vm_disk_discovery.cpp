#include "opennebula/vm_disk_discovery.h"

#include <exception>

#include "opennebula/file_link.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"
#include "opennebula/vm_show.h"
#include "opennebula/vm_queries.h"

namespace hx_opennebula_common {

namespace {

const char* const kTemporaryDisk = "The found disk is temporary (type: fs) - it won't be added to the backup";

// What one VM's disks are read against: the VM, where it runs and how.
struct disk_walk {
    std::string prototype;
    std::string vm;
    std::string host;
    std::string deploy_id;
    bool force_share;
    bool live;
    bool ceph_supported;
};

// Driver pass: `tm_mad` from each TM_MAD child. 1 for a driver this layer cannot read (logged).
int read_driver(const disk_walk& walk, xmlNode* disk, opennebula_device_info& device)
{
    for (xmlNode* child = disk->children; child != nullptr; child = child->next) {
        if (!is_element(child, "TM_MAD"))
            continue;
        const std::string text = element_text(child);
        if (text == "qcow2") {
            device.tm_mad = TM_MAD_QCOW2;
        } else if (text == "ceph") {
            if (!walk.ceph_supported) {
                log_error(walk.prototype + ": module doesn't support Ceph RADOS block devices: " +
                          "required qemu version at least 2.11");
                return 1;
            }
            device.tm_mad = TM_MAD_CEPH;
        } else if (text == "fs_lvm") {
            device.tm_mad = TM_MAD_FS_LVM;
        } else if (text == "shared") {
            device.tm_mad = TM_MAD_SHARED;
        } else if (text == "lvm_lvm") {
            device.tm_mad = TM_MAD_LVM_LVM;
        } else if (text == "lvm_thin" || text == "ssh" || text == "dev" || text == "iscsi") {
            log_error(walk.prototype + ": hx_module_kevra_vm does not yet support TM_MAD: " + text);
            return 1;
        } else {
            log_error(walk.prototype + ": unsupported TM_MAD value: " + text);
            return 1;
        }
    }
    return 0;
}

// Type pass: `device_type` from each TYPE child. 1 for a type this layer does not know (logged).
int read_device_type(const disk_walk& walk, xmlNode* disk, opennebula_device_info& device)
{
    for (xmlNode* child = disk->children; child != nullptr; child = child->next) {
        if (!is_element(child, "TYPE"))
            continue;
        const std::string text = element_text(child);
        if (text == "FILE" || text == "BLOCK" || text == "RBD") {
            device.device_type = VM_DEVICE_DISK;
        } else if (text == "CDROM" || text == "RBD_CDROM") {
            device.device_type = VM_DEVICE_CDROM;
        } else if (text == "fs") {
            device.device_type = VM_DEVICE_TEMPORARY;
        } else {
            log_error(walk.prototype + ": unsupported type: " + text);
            return 1;
        }
    }
    return 0;
}

int unsupported_driver(const disk_walk& walk, const std::string& what)
{
    log_error(walk.prototype + ": unsupported TM_MAD type: " + what);
    return 1;
}

// The disk's file in the VM directory, logged with `kind` ("Disk found: ", "LVM disk found: ").
int vm_directory_file(const disk_walk& walk, const opennebula_device_info& device, const char* kind,
                      std::string& file)
{
    std::string directory;
    if (get_real_vm_path(walk.vm, directory) != 0) {
        log_error(walk.prototype + ": can't get real VM disk path: " + walk.vm);
        return 1;
    }
    log_info("VM disk path: " + directory);
    file = directory + "/disk." + device.disk_id;
    log_info(kind + file);
    return 0;
}

// Appends the path `path` links to (on `host`) to the disk's files.
int append_link_target(const std::string& path, const std::string& host, opennebula_device_info& device)
{
    std::string target;
    if (read_file_link(path, target, host, false) != 0)
        return 1;
    device.files.push_back(target);
    return 0;
}

int after_disk_id(const disk_walk& walk, opennebula_device_info& device)
{
    switch (device.tm_mad) {
    case TM_MAD_QCOW2:
    case TM_MAD_SHARED: {
        if (walk.live)
            return 0;
        std::string file;
        if (vm_directory_file(walk, device, "Disk found: ", file) != 0)
            return 1;
        return fill_backing_image_chain(file, device.files, walk.force_share, std::string());
    }
    case TM_MAD_LVM_LVM:
    case TM_MAD_FS_LVM: {
        if (walk.live)
            return 0;
        std::string file;
        if (vm_directory_file(walk, device, "LVM disk found: ", file) != 0)
            return 1;
        return append_link_target(file, walk.host, device);
    }
    case TM_MAD_CEPH:
        return 0;
    default:
        return unsupported_driver(walk, std::to_string(static_cast<int>(device.tm_mad)));
    }
}

int after_source(const disk_walk& walk, opennebula_device_info& device)
{
    switch (device.tm_mad) {
    case TM_MAD_QCOW2:
    case TM_MAD_SHARED:
    case TM_MAD_LVM_LVM: {
        std::string target;
        if (read_file_link(device.source, target, std::string(), true) != 0)
            return 1;
        device.source = target;
        if (device.persistent)
            log_info("The disk is persistent, source: : " + device.source);
        return 0;
    }
    case TM_MAD_FS_LVM:
        if (!walk.live) {
            device.device_file = device.source;
            device.files.push_back(device.source);
        }
        return 0;
    case TM_MAD_CEPH:
        return 0;
    default:
        return unsupported_driver(walk, std::to_string(static_cast<int>(device.tm_mad)));
    }
}

int after_target(const disk_walk& walk, opennebula_device_info& device)
{
    switch (device.tm_mad) {
    case TM_MAD_QCOW2:
    case TM_MAD_SHARED:
        if (!walk.live)
            return 0;
        if (get_target_device_path(walk.host, walk.deploy_id, device) != 0)
            return 1;
        return fill_backing_image_chain(device.device_file, device.files, walk.force_share, walk.host);
    case TM_MAD_LVM_LVM:
        if (!walk.live)
            return 0;
        if (get_target_device_path(walk.host, walk.deploy_id, device) != 0)
            return 1;
        return append_link_target(device.device_file, walk.host, device);
    case TM_MAD_FS_LVM:
        return 0;
    case TM_MAD_CEPH:
        if (!walk.live)
            return 0;
        if (get_target_device_path(walk.host, walk.deploy_id, device) != 0)
            return 1;
        device.files.push_back(device.device_file);
        return 0;
    default: {
        const auto name = TM_MAD_TYPE_STR.find(device.tm_mad);
        return unsupported_driver(walk, name == TM_MAD_TYPE_STR.end() ? std::string() : name->second);
    }
    }
}

// Main pass over a disk's children in document order.
int read_disk_fields(const disk_walk& walk, xmlNode* disk, opennebula_device_info& device)
{
    for (xmlNode* child = disk->children; child != nullptr; child = child->next) {
        if (is_element(child, "DISK_ID")) {
            device.disk_id = element_text(child);
            if (after_disk_id(walk, device) != 0)
                return 1;
        } else if (is_element(child, "SIZE")) {
            device.size = disk_size_bytes(element_text(child));
        } else if (is_element(child, "SOURCE")) {
            device.source = element_text(child);
            if (after_source(walk, device) != 0)
                return 1;
        } else if (is_element(child, "TARGET")) {
            device.target = element_text(child);
            if (after_target(walk, device) != 0)
                return 1;
        } else if (is_element(child, "DISK_TYPE")) {
            const std::string text = element_text(child);
            if (text == "FILE" || text == "CDROM") {
                device.storage_type = VM_STORAGE_FILE;
            } else if (text == "BLOCK") {
                device.storage_type = VM_STORAGE_BLOCK;
            } else if (text == "RBD") {
                device.storage_type = VM_STORAGE_RBD;
            } else {
                log_error(walk.prototype + ": unsupported disk type: " + text);
                return 1;
            }
        } else if (is_element(child, "IMAGE_ID")) {
            device.image_id = element_text(child);
        }
    }
    return 0;
}

// One DISK: 0 after appending its record (or passing over a temporary disk of a stopped VM).
int load_disk(const disk_walk& walk, xmlDoc* doc, xmlNode* disk, std::vector<opennebula_device_info>& devices)
{
    opennebula_device_info device;
    if (read_driver(walk, disk, device) != 0 || read_device_type(walk, disk, device) != 0)
        return 1;
    if (device.device_type == VM_DEVICE_TEMPORARY) {
        if (walk.live) {
            if (get_temporary_disk_info(doc, disk, device) != 0) {
                log_error(walk.prototype + ": can't get the temporary disk info");
                return 1;
            }
            if (get_target_device_path(walk.host, walk.deploy_id, device) != 0)
                return 1;
            devices.push_back(device);
        }
        log_info(kTemporaryDisk);
        return 0;
    }
    for (xmlNode* child = disk->children; child != nullptr; child = child->next)
        if (is_element(child, "PERSISTENT") && element_text(child) == "YES")
            device.persistent = true;
    if (read_disk_fields(walk, disk, device) != 0)
        return 1;
    if (device.tm_mad == TM_MAD_CEPH && !walk.live)
        device.files.push_back(device.source + (device.persistent ? "" : "-" + walk.vm + "-" + device.disk_id));
    devices.push_back(std::move(device));
    return 0;
}

}  // namespace

int load_VM_devices(const std::string& vm, std::vector<opennebula_device_info>& devices, bool force_share,
                    bool live, bool ceph_supported)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    try {
        disk_walk walk{prototype, vm, std::string(), std::string(), force_share, live, ceph_supported};
        if (get_VM_host(vm, walk.host) != 0) {
            log_error(prototype + ": can't get the hostname where VM resides");
            return 1;
        }
        xml_document doc;
        if (!read_vm_show(prototype, vm, kVmShowDocument, doc))
            return 1;
        xmlNode* root = xmlDocGetRootElement(doc.get());
        xmlNode* deploy = first_child_element(root, "DEPLOY_ID");
        if (deploy != nullptr)
            walk.deploy_id = element_text(deploy);
        for (xmlNode* tmpl = root->children; tmpl != nullptr; tmpl = tmpl->next) {
            if (!is_element(tmpl, "TEMPLATE"))
                continue;
            for (xmlNode* disk = tmpl->children; disk != nullptr; disk = disk->next)
                if (is_element(disk, "DISK") && load_disk(walk, doc.get(), disk, devices) != 0)
                    return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        log_error(prototype + ": " + e.what());
        return 1;
    }
}

int get_temporary_disk_info(xmlDoc* const& document, xmlNode* const& node, opennebula_device_info& device)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    (void)document;  // the node carries its document; kept for the callers' signature
    if (!is_element(node, "DISK")) {
        log_error(prototype + ": wrong XML node, expected 'DISK' info");
        return 1;
    }
    for (xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (is_element(child, "DISK_ID"))
            device.disk_id = element_text(child);
        else if (is_element(child, "SIZE"))
            device.size = disk_size_bytes(element_text(child));
        else if (is_element(child, "TARGET"))
            device.target = element_text(child);
    }
    if (device.disk_id.empty()) {
        log_error(prototype + ": got empty disk_id string");
        return 1;
    }
    return 0;
}

}  // namespace hx_opennebula_common
