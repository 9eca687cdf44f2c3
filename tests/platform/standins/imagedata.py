"""An image's data: where it lives for each disk type, how it is written, and
the datastore driver's copy of an imported file."""
import hashlib
import math
import os

from state import ONEADMIN_UID

MIB = 1 << 20


def size_mb(byte_count):
    return int(math.ceil(byte_count / MIB))

def place_image_data(platform, image, datastore, source_path=None, content=None, byte_count=0, sparse=False):
    """Gives `image` its SOURCE and writes its data there (copied from
    `source_path` with its holes, or `content`, or `byte_count` bytes of a
    fixed pattern, or with `sparse` a hole of `byte_count` bytes)."""
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
        copy_with_holes(source_path, data)
    elif content is not None:
        with open(data, "wb") as dst:
            dst.write(content)
    elif sparse:
        with open(data, "wb") as dst:
            dst.truncate(byte_count)
    else:
        write_pattern(data, byte_count, image["name"])
    image["size_mb"] = size_mb(os.path.getsize(data))

def copy_with_holes(source_path, target_path):
    """Copies the data runs of `source_path` and leaves its holes holes, so
    that a sparse image of many GB is copied at once and takes no space."""
    with open(source_path, "rb") as src, open(target_path, "wb") as dst:
        size = os.fstat(src.fileno()).st_size
        at = 0
        while at < size:
            try:
                start = os.lseek(src.fileno(), at, os.SEEK_DATA)
            except OSError:
                break  # only a hole is left
            end = os.lseek(src.fileno(), start, os.SEEK_HOLE)
            src.seek(start)
            dst.seek(start)
            left = end - start
            while left > 0:
                block = src.read(min(left, 1 << 20))
                if not block:
                    break
                dst.write(block)
                left -= len(block)
            at = end
        dst.truncate(size)

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
