"""The platform's objects as the stand-ins keep them, and the documents the
CLI prints for them (`show -x`, `list -x`, plain `show` and `list`).

Records are plain dicts in the state file. Numbers follow the platform:
image states 0 INIT .. 10 LOCKED_USED_PERS, image types 0 OS .. 7 FILESYSTEM,
disk types 0 FILE, 2 BLOCK, 3 RBD, datastore types 0 IMAGE, 1 SYSTEM, 2 FILE.
"""
import hashlib
import math
import os
import time

from cli import Fail
from state import ONEADMIN_UID
from xmldoc import Element, template_element

IMAGE_TYPES = ["OS", "CDROM", "DATABLOCK", "KERNEL", "RAMDISK", "CONTEXT", "BACKUP", "FILESYSTEM"]
IMAGE_TYPES_SHORT = ["OS", "CD", "DB", "KL", "RD", "CX", "BK", "FS"]
IMAGE_STATES_SHORT = ["init", "rdy", "used", "disa", "lock", "err", "clon", "dele", "used", "lock", "lock"]
DISK_TYPES = {0: "FILE", 1: "CDROM", 2: "BLOCK", 3: "RBD", 4: "RBD_CDROM", 5: "GLUSTER",
              6: "GLUSTER_CDROM", 7: "SHEEPDOG", 8: "SHEEPDOG_CDROM", 9: "ISCSI", 10: "FILESYSTEM"}
DS_TYPES = ["IMAGE_DS", "SYSTEM_DS", "FILE_DS", "BACKUP_DS"]
DS_TYPES_SHORT = ["img", "sys", "fil", "bck"]
VM_STATES_SHORT = ["init", "pend", "hold", "actv", "stop", "susp", "done", "fail", "poff", "unde", "clon", "fail"]
MIB = 1 << 20

# (API object word, object name in messages, pool element name)
KINDS = {
    "template": ("template", "virtual machine template", "VMTEMPLATE"),
    "image": ("image", "image", "IMAGE"),
    "datastore": ("datastore", "datastore", "DATASTORE"),
    "vm": ("vm", "virtual machine", "VM"),
    "host": ("host", "host", "HOST"),
}
TEMPLATE_NAME_IN_CLASH = {"template": "TEMPLATE", "image": "IMAGE", "datastore": "DATASTORE"}


# --- looking objects up -------------------------------------------------------

def find(platform, kind, ref, method="info"):
    """The record named by `ref` (an ID when it is all digits, else a name)."""
    api, object_name, element = KINDS[kind]
    table = platform.table(kind)
    if ref.isdigit():
        record = table.get(str(int(ref)))
        if record is None:
            raise Fail("[one.%s.%s] Error getting %s [%s]." % (api, method, object_name, int(ref)))
        return record
    matches = [r for r in table.values() if r["name"] == ref]
    if not matches:
        raise Fail("%s named %s not found." % (element, ref))
    if len(matches) > 1:
        raise Fail("There are multiple %ss with name %s." % (element, ref))
    return matches[0]


def check_name_free(platform, kind, name, method="allocate", what=None, owner="oneadmin"):
    """Names are unique per owner within a kind, as on the platform."""
    for record in platform.table(kind).values():
        if record["name"] == name and record.get("uname", "oneadmin") == owner:
            prefix = "[one.%s.%s] " % (KINDS[kind][0], method)
            raise Fail(prefix + (what or "") + "NAME is already taken by %s %d." % (TEMPLATE_NAME_IN_CLASH[kind], record["id"]))


def sorted_records(platform, kind):
    return [platform.table(kind)[key] for key in sorted(platform.table(kind), key=int)]


# --- image data ---------------------------------------------------------------

def size_mb(byte_count):
    return int(math.ceil(byte_count / MIB))


def place_image_data(platform, image, datastore, source_path=None, content=None, byte_count=0):
    """Gives `image` its SOURCE and writes its data there (copied from
    `source_path`, or `content`, or `byte_count` bytes of a fixed pattern)."""
    disk_type = datastore["disk_type"]
    image["disk_type"] = disk_type
    if disk_type == 3:
        pool = datastore["template"].get("POOL_NAME", "one")
        image["source"] = "%s/one-%d" % (pool, image["id"])
        data = platform.path_in_state("rbd", pool, "one-%d" % image["id"])
        image["rbd_id"] = hashlib.sha1(("rbd%d%s" % (image["id"], platform.now())).encode()).hexdigest()[:12]
    elif disk_type == 2:
        data = platform.path_in_state("dev", "vg-one-%d" % datastore["id"], "lv-one-%d" % image["id"])
        image["source"] = data
        seed = hashlib.sha1(("lv%d%s" % (image["id"], platform.now())).encode()).hexdigest()
        image["lv_uuid"] = "-".join([seed[0:6], seed[6:10], seed[10:14], seed[14:18], seed[18:22], seed[22:26], seed[26:32]])
    else:
        name = hashlib.md5(("%d:%s:%s" % (image["id"], image["name"], platform.now())).encode()).hexdigest()
        data = os.path.join(datastore["base_path"], name)
        os.makedirs(datastore["base_path"], exist_ok=True)
        image["source"] = data
    image["data"] = data
    if source_path is not None:
        with open(source_path, "rb") as src, open(data, "wb") as dst:
            while True:
                block = src.read(1 << 20)
                if not block:
                    break
                dst.write(block)
    elif content is not None:
        with open(data, "wb") as dst:
            dst.write(content)
    else:
        write_pattern(data, byte_count, image["name"])
    image["size_mb"] = size_mb(os.path.getsize(data))


