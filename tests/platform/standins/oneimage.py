#!/usr/bin/python3 -BSE
"""Stand-in for /usr/bin/oneimage: show, list, delete, create."""
import os
import re

import cli
import documents
import imagedata
import listactions
import model
import plaintext
import templatefile
from cli import Fail
from xmldoc import render

TOOL = "/usr/bin/oneimage"
SUBCOMMANDS = ["create", "show", "list", "delete", "clone", "enable", "disable", "persistent", "nonpersistent",
               "chgrp", "chmod", "chown", "lock", "unlock"]
VERSION_FILE = "/etc/kevra_version"
# Platform versions built on the CLI that no longer has --driver: these, and
# every release from major version 3 on.
WITHOUT_DRIVER = {"Kevra 2.9", "3.0", "3.1", "3.2", "3.3", "3.3.1"}
PREFIXES = ("hd", "sd", "xvd", "vd")

CREATE_OPTIONS = {
    "-d": ("datastore", True), "--datastore": ("datastore", True),
    "--name": ("name", True), "--path": ("path", True), "--source": ("source", True),
    "--type": ("type", True), "--persistent": ("persistent", False), "--prefix": ("prefix", True),
    "--disk_type": ("disk_type", True), "--format": ("format", True), "--size": ("size", True),
    "--description": ("description", True), "--target": ("target", True), "--fs": ("fs", True),
    "--dry": ("dry", False), "--no_check_capacity": ("no_check_capacity", False),
}


def platform_has_driver_option():
    try:
        with open(VERSION_FILE) as f:
            version = f.read().strip()
    except OSError:
        version = ""
    if version in WITHOUT_DRIVER:
        return False
    major = re.search(r"[0-9]+", version)
    return major is not None and int(major.group()) < 3


def show(platform, positional, options, answer):
    cli.need_params("show", positional, 1, "## USAGE\nshow <imageid>")
    image = model.find(platform, "image", positional[0])
    model.image_shown(platform, image)
    if options.get("xml"):
        answer.write(render(documents.image_doc(platform, image)))
        return
    datastore = platform.data["datastores"].get(str(image["datastore_id"]), {"name": ""})
    answer.write(plaintext.show_text(
        "IMAGE %d INFORMATION" % image["id"],
        [("ID", image["id"]), ("NAME", image["name"]), ("USER", image["uname"]), ("GROUP", "oneadmin"),
         ("LOCK", "None"), ("DATASTORE", datastore["name"]), ("TYPE", model.IMAGE_TYPES[image["type"]]),
         ("REGISTER TIME", plaintext.regtime(image["regtime"])),
         ("PERSISTENT", "Yes" if image["persistent"] else "No"), ("SOURCE", image["source"]),
         ("PATH", image["path"]), ("FORMAT", image["format"]), ("SIZE", "%dM" % image["size_mb"]),
         ("STATE", model.IMAGE_STATES_SHORT[image["state"]]), ("RUNNING_VMS", 0)],
        [("IMAGE TEMPLATE", plaintext.attrs_text(list(image["template"].items())))]))


def list_(platform, positional, options, answer):
    images = model.sorted_records(platform, "image")
    if options.get("xml"):
        answer.write(render(documents.pool("IMAGE_POOL", [documents.image_doc(platform, i) for i in images])))
        return
    header = "  ID USER     GROUP    NAME            DATASTORE     SIZE TYPE PER STAT RVMS"
    rows = []
    for image in images:
        datastore = platform.data["datastores"].get(str(image["datastore_id"]), {"name": ""})
        rows.append("%4s %s %s %s %s %s %s %s %s %s" % (
            image["id"], plaintext.cut(image["uname"], 8), plaintext.cut("oneadmin", 8), plaintext.cut(image["name"], 15),
            plaintext.cut(datastore["name"], 10), plaintext.cut("%dM" % image["size_mb"], 7, left=False),
            plaintext.cut(model.IMAGE_TYPES_SHORT[image["type"]], 4), plaintext.cut("Yes" if image["persistent"] else "No", 3),
            plaintext.cut(model.IMAGE_STATES_SHORT[image["state"]], 4), plaintext.cut(0, 4, left=False)))
    answer.write(plaintext.table(header, rows))


def delete(platform, positional, options, answer):
    cli.need_params("delete", positional, 1, "## USAGE\ndelete <range|imageid_list>")

    def deletable(image):
        if image["state"] in (2, 8, 9, 10):
            raise Fail("[one.image.delete] Cannot delete image %d. There are VMs using it." % image["id"])
        if image["state"] == 6:
            raise Fail("[one.image.delete] Cannot delete image %d. There are active clone operations." % image["id"])

    return model.each_listed(platform, "image", positional, answer, "delete",
                             lambda image: model.delete_image(platform, image), deletable)


def enable(platform, positional, options, answer):
    cli.need_params("enable", positional, 1, "## USAGE\nenable <range|imageid_list>")

    def enabled(image):
        if image["state"] == 3:
            image["prev_state"], image["state"] = 3, 1
    return model.each_listed(platform, "image", positional, answer, "enable", enabled)


def disable(platform, positional, options, answer):
    cli.need_params("disable", positional, 1, "## USAGE\ndisable <range|imageid_list>")

    def ready(image):
        if image["state"] not in (1, 3):
            raise Fail("[one.image.enable] Cannot disable image %d in its current state." % image["id"])

    def disabled(image):
        image["prev_state"], image["state"] = image["state"], 3
    return model.each_listed(platform, "image", positional, answer, "enable", disabled, ready)


