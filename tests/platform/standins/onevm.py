#!/usr/bin/python3 -BSE
"""Stand-in for /usr/bin/onevm: show, list, poweroff, terminate, lock, unlock."""
import cli
import documents
import model
import plaintext
from cli import Fail
from xmldoc import render

TOOL = "/usr/bin/onevm"
SUBCOMMANDS = ["create", "show", "list", "poweroff", "terminate", "lock", "unlock", "resume", "suspend"]
OPTIONS = dict(cli.XML_OPTIONS, **{
    "--extended": ("extended", False), "--hard": ("hard", False),
    "--use": ("level", False), "--manage": ("manage", False), "--admin": ("admin", False), "--all": ("all", False),
})
STATE_NAMES = ["INIT", "PENDING", "HOLD", "ACTIVE", "STOPPED", "SUSPENDED", "DONE", "FAILED", "POWEROFF",
               "UNDEPLOYED", "CLONING", "CLONING_FAILURE"]


def show(platform, positional, options, answer):
    cli.need_params("show", positional, 1, "## USAGE\nshow <vmid>")
    vm = model.find(platform, "vm", positional[0])
    if options.get("xml"):
        answer.write(render(documents.vm_doc(platform, vm)))
        return
    answer.write(plaintext.show_text(
        "VIRTUAL MACHINE %d INFORMATION" % vm["id"],
        [("ID", vm["id"]), ("NAME", vm["name"]), ("USER", vm["uname"]), ("GROUP", "oneadmin"),
         ("STATE", STATE_NAMES[vm["state"]]), ("HOST", vm.get("host") or "")], []))


def list_(platform, positional, options, answer):
    vms = [vm for vm in model.sorted_records(platform, "vm") if vm["state"] != 6]
    if options.get("xml"):
        reduced = not options.get("extended")
        answer.write(render(documents.pool("VM_POOL", [documents.vm_doc(platform, vm, reduced) for vm in vms])))
        return
    header = "  ID USER     GROUP    NAME            STAT  CPU     MEM HOST             TIME"
    rows = ["%4s %s %s %s %s %s %s %s %s" % (
        vm["id"], plaintext.cut(vm["uname"], 8), plaintext.cut("oneadmin", 8), plaintext.cut(vm["name"], 15),
        plaintext.cut(model.VM_STATES_SHORT[vm["state"]] if vm["state"] != 3 else "runn", 4),
        plaintext.cut(vm.get("cpu", "1"), 4, left=False), plaintext.cut(vm.get("memory", "512") + "M", 7, left=False),
        plaintext.cut(vm.get("host") or "", 16), "0d 00h00") for vm in vms]
    answer.write(plaintext.table(header, rows))


def listed(platform, positional, answer, command, act, check=None):
    """`act` on every VM of the list argument, as the CLI's perform_actions does."""
    cli.need_params(command, positional, 1, "## USAGE\n%s <range|vmid_list>" % command)
    return model.each_listed(platform, "vm", positional, answer, "action", act, check)


def check_lock(vm, level):
    if vm.get("lock") and vm["lock"] <= level:
        raise Fail("[one.vm.action] The resource virtual machine is locked. [%d]." % vm["id"])


def poweroff(platform, positional, options, answer):
    def check(vm):
        check_lock(vm, 2)
        if vm["state"] != 3:
            raise Fail("[one.vm.action] This action is not available for state %s" % STATE_NAMES[vm["state"]])

    def act(vm):
        vm["prev_state"], vm["prev_lcm_state"] = vm["state"], vm["lcm_state"]
        vm["state"], vm["lcm_state"] = 8, 0
    return listed(platform, positional, answer, "poweroff", act, check)


def terminate(platform, positional, options, answer):
    def check(vm):
        check_lock(vm, 2)
        if vm["state"] in (6,):
            raise Fail("[one.vm.action] This action is not available for state %s" % STATE_NAMES[vm["state"]])

    def act(vm):
        vm["state"], vm["lcm_state"], vm["etime"] = 6, 0, platform.now()
        for disk in vm["disks"]:
            image = platform.data["images"].get(disk.get("IMAGE_ID", ""))
            if image is not None and image["state"] in (2, 8):
                image["state"] = 1
    return listed(platform, positional, answer, "terminate", act, check)


def lock(platform, positional, options, answer):
    level = 4 if options.get("all") else 3 if options.get("admin") else 2 if options.get("manage") else 1
    return listed(platform, positional, answer, "lock", lambda vm: vm.__setitem__("lock", level))


def unlock(platform, positional, options, answer):
    return listed(platform, positional, answer, "unlock", lambda vm: vm.pop("lock", None))


HANDLERS = {"show": show, "list": list_, "poweroff": poweroff, "terminate": terminate, "lock": lock,
            "unlock": unlock}


def handle(platform, args, answer):
    return cli.dispatch(platform, args, answer, "onevm", SUBCOMMANDS, HANDLERS, OPTIONS)


if __name__ == "__main__":
    cli.run(TOOL, handle)
