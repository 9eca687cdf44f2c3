#!/usr/bin/python3 -BSE
"""Stand-in for Ceph's rbd: info, export and ls over the fake pool, where
each RBD image of the platform is a file (`fixture get image X data-path`)."""
import os
import sys

import cli
import state
from cli import Fail

TOOL = "/usr/bin/rbd"
OPTIONS = {"--id": ("id", True), "--format": ("format", True), "--pretty-format": ("pretty", False),
           "-p": ("pool", True), "--pool": ("pool", True), "--no-progress": ("quiet", False)}


def find_image(platform, ref, options):
    if "/" in ref:
        pool, name = ref.split("/", 1)
    else:
        pool, name = options.get("pool", "rbd"), ref
    for image in platform.data["images"].values():
        if image["disk_type"] == 3 and image["source"] == "%s/%s" % (pool, name):
            return image, name
    raise Fail("rbd: error opening image %s: (2) No such file or directory" % name, status=2)


def info(platform, positional, options, answer):
    if not positional:
        raise Fail("rbd: image name was not specified", status=22)
    image, name = find_image(platform, positional[0], options)
    size = os.path.getsize(image["data"])
    objects = (size + (4 << 20) - 1) >> 22
    prefix = "rbd_data." + image["rbd_id"]
    if options.get("format") == "xml":
        answer.say("<image><name>%s</name><id>%s</id><size>%d</size><objects>%d</objects><order>22</order>"
                   "<object_size>4194304</object_size><snapshot_count>0</snapshot_count>"
                   "<block_name_prefix>%s</block_name_prefix><format>2</format>"
                   "<features><feature>layering</feature></features><op_features></op_features>"
                   "<flags></flags></image>" % (name, image["rbd_id"], size, objects, prefix))
    elif options.get("format") == "json":
        answer.say('{"name":"%s","id":"%s","size":%d,"objects":%d,"order":22,"object_size":4194304,'
                   '"snapshot_count":0,"block_name_prefix":"%s","format":2,"features":["layering"],'
                   '"op_features":[],"flags":[]}' % (name, image["rbd_id"], size, objects, prefix))
    else:
        answer.write("rbd image '%s':\n\tsize %d B in %d objects\n\torder 22 (4 MiB objects)\n"
                     "\tsnapshot_count: 0\n\tid: %s\n\tblock_name_prefix: %s\n\tformat: 2\n"
                     "\tfeatures: layering\n\top_features: \n\tflags: \n"
                     % (name, size, objects, image["rbd_id"], prefix))


def export(platform, positional, options, answer):
    if len(positional) < 2:
        raise Fail("rbd: path was not specified", status=22)
    image, _ = find_image(platform, positional[0], options)
    target = positional[1]
    with open(image["data"], "rb") as src:
        data = src.read()
    if target == "-":
        sys.stdout.buffer.write(data)
        return
    if os.path.exists(target):
        raise Fail("rbd: export error: (17) File exists", status=1)
    if not state.is_private(target):
        raise Fail("rbd stand-in: refusing to write outside the sandbox: " + target, status=1)
    try:
        with open(target, "wb") as dst:
            dst.write(data)
    except OSError as error:
        raise Fail("rbd: error writing to destination: (%d) %s" % (error.errno, error.strerror), status=1)
    if not options.get("quiet"):
        answer.warn("Exporting image: 100% complete...done.")


def ls(platform, positional, options, answer):
    pool = positional[0] if positional else options.get("pool", "rbd")
    for image in sorted(platform.data["images"].values(), key=lambda i: i["source"]):
        if image["disk_type"] == 3 and image["source"].startswith(pool + "/"):
            answer.say(image["source"].split("/", 1)[1])


HANDLERS = {"info": info, "export": export, "ls": ls, "list": ls}


def handle(platform, args, answer):
    positional, options = cli.parse_options(args, OPTIONS)
    if not positional or positional[0] not in HANDLERS:
        raise Fail("rbd: error parsing command '%s'; -h or --help for usage" % (positional[0] if positional else ""),
                   status=1)
    return HANDLERS[positional[0]](platform, positional[1:], options, answer)


if __name__ == "__main__":
    cli.run(TOOL, handle)