def write_pattern(path, byte_count, seed):
    """`byte_count` bytes that differ from block to block (a pure function of
    `seed`), so that a shifted or truncated copy never compares equal."""
    block = hashlib.sha256(seed.encode()).digest() * 2048  # 64 KiB
    with open(path, "wb") as out:
        index = 0
        left = byte_count
        while left > 0:
            piece = (index.to_bytes(8, "big") + block)[: min(left, len(block) + 8)]
            out.write(piece)
            left -= len(piece)
            index += 1


def remove_image(platform, image):
    data = image.get("data")
    if data and os.path.exists(data):
        os.remove(data)
    source = image.get("source", "")
    if source.startswith("/") and os.path.islink(source):
        os.remove(source)
    end_clone(platform, image)
    datastore = platform.data["datastores"].get(str(image["datastore_id"]))
    if datastore:
        datastore["free_mb"] += image["size_mb"]
        datastore["used_mb"] = max(0, datastore["used_mb"] - image["size_mb"])
    del platform.data["images"][str(image["id"])]


def reserve_space(datastore, needed_mb):
    checked = datastore["template"].get("DATASTORE_CAPACITY_CHECK", "YES").upper() != "NO"
    if checked and needed_mb > datastore["free_mb"]:
        raise Fail("[one.image.allocate] Not enough space in datastore")
    datastore["free_mb"] -= needed_mb
    datastore["used_mb"] += needed_mb


def new_image(platform, name, datastore, uname="oneadmin", image_type=0, persistent=0, attrs=None, state=1,
              wanted_id=None):
    ident = platform.new_id("image", wanted_id)
    now = platform.now()
    image = {
        "id": ident, "name": name, "uname": uname, "uid": platform.uid(uname),
        "type": image_type, "disk_type": datastore["disk_type"], "persistent": persistent,
        "regtime": now, "modtime": now, "source": "", "path": "", "format": "raw", "fs": "",
        "size_mb": 0, "state": state, "prev_state": state, "datastore_id": datastore["id"],
        "template": dict(attrs or {}), "locked_queries": 0, "then_state": 1, "data": "",
    }
    platform.data["images"][str(ident)] = image
    return image


def start_locked(platform, image):
    """A new or cloned image: LOCKED for the configured number of shows."""
    from cli import image_fate
    queries = platform.data["config"].get("lock_queries", 1)
    then_state = image.get("then_state", 1)
    fate = image_fate(platform, image["name"])
    if fate is not None:
        if fate.get("stuck"):
            queries = -1
        if "then_state" in fate:
            then_state = fate["then_state"]
    image["then_state"] = then_state
    if queries == 0:
        image["state"] = 4
        turn(platform, image)
    else:
        image["state"] = 4
        image["locked_queries"] = queries


def image_shown(platform, image):
    """Counts one `show` of a LOCKED image; it turns when the count runs out.
    An image still waiting for its data copies it then (see `finish_copy`)."""
    if image["state"] != 4 or image.get("locked_queries", 0) < 0:
        return
    image["locked_queries"] = image.get("locked_queries", 0) - 1
    if image["locked_queries"] < 0:
        turn(platform, image)


def turn(platform, image):
    image["prev_state"] = 4
    image["locked_queries"] = 0
    image["state"] = image.get("then_state", 1)
    if image.get("pending_copy") is not None:
        finish_copy(platform, image)
    end_clone(platform, image)


def begin_clone(platform, source, copy):
    """While a copy is being made, a READY source is CLONE (persistent) or
    USED (not persistent), and counts the clone operation."""
    source["cloning_ops"] = source.get("cloning_ops", 0) + 1
    if source["state"] == 1:
        source["state_before_clone"] = 1
        source["prev_state"] = 1
        source["state"] = 6 if source["persistent"] else 2
    copy["clone_of"] = source["id"]


def end_clone(platform, copy):
    """The copy is done (or gone): the source is READY again after its last clone."""
    if "clone_of" not in copy:
        return
    source = platform.data["images"].get(str(copy.pop("clone_of")))
    if source is None:
        return
    source["cloning_ops"] = max(0, source.get("cloning_ops", 0) - 1)
    if source["cloning_ops"] == 0 and "state_before_clone" in source:
        source["prev_state"] = source["state"]
        source["state"] = source.pop("state_before_clone")


