#!/usr/bin/python3 -BSE
"""Stand-in for LVM's lvs: one logical volume per BLOCK image of the platform
(its data file stands for the volume)."""
import os

import cli

TOOL = "/usr/sbin/lvs"
OPTIONS = {"-v": ("verbose", False), "--verbose": ("verbose", False), "--noheadings": ("noheadings", False)}


def size_text(byte_count):
    if byte_count >= 1 << 30:
        return "%.2fg" % (byte_count / float(1 << 30))
    return "%.2fm" % (byte_count / float(1 << 20))


def handle(platform, args, answer):
    positional, options = cli.parse_options(args, OPTIONS)
    volumes = []
    for key in sorted(platform.data["images"], key=int):
        image = platform.data["images"][key]
        if image["disk_type"] == 2 and image.get("lv_uuid") and os.path.exists(image["data"]):
            vg = os.path.basename(os.path.dirname(image["data"]))
            volumes.append((os.path.basename(image["data"]), vg, size_text(os.path.getsize(image["data"])),
                            image["lv_uuid"]))
    if options.get("verbose"):
        if not options.get("noheadings"):
            answer.say("  LV%s VG%s #Seg Attr       LSize   Maj Min KMaj KMin Pool Origin Data%%  Meta%%  Move "
                       "Cpy%%Sync Log Convert LV UUID                                LProfile" % (" " * 10, " " * 8))
        for minor, (lv, vg, size, uuid) in enumerate(volumes):
            answer.say("  %-12s %-10s    1 -wi-a----- %7s  -1  -1  253 %4d%s%s" % (
                lv, vg, size, minor, " " * 53, uuid))
    else:
        if not options.get("noheadings"):
            answer.say("  LV%s VG%s Attr       LSize   Pool Origin Data%%  Meta%%  Move Log Cpy%%Sync Convert"
                       % (" " * 10, " " * 8))
        for lv, vg, size, uuid in volumes:
            answer.say("  %-12s %-10s -wi-a----- %7s" % (lv, vg, size))


if __name__ == "__main__":
    cli.run(TOOL, handle)
