#!/usr/bin/python3 -BSE
"""The fixture command: declares the platform's objects for a test, injects
faults, and reads the state and the call logs back. See tests/platform/README.md."""
import argparse
import os
import sys

import imagedata
import model
import state
from cli import Fail
from xmldoc import render, template_element

TASKS_DIR = "/opt/kelvomar/var/tasks"
DS_TYPES = {"image": 0, "system": 1, "file": 2, "backup": 3}


def pairs(text):
    """"K=V,K=V" as a dict (keys upper-cased as the platform stores them)."""
    result = {}
    for item in filter(None, text.split(",")):
        if "=" not in item:
            raise Fail("fixture: expected KEY=VALUE, got " + item, 2)
        key, value = item.split("=", 1)
        result[key.strip().upper()] = value
    return result


def number(text, table):
    if text.isdigit():
        return int(text)
    if text.upper() in table:
        return table.index(text.upper())
    raise Fail("fixture: unknown value " + text, 2)


def create_private_dirs(paths):
    for path in paths:
        if state.is_private(path) and path.startswith(("/var/tmp", state.sandbox_root())):
            os.makedirs(path, exist_ok=True)


# --- declaring ----------------------------------------------------------------

def cmd_datastore(p, a):
    ident = p.new_id("datastore", a.id)
    ds_type = DS_TYPES.get(a.type, None) if not a.type.isdigit() else int(a.type)
    if ds_type is None:
        raise Fail("fixture: unknown datastore type " + a.type, 2)
    tm_mad = a.tm_mad
    ds_mad = a.ds_mad or ("-" if ds_type == 1 else {"ceph": "ceph", "lvm_lvm": "lvm"}.get(tm_mad, "fs"))
    disk_type = a.disk_type if a.disk_type is not None else {"ceph": 3, "lvm_lvm": 2}.get(tm_mad, 0)
    if ds_type in (2, 3):
        disk_type = 0
    base_path = a.base_path or os.path.join(p.dir, "var/lib/one/") + "/datastores/%d" % ident
    if not state.is_private(base_path):
        raise Fail("fixture: the base path must lie inside the sandbox: " + base_path, 2)
    os.makedirs(base_path, exist_ok=True)
    template = {"DS_MAD": ds_mad, "TM_MAD": tm_mad, "TYPE": model.DS_TYPES[ds_type],
                "DISK_TYPE": model.DISK_TYPES[disk_type], "CLONE_TARGET": "SYSTEM", "LN_TARGET": "NONE",
                "ALLOW_ORPHANS": "NO"}
    if a.safe_dirs is None and a.restricted_dirs is None:
        template["SAFE_DIRS"], template["RESTRICTED_DIRS"] = "/var/tmp", "/"
    if a.safe_dirs is not None:
        template["SAFE_DIRS"] = a.safe_dirs
    if a.restricted_dirs is not None:
        template["RESTRICTED_DIRS"] = a.restricted_dirs
    if tm_mad == "ceph":
        template.update({"POOL_NAME": "one", "CEPH_USER": "libvirt", "BRIDGE_LIST": "ceph-node"})
    for item in a.attr:
        template.update(pairs(item))
    create_private_dirs(template.get("SAFE_DIRS", "").split())
    p.data["datastores"][str(ident)] = {
        "id": ident, "name": a.name, "uid": 0, "uname": "oneadmin", "type": ds_type, "ds_mad": ds_mad,
        "tm_mad": tm_mad, "base_path": base_path, "disk_type": disk_type, "state": 0,
        "total_mb": a.total_mb, "free_mb": a.free_mb, "used_mb": max(0, a.total_mb - a.free_mb),
        "template": template}
    return ident


