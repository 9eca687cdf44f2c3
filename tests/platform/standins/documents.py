"""The XML documents the CLI prints with `-x`, built from the records, in the
element order of the platform's schemas."""
from model import DISK_TYPES, sorted_records
from xmldoc import Element, template_element


# --- XML documents ------------------------------------------------------------

def permissions(parent, bits="110000000"):
    element = parent.add("PERMISSIONS")
    for name, bit in zip(["OWNER_U", "OWNER_M", "OWNER_A", "GROUP_U", "GROUP_M", "GROUP_A",
                          "OTHER_U", "OTHER_M", "OTHER_A"], bits):
        element.add(name, bit)


def owner(parent, record):
    parent.add("UID", record.get("uid", 0))
    parent.add("GID", 0 if record.get("uid", 0) == 0 else 1)
    parent.add("UNAME", record.get("uname", "oneadmin"))
    parent.add("GNAME", "oneadmin" if record.get("uid", 0) == 0 else "users")


def owned_record(tag, record, bits="110000000"):
    """The element `tag` of a pool record, opened as every owned record is:
    ID, owner, NAME, then PERMISSIONS with `bits` (none when bits is None)."""
    root = Element(tag)
    root.add("ID", record["id"])
    owner(root, record)
    root.add("NAME", record["name"])
    if bits is not None:
        permissions(root, bits)
    return root


def ids(parent, name, values):
    element = parent.add(name)
    for value in values:
        element.add("ID", value)
    return element


def template_doc(template):
    root = owned_record("VMTEMPLATE", template)
    root.add("REGTIME", template["regtime"])
    root.append(template_element("TEMPLATE", template["attrs"]))
    return root


def image_doc(platform, image):
    root = owned_record("IMAGE", image)
    root.add("TYPE", image["type"])
    root.add("DISK_TYPE", image["disk_type"])
    root.add("PERSISTENT", image["persistent"])
    root.add("REGTIME", image["regtime"])
    root.add("MODTIME", image["modtime"])
    root.add("SOURCE", image["source"], cdata=True)
    root.add("PATH", image["path"], cdata=True)
    root.add("FORMAT", image["format"], cdata=True)
    root.add("FS", image["fs"], cdata=True)
    root.add("SIZE", image["size_mb"])
    root.add("STATE", image["state"])
    root.add("PREV_STATE", image["prev_state"])
    vms = [vm["id"] for vm in sorted_records(platform, "vm")
           if any(d.get("IMAGE_ID") == str(image["id"]) for d in vm["disks"])]
    root.add("RUNNING_VMS", len(vms))
    root.add("CLONING_OPS", image.get("cloning_ops", 0))
    root.add("CLONING_ID", -1)
    root.add("TARGET_SNAPSHOT", -1)
    root.add("DATASTORE_ID", image["datastore_id"])
    datastore = platform.data["datastores"].get(str(image["datastore_id"]))
    root.add("DATASTORE", datastore["name"] if datastore else "")
    ids(root, "VMS", vms)
    ids(root, "CLONES", [i["id"] for i in sorted_records(platform, "image") if i.get("clone_of") == image["id"]])
    ids(root, "APP_CLONES", [])
    root.append(template_element("TEMPLATE", list(image["template"].items())))
    snapshots = root.add("SNAPSHOTS")
    snapshots.add("ALLOW_ORPHANS", "NO", cdata=True)
    snapshots.add("CURRENT_BASE", -1)
    snapshots.add("NEXT_SNAPSHOT", 0)
    root.add("BACKUP_INCREMENTS")
    return root


def datastore_doc(platform, datastore):
    root = owned_record("DATASTORE", datastore, "110100000")
    root.add("DS_MAD", datastore["ds_mad"], cdata=True)
    root.add("TM_MAD", datastore["tm_mad"], cdata=True)
    root.add("BASE_PATH", datastore["base_path"], cdata=True)
    root.add("TYPE", datastore["type"])
    root.add("DISK_TYPE", datastore["disk_type"])
    root.add("STATE", datastore.get("state", 0))
    ids(root, "CLUSTERS", [0])
    root.add("TOTAL_MB", datastore["total_mb"])
    root.add("FREE_MB", datastore["free_mb"])
    root.add("USED_MB", datastore["used_mb"])
    ids(root, "IMAGES", [i["id"] for i in sorted_records(platform, "image") if i["datastore_id"] == datastore["id"]])
    root.append(template_element("TEMPLATE", list(datastore["template"].items())))
    return root


def host_doc(platform, host):
    root = Element("HOST")
    root.add("ID", host["id"])
    root.add("NAME", host["name"])
    root.add("STATE", 2)
    root.add("PREV_STATE", 2)
    root.add("IM_MAD", "kvm", cdata=True)
    root.add("VM_MAD", "kvm", cdata=True)
    root.add("CLUSTER_ID", 0)
    root.add("CLUSTER", "default")
    vms = [vm["id"] for vm in sorted_records(platform, "vm") if vm.get("host") == host["name"]]
    share = root.add("HOST_SHARE")
    for name, value in [("MEM_USAGE", 0), ("CPU_USAGE", 0), ("TOTAL_MEM", 16303044), ("TOTAL_CPU", 800),
                        ("MAX_MEM", 16303044), ("MAX_CPU", 800), ("RUNNING_VMS", len(vms)), ("VMS_THREAD", 1)]:
        share.add(name, value)
    stores = share.add("DATASTORES")
    for name, value in [("DISK_USAGE", 0), ("FREE_DISK", 51200), ("MAX_DISK", 102400), ("USED_DISK", 51200)]:
        stores.add(name, value)
    share.add("PCI_DEVICES")
    share.add("NUMA_NODES")
    ids(root, "VMS", vms)
    root.append(template_element("TEMPLATE", [("ARCH", "x86_64"), ("HOSTNAME", host["hostname"]),
                                              ("HYPERVISOR", "kvm"), ("IM_MAD", "kvm"), ("VM_MAD", "kvm")]))
    root.add("MONITORING")
    return root


