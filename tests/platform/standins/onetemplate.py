#!/usr/bin/python3 -BSE
"""Stand-in for /usr/bin/onetemplate: show, list, clone, delete, create."""
import copy
import time
import xml.etree.ElementTree as ElementTree

import cli
import documents
import imagedata
import listactions
import model
import plaintext
import templatefile
from cli import Fail
from xmldoc import render

TOOL = "/usr/bin/onetemplate"
OPTIONS = dict(cli.XML_OPTIONS, **{"-R": ("recursive", False), "--recursive": ("recursive", False)},
               **listactions.OPTIONS)
SUBCOMMANDS = ["show", "list", "clone", "delete", "create", "instantiate", "update", "chgrp", "chmod", "chown",
               "rename", "lock", "unlock"]


def show(platform, positional, options, answer):
    cli.need_params("show", positional, 1, "## USAGE\nshow <templateid>")
    template = model.find(platform, "template", positional[0])
    if options.get("xml"):
        answer.write(render(documents.template_doc(template)))
        return
    answer.write(plaintext.show_text(
        "TEMPLATE %d INFORMATION" % template["id"],
        [("ID", template["id"]), ("NAME", template["name"]), ("USER", template["uname"]),
         ("GROUP", "oneadmin" if template["uid"] == 0 else "users"), ("LOCK", "None"),
         ("REGISTER TIME", plaintext.regtime(template["regtime"]))],
        [("PERMISSIONS", ["OWNER          : um-", "GROUP          : ---", "OTHER          : ---"]),
         ("TEMPLATE CONTENTS", plaintext.attrs_text(template["attrs"]))]))


def list_(platform, positional, options, answer):
    templates = model.sorted_records(platform, "template")
    if options.get("xml"):
        answer.write(render(documents.pool("VMTEMPLATE_POOL", [documents.template_doc(t) for t in templates])))
        return
    header = "  ID USER     GROUP    NAME                    REGTIME"
    rows = ["%4s %s %s %s %s" % (t["id"], plaintext.cut(t["uname"], 8), plaintext.cut("oneadmin" if t["uid"] == 0 else "users", 8),
                                plaintext.cut(t["name"], 15), plaintext.cut(plaintext.regtime(t["regtime"]), 15, left=False))
            for t in templates]
    answer.write(plaintext.table(header, rows))


def clone_image(platform, image, new_name, owner="oneadmin"):
    """A copy of `image` named `new_name` in the same datastore, data included,
    belonging to the user who clones."""
    if image["type"] not in (0, 1, 2):
        raise Fail("Only images of type OS, CDROM and DATABLOCK can be cloned")
    if image["state"] not in (1, 2, 6):
        raise Fail("Cannot clone image in current state")
    datastore = platform.data["datastores"][str(image["datastore_id"])]
    model.check_name_free(platform, "image", new_name, "clone", owner=owner)
    model.reserve_space(datastore, image["size_mb"])
    # The copy belongs to the user who clones (the CLI runs as oneadmin).
    copy = model.new_image(platform, new_name, datastore, owner, image["type"], image["persistent"],
                           image["template"])
    copy["path"] = image["path"]
    copy["format"] = image["format"]
    imagedata.place_image_data(platform, copy, datastore, source_path=image["data"])
    model.begin_clone(platform, image, copy)
    model.start_locked(platform, copy)
    return copy


def clone_disk_images(platform, source, template, owner, first=0, count=None):
    """The second step of a recursive clone: the images of the template's
    image disks, from the `first` such disk on (at most `count` of them), are
    cloned as `<name>-disk-<N>` (N counting every DISK from 0) and each of
    those disks is switched to its copy. Returns the IDs of the copies."""
    copies = []
    ndisk = 0
    nimage = 0
    for key, disk in template["attrs"]:
        if key != "DISK" or not isinstance(disk, dict):
            continue
        if model.refers_to_image(disk):
            if nimage >= first and (count is None or len(copies) < count):
                image = model.disk_image(platform, source, disk)
                try:
                    if image is None:
                        raise Fail("Error getting image")
                    copy = clone_image(platform, image, "%s-disk-%d" % (template["name"], ndisk), owner)
                except Fail as failure:
                    raise Fail("[one.template.clone] Failed to clone images: " + failure.message)
                for gone in ("IMAGE", "IMAGE_UNAME", "IMAGE_UID", "OPENNEBULA_MANAGED"):
                    disk.pop(gone, None)
                disk["IMAGE_ID"] = str(copy["id"])
                copies.append(copy["id"])
            nimage += 1
        ndisk += 1
    return copies


def finish_after_hang(platform, ident, source_id, owner, done, hang, answer):
    """The fault `hang_between`: the new template stands, its disks still
    naming the source's images (the first `done` of them already cloned and
    switched); the call waits with the state unlocked, then clones the rest.
    A failure then deletes the new template and every copy again, leaving the
    rest of the state as it is by then (its message on `answer`). Returns the
    call's status."""
    platform.__exit__(None, None, None)
    time.sleep(hang)
    platform.__enter__()
    before = copy.deepcopy(platform.data)
    try:
        template = platform.data["templates"].get(str(ident))
        source = platform.data["templates"].get(str(source_id))
        if template is None or source is None:
            raise Fail("[one.template.clone] Failed to clone images: Error getting template")
        clone_disk_images(platform, source, template, owner, first=len(done))
    except Fail as failure:
        platform.data = before
        platform.data["templates"].pop(str(ident), None)
        for image_id in done:
            image = platform.data["images"].get(str(image_id))
            if image is not None:
                model.remove_image(platform, image)
        answer.warn(failure.message)
        return failure.status
    return 0