def cmd_image(p, a):
    datastore = model.find(p, "datastore", a.datastore)
    if datastore["type"] not in (0, 2):
        raise Fail("fixture: images live in image or file datastores", 2)
    model.check_name_free(p, "image", a.name, owner=a.owner)
    image_type = number(a.type, model.IMAGE_TYPES)
    attrs = {}
    if a.prefix is not None:
        attrs["DEV_PREFIX"] = a.prefix
    elif image_type in (0, 2):
        attrs["DEV_PREFIX"] = "sd"
    if a.driver is not None:
        attrs["DRIVER"] = a.driver
    for item in a.attr:
        attrs.update(pairs(item))
    image = model.new_image(p, a.name, datastore, a.owner, image_type, 1 if a.persistent else 0, attrs,
                            a.state, a.id)
    image["path"] = a.path or ""
    image["format"] = a.format
    if a.content is not None:
        imagedata.place_image_data(p, image, datastore, content=a.content.encode())
    elif a.content_file is not None:
        imagedata.place_image_data(p, image, datastore, source_path=a.content_file)
    else:
        size = a.size_bytes if a.size_bytes is not None else (a.size_mb << 20 if a.size_mb is not None else 65543)
        imagedata.place_image_data(p, image, datastore, byte_count=size, sparse=a.sparse)
    if a.link_source:
        if not image["source"].startswith("/"):
            raise Fail("fixture: only FILE and BLOCK images have a path to link", 2)
        # SOURCE becomes a symbolic link to the file that holds the data.
        real = image["data"] + ".data"
        os.rename(image["data"], real)
        os.symlink(real, image["source"])
        image["data"] = real
    if a.locked_queries is not None:
        image["state"], image["locked_queries"] = 4, a.locked_queries
        image["then_state"] = a.then_state
    return image["id"]


def cmd_template(p, a):
    if a.unchecked_name:
        # A name that the CLI would refuse, as a platform may still hold one
        # that was made some other way: only its uniqueness is kept.
        if any(t["name"] == a.name and t["uname"] == a.owner for t in p.data["templates"].values()):
            raise Fail("fixture: template name taken: " + a.name, 2)
    else:
        model.check_name_free(p, "template", a.name, owner=a.owner)
    ident = p.new_id("template", a.id)
    attrs = [["DISK", pairs(d)] for d in a.disk]
    for item in a.attr:
        for key, value in pairs(item).items():
            attrs.append([key, value])
    for name, values in a.vector:
        attrs.append([name.upper(), pairs(values)])
    p.data["templates"][str(ident)] = {"id": ident, "name": a.name, "uname": a.owner, "uid": p.uid(a.owner),
                                       "regtime": p.now(), "attrs": attrs}
    return ident


def cmd_vm(p, a):
    ident = p.new_id("vm", a.id)
    disks = []
    for text in a.disk:
        disk = pairs(text)
        if "IMAGE" in disk and "IMAGE_ID" not in disk:
            image = model.find(p, "image", disk.pop("IMAGE"))
            disk.pop("IMAGE_UNAME", None)
            disk["IMAGE_ID"] = str(image["id"])
        image = p.data["images"].get(disk.get("IMAGE_ID", ""))
        if image is not None and a.state not in (6,):
            image["state"] = 8 if image["persistent"] else 2
        disks.append(disk)
    host_id = None
    if a.host:
        host_id = model.find(p, "host", a.host)["id"]
    p.data["vms"][str(ident)] = {"id": ident, "name": a.name, "uname": a.owner, "uid": p.uid(a.owner),
                                 "state": a.state, "lcm_state": a.lcm_state if a.state == 3 else 0,
                                 "host": a.host, "host_id": host_id, "stime": p.now(), "disks": disks,
                                 "template_id": a.template_id}
    return ident


def cmd_host(p, a):
    ident = p.new_id("host", a.id)
    p.data["hosts"][str(ident)] = {"id": ident, "name": a.name, "hostname": a.hostname or a.name}
    return ident


def cmd_task_secret(p, a):
    os.makedirs(TASKS_DIR, exist_ok=True)
    path = TASKS_DIR + "/task_secret_" + a.task_id
    replace_file(path, a.content if a.content is not None else "secret-of-" + a.task_id)
    os.chmod(path, 0o600)
    return path


def cmd_config(p, a):
    if a.lock_queries is not None:
        p.data["config"]["lock_queries"] = a.lock_queries
    if a.delete_queries is not None:
        p.data["config"]["delete_queries"] = a.delete_queries


