#!/usr/bin/python3 -BSE
"""Stand-in for /usr/bin/onedatastore: show and list."""
import cli
import documents
import model
import plaintext
from xmldoc import render

TOOL = "/usr/bin/onedatastore"
SUBCOMMANDS = ["create", "show", "list", "delete", "enable", "disable", "update"]


def show(platform, positional, options, answer):
    cli.need_params("show", positional, 1, "## USAGE\nshow <datastoreid>")
    datastore = model.find(platform, "datastore", positional[0])
    if options.get("xml"):
        answer.write(render(documents.datastore_doc(platform, datastore)))
        return
    answer.write(plaintext.show_text(
        "DATASTORE %d INFORMATION" % datastore["id"],
        [("ID", datastore["id"]), ("NAME", datastore["name"]), ("USER", "oneadmin"), ("GROUP", "oneadmin"),
         ("CLUSTERS", "0"), ("TYPE", model.DS_TYPES[datastore["type"]]), ("DS_MAD", datastore["ds_mad"]),
         ("TM_MAD", datastore["tm_mad"]), ("BASE PATH", datastore["base_path"]),
         ("DISK_TYPE", model.DISK_TYPES.get(datastore["disk_type"], "")),
         ("STATE", "READY" if datastore.get("state", 0) == 0 else "DISABLED")],
        [("DATASTORE CAPACITY", ["TOTAL:         : %dM" % datastore["total_mb"],
                                 "FREE:          : %dM" % datastore["free_mb"],
                                 "USED:          : %dM" % datastore["used_mb"]]),
         ("DATASTORE TEMPLATE", plaintext.attrs_text(list(datastore["template"].items())))]))


def list_(platform, positional, options, answer):
    datastores = model.sorted_records(platform, "datastore")
    if options.get("xml"):
        answer.write(render(documents.pool("DATASTORE_POOL", [documents.datastore_doc(platform, d) for d in datastores])))
        return
    header = "  ID NAME         SIZE AVA CLUSTERS IMAGES TYPE DS      TM      STAT"
    rows = []
    for d in datastores:
        avail = "%d%%" % round(100.0 * d["free_mb"] / d["total_mb"]) if d["total_mb"] else "-"
        images = sum(1 for i in platform.data["images"].values() if i["datastore_id"] == d["id"])
        rows.append("%4s %s %s %s %s %s %s %s %s %s" % (
            d["id"], plaintext.cut(d["name"], 12), plaintext.cut("%dG" % (d["total_mb"] // 1024), 4, left=False),
            plaintext.cut(avail, 3, left=False), plaintext.cut("0", 8), plaintext.cut(images, 6, left=False),
            plaintext.cut(model.DS_TYPES_SHORT[d["type"]], 4), plaintext.cut(d["ds_mad"], 7), plaintext.cut(d["tm_mad"], 7),
            plaintext.cut("on" if d.get("state", 0) == 0 else "off", 4)))
    answer.write(plaintext.table(header, rows))


HANDLERS = {"show": show, "list": list_}


def handle(platform, args, answer):
    return cli.dispatch(platform, args, answer, "onedatastore", SUBCOMMANDS, HANDLERS, cli.XML_OPTIONS)


if __name__ == "__main__":
    cli.run(TOOL, handle)