def clone(platform, positional, options, answer, owner="oneadmin"):
    cli.need_params("clone", positional, 2, "## USAGE\nclone <templateid> <name>")
    source = model.find(platform, "template", positional[0])
    new_name = positional[1]
    model.check_name_free(platform, "template", new_name, "clone", owner=owner)
    attrs = [[key, dict(value) if isinstance(value, dict) else value] for key, value in source["attrs"]]
    ident = platform.new_id("template")
    template = {"id": ident, "name": new_name, "uname": owner, "uid": platform.uid(owner),
                "regtime": platform.now(), "attrs": attrs}
    platform.data["templates"][str(ident)] = template
    if options.get("recursive"):
        between = getattr(platform, "hang_between", None)
        if between is None:
            clone_disk_images(platform, source, template, owner)
        else:
            # The caller's snapshot of the state undoes a failure up to here.
            done = clone_disk_images(platform, source, template, owner, count=between["cloned_disks"])
            status = finish_after_hang(platform, ident, source["id"], owner, done, between["seconds"], answer)
            if status != 0:
                return status
    answer.say("ID: %d" % ident)


def delete(platform, positional, options, answer):
    cli.need_params("delete", positional, 1, "## USAGE\ndelete <range|templateid_list>")

    def remove(template):
        del platform.data["templates"][str(template["id"])]
        if options.get("recursive"):
            for disk in model.disks(template):
                image = model.disk_image(platform, template, disk)
                # Images that cannot go (in use) stay; the call still succeeds.
                if image is not None and image["state"] not in (2, 6, 8, 9, 10):
                    model.delete_image(platform, image)

    return model.each_listed(platform, "template", positional, answer, "delete", remove)


def create(platform, positional, options, answer, owner="oneadmin"):
    cli.need_params("create", positional, 1, "## USAGE\ncreate [<file>]")
    path = positional[0]
    try:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8", "replace")
    except OSError as error:
        raise Fail("%s: %s" % (path, error.strerror))
    try:
        attrs = templatefile.parse(text)
    except (ValueError, IndexError, ElementTree.ParseError) as error:
        raise Fail("[one.template.allocate] Parse error: %s" % error)
    names = [value for key, value in attrs if key == "NAME"]
    attrs = [[key, value] for key, value in attrs if key != "NAME"]
    ident = platform.new_id("template")
    name = names[0] if names else "template-%d" % ident
    model.check_name_free(platform, "template", name, "allocate",
                          "Error allocating a new virtual machine template. ", owner)
    platform.data["templates"][str(ident)] = {"id": ident, "name": name, "uname": owner, "uid": platform.uid(owner),
                                              "regtime": platform.now(), "attrs": attrs}
    answer.say("ID: %d" % ident)


def before_call(platform, args, fault):
    """The fault `hang_between` of a clone is handed to the clone itself (see
    finish_after_hang). The fault `name_taken_by`: just before a clone runs, another process
    (as user `name_taken_by`) makes a template of the clone's name, a plain
    copy of the source whose disks refer to the source's images."""
    if "hang_between" in fault and args and args[0] == "clone":
        platform.hang_between = {"seconds": fault["hang_between"], "cloned_disks": fault.get("cloned_disks", 0)}
    owner = fault.get("name_taken_by")
    if not owner or not args or args[0] != "clone":
        return
    positional, _ = cli.parse_options(args[1:], OPTIONS)
    try:
        source = model.find(platform, "template", positional[0])
    except (Fail, IndexError):
        return
    ident = platform.new_id("template")
    platform.data["templates"][str(ident)] = {
        "id": ident, "name": positional[1], "uname": owner, "uid": platform.uid(owner), "regtime": platform.now(),
        "attrs": [[key, dict(value) if isinstance(value, dict) else value] for key, value in source["attrs"]]}


def meanwhile(platform, args, owner):
    """The fault `meanwhile_owner`: while a clone or a create hangs, user
    `owner` runs the same command, making a template of the same name of
    their own (for a recursive clone with their own copies of the images)."""
    if not args or args[0] not in ("clone", "create"):
        return
    positional, options = cli.parse_options(args[1:], OPTIONS)
    (clone if args[0] == "clone" else create)(platform, positional, options, cli.Answer(), owner)


HANDLERS = dict({"show": show, "list": list_, "clone": clone, "delete": delete, "create": create},
                **listactions.handlers("template", "template"))


def handle(platform, args, answer):
    return cli.dispatch(platform, args, answer, "onetemplate", SUBCOMMANDS, HANDLERS, OPTIONS)


if __name__ == "__main__":
    cli.run(TOOL, handle, before_call, meanwhile)