def replace_file(path, text):
    """Writes a new file at `path`; a link there is replaced, not followed
    (it may lead out of the sandbox's overlays)."""
    if os.path.lexists(path):
        os.remove(path)
    with open(path, "w") as f:
        f.write(text)


def cmd_system(p, a):
    if a.pretty_name is not None:
        with open("/etc/os-release") as f:
            lines = [l for l in f.read().splitlines() if not l.startswith("PRETTY_NAME=")]
        replace_file("/etc/os-release", 'PRETTY_NAME="%s"\n' % a.pretty_name + "".join(l + "\n" for l in lines))
    if a.kevra_version is not None:
        replace_file("/etc/kevra_version", a.kevra_version)
    if a.no_kevra_version and os.path.exists("/etc/kevra_version"):
        os.remove("/etc/kevra_version")
    if a.no_onevm and os.path.lexists("/usr/bin/onevm"):
        os.remove("/usr/bin/onevm")


def cmd_set_image(p, a):
    image = model.find(p, "image", a.image)
    if a.state is not None:
        image["prev_state"], image["state"] = image["state"], a.state
    if a.locked_queries is not None:
        image["state"], image["locked_queries"] = 4, a.locked_queries
    if a.then_state is not None:
        image["then_state"] = a.then_state


def cmd_set_datastore(p, a):
    datastore = model.find(p, "datastore", a.datastore)
    if a.free_mb is not None:
        datastore["free_mb"] = a.free_mb
        datastore["used_mb"] = max(0, datastore["total_mb"] - a.free_mb)
    if a.safe_dirs is not None:
        datastore["template"]["SAFE_DIRS"] = a.safe_dirs
        create_private_dirs(a.safe_dirs.split())
    if a.disabled:
        datastore["state"] = 1


def cmd_fault(p, a):
    if a.tool == "image-fate":
        if not a.name_glob:
            raise Fail("fixture: image-fate needs --name-glob", 2)
        fate = {"glob": a.name_glob}
        if a.stuck_locked:
            fate["stuck"] = True
        if a.then_state is not None:
            fate["then_state"] = a.then_state
        p.data["fates"].append(fate)
        return
    fault = {"tool": a.tool, "subcommand": a.subcommand, "with_args": a.with_arg, "skip_first": a.skip_first}
    if a.times is not None:
        fault["times"] = a.times
    kinds = 0
    if (a.as_user is None) != (a.user_command is None):
        raise Fail("fixture: --as-user and --run go together", 2)
    if a.as_user is not None:
        fault["as_user"] = a.as_user
        fault["run"] = a.user_command
        fault["after"] = a.after
        kinds += 1
    elif a.after:
        raise Fail("fixture: --after belongs to --as-user", 2)
    for key in ("exit", "warning", "signal", "bad_pid", "delay", "line_end", "trailing", "name_taken_by", "hang",
                "hang_before", "hang_between", "orphan"):
        value = getattr(a, key)
        if value is not None:
            fault[key] = value
            kinds += key not in ("delay", "line_end", "trailing", "orphan")
    if a.orphan_ignores_term:
        if a.orphan is None:
            raise Fail("fixture: --orphan-ignores-term belongs to --orphan", 2)
        fault["orphan_ignores_term"] = True
    for key in ("malformed", "no_effect"):
        if getattr(a, key):
            fault[key] = True
            kinds += 1
    if a.stdout is not None:
        fault["stdout"] = a.stdout
    if a.stdout_file is not None:
        fault["stdout_file"] = os.path.abspath(a.stdout_file)
    if a.stderr is not None:
        fault["stderr"] = a.stderr
    if kinds > 1:
        raise Fail("fixture: one kind of fault at a time", 2)
    if a.cloned_disks is not None:
        if a.hang_between is None:
            raise Fail("fixture: --cloned-disks belongs to --hang-between", 2)
        fault["cloned_disks"] = a.cloned_disks
    if a.meanwhile_owner is not None:
        if a.hang is None and a.hang_before is None:
            raise Fail("fixture: --meanwhile-owner needs --hang or --hang-before", 2)
        fault["meanwhile_owner"] = a.meanwhile_owner
    p.data["faults"].append(fault)