def finish_copy(platform, image):
    """The datastore driver's copy of an imported file, as `oneimage create`
    starts it: refused outside SAFE_DIRS, failed when the file is gone or
    oneadmin cannot read it. A failure leaves the image in ERROR (5)."""
    path = image.pop("pending_copy")
    datastore = platform.data["datastores"][str(image["datastore_id"])]
    error = copy_refusal(datastore, path)
    if error is None and image["state"] != 5:
        place_image_data(platform, image, datastore, source_path=path)
        return
    image["state"] = 5
    image["template"]["ERROR"] = "Error copying image in the datastore: " + (error or "copy failed")


def copy_refusal(datastore, path):
    """Why the driver would not copy `path` (None when it would)."""
    real = os.path.realpath(path)
    safe = datastore["template"].get("SAFE_DIRS", "").split()
    restricted = datastore["template"].get("RESTRICTED_DIRS", "").split() + ["/var/lib/one/", "/etc/one/"]
    if not any(real.startswith(d) for d in safe) and any(real.startswith(d) for d in restricted):
        return "Not allowed to copy image from %s, check RESTRICTED_DIRS in your datastore" % path
    try:
        info = os.stat(real)
    except OSError:
        return "cannot access '%s': No such file or directory" % path
    if not os.path.isfile(real):
        return "'%s' is not a regular file" % path
    readable = (info.st_uid == ONEADMIN_UID and info.st_mode & 0o400) or \
               (info.st_gid == ONEADMIN_UID and info.st_mode & 0o040) or (info.st_mode & 0o004)
    if not readable:
        return "cannot open '%s' for reading: Permission denied" % path
    return None


# --- template disks -----------------------------------------------------------

def disk_image(platform, template, disk):
    """The image a template DISK refers to, or None (a volatile disk)."""
    images = platform.data["images"]
    if "IMAGE_ID" in disk:
        return images.get(str(int(disk["IMAGE_ID"]))) if disk["IMAGE_ID"].isdigit() else None
    if "IMAGE" in disk:
        owner = disk.get("IMAGE_UNAME")
        uid = disk.get("IMAGE_UID")
        for image in images.values():
            if image["name"] != disk["IMAGE"]:
                continue
            if owner is not None and image["uname"] != owner:
                continue
            if owner is None and uid is not None and str(image["uid"]) != uid:
                continue
            if owner is None and uid is None and image["uname"] != template["uname"]:
                continue
            return image
    return None


def refers_to_image(disk):
    return "IMAGE_ID" in disk or "IMAGE" in disk


def disks(template):
    return [value for key, value in template["attrs"] if key == "DISK" and isinstance(value, dict)]


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


def ids(parent, name, values):
    element = parent.add(name)
    for value in values:
        element.add("ID", value)
    return element


def template_doc(template):
    root = Element("VMTEMPLATE")
    root.add("ID", template["id"])
    owner(root, template)
    root.add("NAME", template["name"])
    permissions(root)
    root.add("REGTIME", template["regtime"])
    root.append(template_element("TEMPLATE", template["attrs"]))
    return root


def image_doc(platform, image):
    root = Element("IMAGE")
    root.add("ID", image["id"])
    owner(root, image)
    root.add("NAME", image["name"])
    permissions(root)
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
    root = Element("DATASTORE")
    root.add("ID", datastore["id"])
    owner(root, datastore)
    root.add("NAME", datastore["name"])
    permissions(root, "110100000")
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


def vm_doc(platform, vm, reduced=False):
    root = Element("VM")
    root.add("ID", vm["id"])
    owner(root, vm)
    root.add("NAME", vm["name"])
    if not reduced:
        permissions(root)
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
        for disk in disks_xml:
            element = template.add("DISK")
            for key in sorted(disk):
                element.add(key, disk[key], cdata=True)
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
    for disk in disks_xml:
        element = template.add("DISK")
        for key in sorted(disk):
            element.add(key, disk[key], cdata=True)
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


# --- plain text output --------------------------------------------------------

def regtime(seconds):
    return time.strftime("%m/%d %H:%M:%S", time.localtime(seconds)) if seconds else "-"


def cut(text, width, left=True):
    text = str(text)[:width]
    return text.ljust(width) if left else text.rjust(width)


def table(header, rows):
    """The CLI's table without a terminal: header as is, data lines rstripped."""
    return header + "\n" + "".join(row.rstrip() + "\n" for row in rows)


def show_text(title, fields, sections):
    lines = [title]
    for name, value in fields:
        lines.append("%-15s: %s" % (name, value))
    for heading, body in sections:
        lines += ["", heading] + body
    return "\n".join(lines) + "\n"


def attrs_text(attrs):
    lines = []
    for key, value in sorted(attrs, key=lambda pair: pair[0]):
        if isinstance(value, dict):
            inner = ",\n  ".join('%s="%s"' % (k, value[k]) for k in sorted(value))
            lines.append("%s=[\n  %s ]" % (key, inner))
        else:
            lines.append('%s="%s"' % (key, value))
    return lines
