#!/usr/bin/python3 -BSE
"""Stand-in for /usr/bin/onehost: list (and show)."""
import cli
import documents
import model
import plaintext
from xmldoc import render

TOOL = "/usr/bin/onehost"
SUBCOMMANDS = ["create", "show", "list", "delete", "enable", "disable", "offline", "sync"]


def show(platform, positional, options, answer):
    cli.need_params("show", positional, 1, "## USAGE\nshow <hostid>")
    host = model.find(platform, "host", positional[0])
    if options.get("xml"):
        answer.write(render(documents.host_doc(platform, host)))
        return
    answer.write(plaintext.show_text("HOST %d INFORMATION" % host["id"],
                                 [("ID", host["id"]), ("NAME", host["name"]), ("CLUSTER", "default"),
                                  ("STATE", "MONITORED")], []))


def list_(platform, positional, options, answer):
    hosts = model.sorted_records(platform, "host")
    if options.get("xml"):
        answer.write(render(documents.pool("HOST_POOL", [documents.host_doc(platform, h) for h in hosts])))
        return
    header = "  ID NAME            CLUSTER    TVM      ALLOCATED_CPU      ALLOCATED_MEM STAT"
    rows = []
    for h in hosts:
        vms = sum(1 for vm in platform.data["vms"].values() if vm.get("host") == h["name"])
        rows.append("%4s %s %s %s %s %s %s" % (
            h["id"], plaintext.cut(h["name"], 15), plaintext.cut("default", 10), plaintext.cut(vms, 3, left=False),
            plaintext.cut("0 / 800 (0%)", 18, left=False), plaintext.cut("0K / 15.5G (0%)", 18, left=False), "on"))
    answer.write(plaintext.table(header, rows))


HANDLERS = {"show": show, "list": list_}


def handle(platform, args, answer):
    return cli.dispatch(platform, args, answer, "onehost", SUBCOMMANDS, HANDLERS, cli.XML_OPTIONS)


if __name__ == "__main__":
    cli.run(TOOL, handle)