# --- reading back -------------------------------------------------------------

def named(number, names):
    """A number with its name beside it ("1 READY"); the number alone when it has none."""
    name = names.get(number) if isinstance(names, dict) else names[number] if 0 <= number < len(names) else None
    return "%d %s" % (number, name) if name else str(number)


# The columns of `list KIND --table`: a header and the text of a record.
TABLE_COLUMNS = {
    "image": [("ID", lambda r: r["id"]), ("NAME", lambda r: r["name"]),
              ("STATE", lambda r: named(r["state"], model.IMAGE_STATES)),
              ("TYPE", lambda r: named(r["type"], model.IMAGE_TYPES)),
              ("DISK TYPE", lambda r: named(r["disk_type"], model.DISK_TYPES)),
              ("DATASTORE", lambda r: r["datastore_id"]), ("SIZE MB", lambda r: r["size_mb"])],
    "template": [("ID", lambda r: r["id"]), ("NAME", lambda r: r["name"]), ("OWNER", lambda r: r["uname"]),
                 ("DISKS", lambda r: sum(1 for key, _ in r["attrs"] if key == "DISK"))],
    "datastore": [("ID", lambda r: r["id"]), ("NAME", lambda r: r["name"]),
                  ("TYPE", lambda r: named(r["type"], model.DS_TYPES)), ("TM_MAD", lambda r: r["tm_mad"]),
                  ("DISK TYPE", lambda r: named(r["disk_type"], model.DISK_TYPES)),
                  ("STATE", lambda r: named(r["state"], model.DS_STATES)), ("FREE MB", lambda r: r["free_mb"])],
    "vm": [("ID", lambda r: r["id"]), ("NAME", lambda r: r["name"]),
           ("STATE", lambda r: named(r["state"], model.VM_STATES)), ("HOST", lambda r: r["host"] or "")],
    "host": [("ID", lambda r: r["id"]), ("NAME", lambda r: r["name"]), ("HOSTNAME", lambda r: r["hostname"])],
}


def table_lines(rows):
    """Rows of texts as lines, each column as wide as its widest text, two blanks apart."""
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    return ["  ".join(text.ljust(width) for text, width in zip(row, widths)).rstrip() for row in rows]


def cmd_list(p, a):
    kind = a.kind.rstrip("s")
    if kind not in model.KINDS:
        raise Fail("fixture: unknown kind " + a.kind, 2)
    records = model.sorted_records(p, kind)
    if a.table:
        columns = TABLE_COLUMNS[kind]
        rows = [[header for header, _ in columns]]
        rows += [[str(value(record)) for _, value in columns] for record in records]
        for line in table_lines(rows):
            print(line)
        return
    for record in records:
        print("%d\t%s\t%s" % (record["id"], record["name"], record.get("state", "")))


IMAGE_FIELDS = {"id": "id", "name": "name", "state": "state", "source": "source", "data-path": "data",
                "size-mb": "size_mb", "persistent": "persistent", "datastore": "datastore_id", "type": "type",
                "disk-type": "disk_type", "path": "path", "owner": "uname", "uid": "uid"}


def cmd_get(p, a):
    if a.kind == "image":
        image = model.find(p, "image", a.ref)
        if a.field in ("prefix", "driver"):
            print(image["template"].get("DEV_PREFIX" if a.field == "prefix" else "DRIVER", ""))
        elif a.field in IMAGE_FIELDS:
            print(image[IMAGE_FIELDS[a.field]])
        else:
            raise Fail("fixture: unknown image field " + a.field, 2)
    elif a.kind == "template":
        template = model.find(p, "template", a.ref)
        if a.field != "xml":
            raise Fail("fixture: template field is xml", 2)
        sys.stdout.write(render(template_element("TEMPLATE", template["attrs"])))
    elif a.kind == "datastore":
        datastore = model.find(p, "datastore", a.ref)
        key = a.field.replace("-", "_")
        if key not in datastore:
            raise Fail("fixture: unknown datastore field " + a.field, 2)
        print(datastore[key])
    else:
        raise Fail("fixture: get image|template|datastore", 2)


