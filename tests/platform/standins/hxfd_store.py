"""The engine stand-in's archives and the store that stands for the media server.

An archive is a tar file: first a member ".hxfd-index.json" describing it
(its name, media server, task, crypto, and every entry with size and
SHA-256), then one member per entry under its archive name. The store keeps
one archive per name in $KEVRA_PLATFORM_STATE/hxfd-store/<name>.hxfd.
"""
import hashlib
import io
import json
import os
import tarfile

INDEX = ".hxfd-index.json"


def safe_entry_name(name):
    """True when `name` stays inside the folder it is unpacked into."""
    parts = name.split("/")
    return bool(name) and not name.startswith("/") and ".." not in parts and INDEX != name


def file_digest(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def new_index(name, server, task, entries, crypto=None, hash_name="sha2", compression="None", reference=""):
    """The description of an archive made of `entries` [(archive name, local path)]."""
    import time
    files = [{"name": n, "source": local, "size": entry_size(local), "sha256": file_digest(local)}
             for n, local in entries]
    return {"name": name, "server": server, "task": task, "crypto": crypto, "hash": hash_name,
            "compression": compression, "reference": reference, "created": time.time(), "entries": files}


def entry_size(path):
    return os.path.getsize(path) if os.path.isfile(path) else _device_size(path)


def write_meta(path, index, stored):
    """The meta file of a backup: what a restore needs to find its archive."""
    meta = {"engine": "hxfd", "archive": index["name"], "server": index["server"], "task": index["task"],
            "store": stored, "entries": [{"name": e["name"], "size": e["size"], "sha256": e["sha256"]}
                                         for e in index["entries"]]}
    with open(path, "w") as f:
        json.dump(meta, f, indent=1, sort_keys=True)


class Archive:
    def __init__(self, path):
        self.path = path
        with tarfile.open(path, "r:") as tar:
            self.index = json.load(tar.extractfile(INDEX))

    def entries(self):
        return self.index["entries"]

    def extract(self, name, target):
        """Writes the entry `name` to `target`, byte for byte, with its mode.
        An entry that alter-archive made special comes back as what it is:
        a symbolic link, a hard link to a file of the host, a directory or a FIFO."""
        with tarfile.open(self.path, "r:") as tar:
            member = tar.getmember(name)
            os.makedirs(os.path.dirname(target) or ".", exist_ok=True)
            if not member.isfile():
                _make_special(member, target)
                return
            source = tar.extractfile(member)
            with open(target, "wb") as out:
                for block in iter(lambda: source.read(1 << 20), b""):
                    out.write(block)
            os.chmod(target, member.mode & 0o7777)


def _add_index(tar, index):
    """Writes the archive's index as its first member."""
    data = json.dumps(index, indent=1, sort_keys=True).encode()
    info = tarfile.TarInfo(INDEX)
    info.size = len(data)
    tar.addfile(info, io.BytesIO(data))


def write_archive(path, index, files, in_place=False):
    """A new archive at `path`: `files` is a list of (archive name, local path).
    In the store it is written beside and then renamed into place; `in_place`
    (the archive file the caller names, as the engine writes it) opens `path`
    for writing as it is, truncated, or creates it (mode 0666 less the mask)."""
    if in_place:
        with open(path, "wb") as out:
            _write_members(out, index, files)
        return
    tmp = path + ".part"
    with open(tmp, "wb") as out:
        _write_members(out, index, files)
    os.replace(tmp, path)


def _write_members(out, index, files):
    with tarfile.open(fileobj=out, mode="w:") as tar:
        _add_index(tar, index)
        for name, local in files:
            info = tarfile.TarInfo(name)
            info.size = os.path.getsize(local) if os.path.isfile(local) else _device_size(local)
            info.mode = os.stat(local).st_mode & 0o7777
            with open(local, "rb") as f:
                tar.addfile(info, f)


SPECIAL_KINDS = {"link": tarfile.SYMTYPE, "hard-link": tarfile.LNKTYPE, "directory": tarfile.DIRTYPE,
                 "fifo": tarfile.FIFOTYPE}


def _make_special(member, target):
    if os.path.islink(target) or (os.path.lexists(target) and not os.path.isdir(target)):
        os.remove(target)  # as a file of the archive replaces the one there
    if member.issym():
        os.symlink(member.linkname, target)
    elif member.islnk():
        os.link(member.linkname, target)
    elif member.isdir():
        os.makedirs(target, exist_ok=True)
    elif member.isfifo():
        os.mkfifo(target)
    else:
        raise OSError("hxfd stand-in: cannot unpack member %s" % member.name)


def alter_archive(path, specials):
    """Rewrites the archive at `path` with the entries of `specials`
    [(archive name, kind, link target)] replaced (or added) by special members
    of that kind (SPECIAL_KINDS)."""
    replaced = {name for name, _, _ in specials}
    with tarfile.open(path, "r:") as tar:
        index = json.load(tar.extractfile(INDEX))
        kept = []
        for member in tar.getmembers():
            if member.name != INDEX and member.name not in replaced:
                kept.append((member, tar.extractfile(member).read() if member.isfile() else None))
    index["entries"] = [e for e in index["entries"] if e["name"] not in replaced]
    for name, kind, target in specials:
        index["entries"].append({"name": name, "source": "", "size": 0, "kind": kind, "target": target or "",
                                 "sha256": hashlib.sha256(b"").hexdigest()})
    tmp = path + ".part"
    with tarfile.open(tmp, "w:") as tar:
        _add_index(tar, index)
        for member, content in kept:
            tar.addfile(member, io.BytesIO(content) if content is not None else None)
        for name, kind, target in specials:
            info = tarfile.TarInfo(name)
            info.type = SPECIAL_KINDS[kind]
            info.linkname = target or ""
            info.mode = 0o755 if kind == "directory" else 0o644
            tar.addfile(info)
    os.replace(tmp, path)


def _device_size(path):
    with open(path, "rb") as f:
        return f.seek(0, os.SEEK_END)


class Store:
    def __init__(self, state_dir):
        self.dir = os.path.join(state_dir, "hxfd-store")

    def path_of(self, name):
        return os.path.join(self.dir, name.replace("/", "_") + ".hxfd")

    def names(self):
        if not os.path.isdir(self.dir):
            return []
        return sorted(n[: -len(".hxfd")] for n in os.listdir(self.dir) if n.endswith(".hxfd"))

    def open(self, name):
        path = self.path_of(name)
        return Archive(path) if os.path.exists(path) else None

    def put(self, name, archive_path):
        os.makedirs(self.dir, exist_ok=True)
        target = self.path_of(name)
        if os.path.realpath(archive_path) != os.path.realpath(target):
            with open(archive_path, "rb") as src, open(target + ".part", "wb") as dst:
                for block in iter(lambda: src.read(1 << 20), b""):
                    dst.write(block)
            os.replace(target + ".part", target)
        return target
