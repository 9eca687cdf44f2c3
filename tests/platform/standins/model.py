"""The platform's objects as the stand-ins keep them: lookups by ID or name,
images and their states over time, template disks.

Records are plain dicts in the state file. Numbers follow the platform:
image states 0 INIT .. 10 LOCKED_USED_PERS, image types 0 OS .. 7 FILESYSTEM,
disk types 0 FILE, 2 BLOCK, 3 RBD, datastore types 0 IMAGE, 1 SYSTEM, 2 FILE.
"""
import os
import re

from cli import Fail
import imagedata

IMAGE_TYPES = ["OS", "CDROM", "DATABLOCK", "KERNEL", "RAMDISK", "CONTEXT", "BACKUP", "FILESYSTEM"]
IMAGE_TYPES_SHORT = ["OS", "CD", "DB", "KL", "RD", "CX", "BK", "FS"]
IMAGE_STATES = ["INIT", "READY", "USED", "DISABLED", "LOCKED", "ERROR", "CLONE", "DELETE", "USED_PERS",
                "LOCKED_USED", "LOCKED_USED_PERS"]
IMAGE_STATES_SHORT = ["init", "rdy", "used", "disa", "lock", "err", "clon", "dele", "used", "lock", "lock"]
DISK_TYPES = {0: "FILE", 1: "CDROM", 2: "BLOCK", 3: "RBD", 4: "RBD_CDROM", 5: "GLUSTER",
              6: "GLUSTER_CDROM", 7: "SHEEPDOG", 8: "SHEEPDOG_CDROM", 9: "ISCSI", 10: "FILESYSTEM"}
DS_TYPES = ["IMAGE_DS", "SYSTEM_DS", "FILE_DS", "BACKUP_DS"]
DS_TYPES_SHORT = ["img", "sys", "fil", "bck"]
DS_STATES = ["READY", "DISABLED"]
VM_STATES = ["INIT", "PENDING", "HOLD", "ACTIVE", "STOPPED", "SUSPENDED", "DONE", "FAILED", "POWEROFF",
             "UNDEPLOYED", "CLONING", "CLONING_FAILURE"]
VM_STATES_SHORT = ["init", "pend", "hold", "actv", "stop", "susp", "done", "fail", "poff", "unde", "clon", "fail"]

# (API object word, object name in messages, pool element name)
KINDS = {
    "template": ("template", "virtual machine template", "VMTEMPLATE"),
    "image": ("image", "image", "IMAGE"),
    "datastore": ("datastore", "datastore", "DATASTORE"),
    "vm": ("vm", "virtual machine", "VM"),
    "host": ("host", "host", "HOST"),
}
TEMPLATE_NAME_IN_CLASH = {"template": "TEMPLATE", "image": "IMAGE", "datastore": "DATASTORE"}
# The characters the platform refuses in a name; everything else is legal.
INVALID_NAME_CHARS = "&|:\\\";/'#{}$<>"
MAX_NAME_LENGTH = 128
RANGE = re.compile(r"^(\d+)\.\.(\d+)$")


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


def check_name_valid(kind, name, method="allocate", what=None):
    """The platform's rule for names: not empty, at most 128 characters, none
    of INVALID_NAME_CHARS."""
    reason = None
    if not name:
        reason = "Invalid NAME, it cannot be empty"
    elif len(name) > MAX_NAME_LENGTH:
        reason = "Invalid NAME, max length is %d" % MAX_NAME_LENGTH
    else:
        bad = [c for c in name if c in INVALID_NAME_CHARS]
        if bad:
            reason = "Invalid NAME, char '%s' is not allowed" % bad[0]
    if reason is not None:
        raise Fail("[one.%s.%s] %s%s." % (KINDS[kind][0], method, what or "", reason))


def check_name_free(platform, kind, name, method="allocate", what=None, owner="oneadmin"):
    """A name the platform accepts, unique per owner within a kind, as on the platform."""
    check_name_valid(kind, name, method, what)
    for record in platform.table(kind).values():
        if record["name"] == name and record.get("uname", "oneadmin") == owner:
            prefix = "[one.%s.%s] " % (KINDS[kind][0], method)
            raise Fail(prefix + (what or "") + "NAME is already taken by %s %d." % (TEMPLATE_NAME_IN_CLASH[kind], record["id"]))


def listed_ids(platform, kind, positional):
    """The IDs that a list argument names, read as the CLI reads it: split at
    commas, each piece an ID, a range such as 3..5, or a name. A name is looked
    up first, so one that is not found (or is ambiguous) fails the whole call
    before anything is done."""
    ids = []
    for piece in ",".join(positional).split(","):
        span = RANGE.match(piece)
        if span:
            ids.extend(range(int(span.group(1)), int(span.group(2)) + 1))
        elif piece.isdigit():
            ids.append(int(piece))
        else:
            ids.append(find(platform, kind, piece)["id"])
    return ids


def each_listed(platform, kind, positional, answer, method, act, check=None):
    """Acts on every object of a list argument in turn, as the CLI's
    perform_actions does: an ID the platform does not know, or one that
    `check(record)` refuses (raising Fail), is a message on standard error and
    the others still run; the status is that of the last failure (255), else 0."""
    status = 0
    for ident in listed_ids(platform, kind, positional):
        try:
            record = find(platform, kind, str(ident), method)
            if check is not None:
                check(record)
        except Fail as failure:
            answer.warn(failure.message)
            status = failure.status
            continue
        act(record)
    return status


def sorted_records(platform, kind):
    return [platform.table(kind)[key] for key in sorted(platform.table(kind), key=int)]


# --- images and their states ---------------------------------------------------------------

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


def delete_image(platform, image):
    """An image deletion as the platform does it: the image is DELETE (7)
    while the datastore driver removes it, for the configured number of
    `oneimage show` answers (`delete_queries`, default 0: gone at once), and
    then gone. Its copy operation, if it is a copy being made, ends."""
    queries = platform.data["config"].get("delete_queries", 0)
    if queries <= 0:
        remove_image(platform, image)
        return
    if image["state"] == 7:
        return
    end_clone(platform, image)
    image["prev_state"], image["state"] = image["state"], 7
    image["deleting_queries"] = queries


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
    An image being deleted is gone once its count runs out.
    An image still waiting for its data copies it then (see `finish_copy`)."""
    if image["state"] == 7 and "deleting_queries" in image:
        # This answer still shows DELETE; the next finds no image.
        image["deleting_queries"] -= 1
        if image["deleting_queries"] <= 0:
            remove_image(platform, image)
        return
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
        imagedata.finish_copy(platform, image)
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