def cmd_calls(p, a):
    path = os.path.join(p.dir, "calls", os.path.basename(a.tool) + ".log")
    if a.clear:
        for name in os.listdir(os.path.dirname(path)) if os.path.isdir(os.path.dirname(path)) else []:
            if name.endswith(".log"):
                open(os.path.join(p.dir, "calls", name), "w").close()
        return
    if os.path.exists(path):
        with open(path) as f:
            sys.stdout.write(f.read())


def cmd_archives(p, a):
    import hxfd_store
    for name in hxfd_store.Store(p.dir).names():
        print(name)


def cmd_make_archive(p, a):
    """An archive in the store as a backup would leave it, with its meta file."""
    import hxfd_store
    members = []
    for item in a.entry:
        if "=" not in item:
            raise Fail("fixture: --entry wants ARCHIVE_NAME=LOCAL_PATH", 2)
        name, local = item.split("=", 1)
        if not hxfd_store.safe_entry_name(name) or not os.path.exists(local):
            raise Fail("fixture: bad entry " + item, 2)
        members.append((name, local))
    index = hxfd_store.new_index(a.name, a.server, a.task, members)
    store = hxfd_store.Store(p.dir)
    os.makedirs(store.dir, exist_ok=True)
    staging = store.path_of(a.name) + ".new"
    hxfd_store.write_archive(staging, index, members)
    stored = store.put(a.name, staging)
    os.remove(staging)
    if a.archive_file:
        hxfd_store.write_archive(a.archive_file, index, members)
    if a.meta:
        hxfd_store.write_meta(a.meta, index, stored)
    return stored


def cmd_alter_archive(p, a):
    """Replaces entries of a stored archive by members that the engine unpacks
    as symbolic links, hard links, directories or FIFOs."""
    import hxfd_store
    store = hxfd_store.Store(p.dir)
    if store.open(a.name) is None:
        raise Fail("fixture: no archive " + a.name, 1)
    specials = []
    for kind, items in (("link", a.link), ("hard-link", a.hard_link)):
        for item in items:
            if "=" not in item:
                raise Fail("fixture: --%s wants ARCHIVE_NAME=TARGET" % kind, 2)
            name, target = item.split("=", 1)
            specials.append((name, kind, target))
    specials += [(name, "directory", None) for name in a.directory]
    specials += [(name, "fifo", None) for name in a.fifo]
    for name, _, _ in specials:
        if not hxfd_store.safe_entry_name(name):
            raise Fail("fixture: bad entry " + name, 2)
    hxfd_store.alter_archive(store.path_of(a.name), specials)


def cmd_archive_files(p, a):
    import hxfd_store
    archive = hxfd_store.Store(p.dir).open(a.name)
    if archive is None:
        raise Fail("fixture: no archive " + a.name, 1)
    for entry in archive.entries():
        print("%s\t%d" % (entry["name"], entry["size"]))


def reset():
    """Back to a fresh sandbox: empty platform, empty store and call logs, the
    installed files as install-standins writes them, /var/tmp empty."""
    import shutil
    import subprocess
    root = state.state_dir()
    for name in os.listdir(root):
        path = os.path.join(root, name)
        shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)
    with open("/proc/self/mounts") as mounts:
        private_var_tmp = any(line.split()[:2] == ["kevra-var-tmp", "/var/tmp"] for line in mounts)
    for name in os.listdir("/var/tmp") if private_var_tmp else []:
        path = os.path.join("/var/tmp", name)
        shutil.rmtree(path) if os.path.isdir(path) and not os.path.islink(path) else os.remove(path)
    subprocess.run([os.path.join(os.path.dirname(os.path.dirname(os.path.realpath(__file__))), "install-standins")],
                   check=True)


# --- the command line -----------------------------------------------------------