def vm_disk(platform, vm, index, disk):
    """A VM's DISK as the platform fills it from the image."""
    values = dict(disk)
    values.setdefault("DISK_ID", str(index))
    image = platform.data["images"].get(values.get("IMAGE_ID", ""))
    if image is not None:
        datastore = platform.data["datastores"].get(str(image["datastore_id"]), {})
        prefix = image["template"].get("DEV_PREFIX", "sd")
        values.update({
            "IMAGE": image["name"], "IMAGE_UNAME": image["uname"], "SOURCE": image["source"],
            "DATASTORE": datastore.get("name", ""), "DATASTORE_ID": str(image["datastore_id"]),
            "TYPE": DISK_TYPES.get(image["disk_type"], "FILE"), "TM_MAD": datastore.get("tm_mad", ""),
            "SIZE": str(image["size_mb"]), "CLONE": "NO" if image["persistent"] else "YES",
            "READONLY": "NO", "SAVE": "YES" if image["persistent"] else "NO",
            "TARGET": prefix + "abcdefghijklmnop"[index % 16],
        })
    return values


def disk_elements(template, disks):
    """One DISK element in `template` a disk, its attributes in name order."""
    for disk in disks:
        element = template.add("DISK")
        for key in sorted(disk):
            element.add(key, disk[key], cdata=True)


def vm_doc(platform, vm, reduced=False):
    root = owned_record("VM", vm, None if reduced else "110000000")
    root.add("LAST_POLL", vm["stime"])
    root.add("STATE", vm["state"])
    root.add("LCM_STATE", vm["lcm_state"])
    if not reduced:
        root.add("PREV_STATE", vm.get("prev_state", vm["state"]))
        root.add("PREV_LCM_STATE", vm.get("prev_lcm_state", vm["lcm_state"]))
    root.add("RESCHED", 0)
    root.add("STIME", vm["stime"])
    root.add("ETIME", vm.get("etime", 0))
    root.add("DEPLOY_ID", "one-%d" % vm["id"] if vm.get("host") else "")
    if vm.get("lock"):
        lock = root.add("LOCK")
        lock.add("LOCKED", vm["lock"])
        lock.add("OWNER", 0)
        lock.add("TIME", vm["stime"])
        lock.add("REQ_ID", -1)
    disks_xml = [vm_disk(platform, vm, i, d) for i, d in enumerate(vm["disks"])]
    template = Element("TEMPLATE")
    if reduced:
        template.add("CPU", vm.get("cpu", "1"), cdata=True)
        template.add("MEMORY", vm.get("memory", "512"), cdata=True)
        disk_elements(template, disks_xml)
        root.append(template)
        root.add("USER_TEMPLATE")
        history = root.add("HISTORY_RECORDS")
        if vm.get("host"):
            record = history.add("HISTORY")
            for name, value in [("OID", vm["id"]), ("SEQ", 0), ("HOSTNAME", vm["host"]), ("HID", vm.get("host_id", 0)),
                                ("CID", 0), ("DS_ID", 0), ("VM_MAD", "kvm"), ("TM_MAD", "ssh"), ("ACTION", 0)]:
                record.add(name, value)
        return root
    root.add("MONITORING")
    root.add("SCHED_ACTIONS")
    context = template.add("CONTEXT")
    context.add("ETH0_MAC", "02:00:c0:a8:00:%02x" % (vm["id"] % 256), cdata=True)
    context.add("NETWORK", "YES", cdata=True)
    template.add("CPU", vm.get("cpu", "1"), cdata=True)
    disk_elements(template, disks_xml)
    template.add("MEMORY", vm.get("memory", "512"), cdata=True)
    if vm.get("template_id") is not None:
        template.add("TEMPLATE_ID", vm["template_id"], cdata=True)
    template.add("TM_MAD_SYSTEM", "ssh", cdata=True)
    template.add("VMID", vm["id"], cdata=True)
    root.append(template)
    root.add("USER_TEMPLATE")
    history = root.add("HISTORY_RECORDS")
    if vm.get("host"):
        record = history.add("HISTORY")
        for name, value in [("OID", vm["id"]), ("SEQ", 0), ("HOSTNAME", vm["host"]), ("HID", vm.get("host_id", 0)),
                            ("CID", 0), ("STIME", vm["stime"]), ("ETIME", 0), ("VM_MAD", "kvm"), ("TM_MAD", "ssh"),
                            ("DS_ID", 0), ("PLAN_ID", -1), ("ACTION_ID", -1), ("PSTIME", vm["stime"]),
                            ("PETIME", vm["stime"]), ("RSTIME", vm["stime"]), ("RETIME", 0), ("ESTIME", 0),
                            ("EETIME", 0), ("ACTION", 0), ("UID", -1), ("GID", -1), ("REQUEST_ID", "-1")]:
            record.add(name, value)
    backups = root.add("BACKUPS")
    backups.add("BACKUP_CONFIG")
    backups.add("BACKUP_IDS")
    return root


def pool(name, elements):
    root = Element(name)
    for element in elements:
        root.append(element)
    return root