def image_type_number(text):
    word = text.upper()
    if word not in model.IMAGE_TYPES:
        raise Fail("Type should be: " + ", ".join(model.IMAGE_TYPES) + "\noption type: Parsing error")
    return model.IMAGE_TYPES.index(word)


def record_handed_file(state_dir, path):
    """Notes what the caller handed over, as it was at the call: the line
    "<path> <mode, 4 octal digits> <uid>:<gid>" (or "<path> missing") in calls/oneimage.paths."""
    try:
        info = os.lstat(path)
        line = "%s %04o %d:%d\n" % (path, info.st_mode & 0o7777, info.st_uid, info.st_gid)
    except OSError:
        line = "%s missing\n" % path
    with open(os.path.join(state_dir, "calls", "oneimage.paths"), "a") as paths:
        paths.write(line)


def create(platform, positional, options, answer, owner="oneadmin"):
    if "datastore" not in options:
        raise Fail("Datastore to save the image is mandatory: \n\t-d datastore_id")
    attrs = {}
    if positional:
        template_options = [k for k in options if k not in ("datastore", "dry", "no_check_capacity")]
        if template_options:
            raise Fail("You cannot pass template on STDIN and use template creation options, "
                       "conflicting options: " + ", ".join(template_options) + ".")
        with open(positional[0]) as f:
            attrs = {k: v for k, v in templatefile.parse(f.read()) if not isinstance(v, dict)}
    image_type = image_type_number(options.get("type", attrs.get("TYPE", "OS")))
    prefix = options.get("prefix", attrs.get("DEV_PREFIX"))
    if prefix is not None:
        prefix = prefix.lower()
        if prefix not in PREFIXES:
            raise Fail("The prefix must be hd, sd, xvd or vd")
    name = options.get("name", attrs.get("NAME"))
    path = options.get("path", attrs.get("PATH"))
    source = options.get("source", attrs.get("SOURCE"))
    if path is not None and "://" not in path and not os.path.isabs(path):
        path = os.path.join(os.getcwd(), path)
    if path is not None and "://" not in path:
        record_handed_file(platform.dir, path)
    if options.get("dry"):
        for key, value in [("NAME", name), ("PATH", path), ("SOURCE", source), ("TYPE", model.IMAGE_TYPES[image_type]),
                           ("DEV_PREFIX", prefix), ("DRIVER", options.get("driver")),
                           ("DISK_TYPE", options.get("disk_type"))]:
            if value is not None:
                answer.say('%s="%s"' % (key, value))
        return
    datastore = model.find(platform, "datastore", options["datastore"])
    if datastore["type"] not in (0, 2):
        raise Fail("[one.image.allocate] New images can only be allocated in a files or image datastore.")
    if not name:
        raise Fail("[one.image.allocate] No NAME in template.")
    if path is not None and source is not None:
        raise Fail("[one.image.allocate] PATH and SOURCE cannot be both set.")
    if path is None and source is None:
        raise Fail("[one.image.allocate] No PATH nor SOURCE in template.")
    if source is not None and "format" not in options:
        raise Fail("[one.image.allocate] SOURCE needs FORMAT to be set.")
    model.check_name_free(platform, "image", name, "allocate", "Error allocating a new image. ", owner)
    needed = imagedata.size_mb(os.path.getsize(path)) if path is not None and os.path.isfile(path) else 0
    if not options.get("no_check_capacity"):
        model.reserve_space(datastore, needed)
    template = {}
    if prefix is not None:
        template["DEV_PREFIX"] = prefix
    elif image_type in (0, 2):
        template["DEV_PREFIX"] = "sd"
    for option, attribute in [("driver", "DRIVER"), ("disk_type", "DISK_TYPE"), ("description", "DESCRIPTION"),
                              ("target", "TARGET"), ("fs", "FS")]:
        if option in options:
            template[attribute] = options[option]
    if image_type in (1, 3, 4, 5):
        persistent = 0
    elif image_type == 6:
        persistent = 1
    else:
        persistent = 1 if options.get("persistent") or attrs.get("PERSISTENT", "").upper() == "YES" else 0
    image = model.new_image(platform, name, datastore, owner, image_type, persistent, template)
    image["size_mb"] = needed
    if source is not None:
        image["source"] = image["data"] = source
        image["format"] = options["format"]
        image["state"] = 1
    else:
        image["path"] = path
        image["pending_copy"] = path
        model.start_locked(platform, image)
    answer.say("ID: %d" % image["id"])


def meanwhile(platform, args, owner):
    """The fault `meanwhile_owner`: while an image create hangs, user `owner`
    runs the same create, making an image of the same name of their own."""
    if not args or args[0] != "create":
        return
    positional, options = cli.parse_options(args[1:], accepted_options("create"))
    create(platform, positional, options, cli.Answer(), owner)


HANDLERS = dict({"show": show, "list": list_, "delete": delete, "create": create, "enable": enable,
                 "disable": disable}, **listactions.handlers("image", "image"))


def accepted_options(subcommand):
    accepted = dict(cli.XML_OPTIONS, **listactions.OPTIONS)
    if subcommand == "create":
        accepted.update(CREATE_OPTIONS)
        if platform_has_driver_option():
            accepted["--driver"] = ("driver", True)
    return accepted


def handle(platform, args, answer):
    return cli.dispatch(platform, args, answer, "oneimage", SUBCOMMANDS, HANDLERS, accepted_options)


if __name__ == "__main__":
    cli.run(TOOL, handle, meanwhile=meanwhile)