def parser():
    top = argparse.ArgumentParser(prog="fixture", description=__doc__)
    verbs = top.add_subparsers(dest="verb", required=True)

    v = verbs.add_parser("datastore")
    v.add_argument("--name", required=True)
    v.add_argument("--id", type=int)
    v.add_argument("--type", default="image")
    v.add_argument("--tm-mad", default="shared")
    v.add_argument("--ds-mad")
    v.add_argument("--disk-type", type=int)
    v.add_argument("--free-mb", type=int, default=10240)
    v.add_argument("--total-mb", type=int, default=20480)
    v.add_argument("--base-path")
    v.add_argument("--safe-dirs")
    v.add_argument("--restricted-dirs")
    v.add_argument("--attr", action="append", default=[])
    v.set_defaults(run=cmd_datastore)

    v = verbs.add_parser("image")
    v.add_argument("--name", required=True)
    v.add_argument("--datastore", required=True)
    v.add_argument("--id", type=int)
    v.add_argument("--type", default="OS")
    v.add_argument("--persistent", action="store_true")
    v.add_argument("--prefix")
    v.add_argument("--driver")
    v.add_argument("--format", default="raw")
    v.add_argument("--path")
    data = v.add_mutually_exclusive_group()
    data.add_argument("--content")
    data.add_argument("--content-file")
    data.add_argument("--size-bytes", type=int)
    data.add_argument("--size-mb", type=int)
    v.add_argument("--sparse", action="store_true")
    v.add_argument("--state", type=int, default=1)
    v.add_argument("--owner", default="oneadmin")
    v.add_argument("--locked-queries", type=int)
    v.add_argument("--then-state", type=int, default=1)
    v.add_argument("--link-source", action="store_true")
    v.add_argument("--attr", action="append", default=[])
    v.set_defaults(run=cmd_image)

    v = verbs.add_parser("template")
    v.add_argument("--name", required=True)
    v.add_argument("--id", type=int)
    v.add_argument("--owner", default="oneadmin")
    v.add_argument("--disk", action="append", default=[])
    v.add_argument("--attr", action="append", default=[])
    v.add_argument("--vector", nargs=2, action="append", default=[], metavar=("NAME", "K=V,..."))
    v.add_argument("--unchecked-name", action="store_true")
    v.set_defaults(run=cmd_template)

    v = verbs.add_parser("vm")
    v.add_argument("--name", required=True)
    v.add_argument("--id", type=int)
    v.add_argument("--state", type=int, default=3)
    v.add_argument("--lcm-state", type=int, default=3)
    v.add_argument("--host")
    v.add_argument("--disk", action="append", default=[])
    v.add_argument("--owner", default="oneadmin")
    v.add_argument("--template-id", type=int)
    v.set_defaults(run=cmd_vm)

    v = verbs.add_parser("host")
    v.add_argument("--name", required=True)
    v.add_argument("--id", type=int)
    v.add_argument("--hostname")
    v.set_defaults(run=cmd_host)

    v = verbs.add_parser("task-secret")
    v.add_argument("task_id")
    v.add_argument("--content")
    v.set_defaults(run=cmd_task_secret)

    v = verbs.add_parser("config")
    v.add_argument("--lock-queries", type=int)
    v.add_argument("--delete-queries", type=int)
    v.set_defaults(run=cmd_config)

    v = verbs.add_parser("system")
    v.add_argument("--pretty-name")
    v.add_argument("--kevra-version")
    v.add_argument("--no-kevra-version", action="store_true")
    v.add_argument("--no-onevm", action="store_true")
    v.set_defaults(run=cmd_system)

    v = verbs.add_parser("set-image")
    v.add_argument("image")
    v.add_argument("--state", type=int)
    v.add_argument("--locked-queries", type=int)
    v.add_argument("--then-state", type=int)
    v.set_defaults(run=cmd_set_image)

    v = verbs.add_parser("set-datastore")
    v.add_argument("datastore")
    v.add_argument("--free-mb", type=int)
    v.add_argument("--safe-dirs")
    v.add_argument("--disabled", action="store_true")
    v.set_defaults(run=cmd_set_datastore)

    v = verbs.add_parser("fault")
    v.add_argument("tool", choices=["onetemplate", "oneimage", "onedatastore", "onevm", "onehost", "rbd", "lvs",
                                    "hxfd", "image-fate"])
    v.add_argument("subcommand", nargs="?", default="*")
    v.add_argument("--with-arg", action="append", default=[])
    v.add_argument("--skip-first", type=int, default=0)
    v.add_argument("--times", type=int)
    v.add_argument("--exit", type=int)
    v.add_argument("--stdout")
    v.add_argument("--stdout-file")
    v.add_argument("--stderr")
    v.add_argument("--malformed", action="store_true")
    v.add_argument("--warning")
    v.add_argument("--no-effect", action="store_true")
    v.add_argument("--signal")
    v.add_argument("--bad-pid")
    v.add_argument("--delay", type=float)
    v.add_argument("--line-end", choices=["lf", "cr", "crlf"])
    v.add_argument("--trailing")
    v.add_argument("--name-taken-by", metavar="OWNER")
    v.add_argument("--hang", type=float, metavar="SECONDS")
    v.add_argument("--hang-before", type=float, metavar="SECONDS")
    v.add_argument("--hang-between", type=float, metavar="SECONDS")
    v.add_argument("--cloned-disks", type=int, metavar="N")
    v.add_argument("--meanwhile-owner", metavar="OWNER")
    v.add_argument("--orphan", type=float, metavar="SECONDS")
    v.add_argument("--orphan-ignores-term", action="store_true")
    v.add_argument("--as-user", metavar="USER")
    v.add_argument("--run", dest="user_command", metavar="SHELL_COMMAND")
    v.add_argument("--after", action="store_true")
    v.add_argument("--name-glob")
    v.add_argument("--stuck-locked", action="store_true")
    v.add_argument("--then-state", type=int)
    v.set_defaults(run=cmd_fault)

    v = verbs.add_parser("list")
    v.add_argument("kind")
    v.add_argument("--table", action="store_true")
    v.set_defaults(run=cmd_list)

    v = verbs.add_parser("get")
    v.add_argument("kind")
    v.add_argument("ref")
    v.add_argument("field")
    v.set_defaults(run=cmd_get)

    v = verbs.add_parser("calls")
    v.add_argument("tool", nargs="?", default="all")
    v.add_argument("--clear", action="store_true")
    v.set_defaults(run=cmd_calls)

    v = verbs.add_parser("archives")
    v.set_defaults(run=cmd_archives)

    v = verbs.add_parser("make-archive")
    v.add_argument("name")
    v.add_argument("--server", default="media1")
    v.add_argument("--task", default="")
    v.add_argument("--entry", action="append", default=[], metavar="ARCHIVE_NAME=LOCAL_PATH")
    v.add_argument("--meta")
    v.add_argument("--archive-file")
    v.set_defaults(run=cmd_make_archive)

    v = verbs.add_parser("alter-archive")
    v.add_argument("name")
    v.add_argument("--link", action="append", default=[], metavar="ARCHIVE_NAME=TARGET")
    v.add_argument("--hard-link", action="append", default=[], metavar="ARCHIVE_NAME=TARGET")
    v.add_argument("--directory", action="append", default=[], metavar="ARCHIVE_NAME")
    v.add_argument("--fifo", action="append", default=[], metavar="ARCHIVE_NAME")
    v.set_defaults(run=cmd_alter_archive)

    v = verbs.add_parser("archive-files")
    v.add_argument("name")
    v.set_defaults(run=cmd_archive_files)
    return top


def main():
    state.refuse_outside_sandbox()
    if sys.argv[1:] == ["reset"]:
        reset()
        return
    args = parser().parse_args()
    try:
        with state.Platform() as platform:
            result = args.run(platform, args)
    except (Fail, ValueError) as failure:
        sys.stderr.write(getattr(failure, "message", str(failure)) + "\n")
        sys.exit(getattr(failure, "status", 2))
    if result is not None:
        print(result)


if __name__ == "__main__":
    main()
