"""What every stand-in shares: the call log, fault injection, the command-line
option rules of the platform's CLI, and how answers reach the streams."""
import copy
import fnmatch
import os
import pwd
import subprocess
import re
import signal
import sys
import time
import traceback

import state

_PLAIN = re.compile(r"^[A-Za-z0-9_@%+=:,./-]+$")


def shell_word(word):
    """One argument as it is written in the call log."""
    if _PLAIN.match(word):
        return word
    return "'" + word.replace("'", "'\\''") + "'"


def log_call(state_dir, tool_path, args):
    line = " ".join([tool_path] + [shell_word(a) for a in args]) + "\n"
    calls = os.path.join(state_dir, "calls")
    os.makedirs(calls, exist_ok=True)
    for name in (os.path.basename(tool_path) + ".log", "all.log"):
        with open(os.path.join(calls, name), "a") as log:
            log.write(line)


class Fail(Exception):
    """A refused call: the message goes to standard error, the status is the exit code."""

    def __init__(self, message, status=255):
        super().__init__(message)
        self.message = message
        self.status = status


class Answer:
    """What a call prints, gathered so that a fault can change it."""

    def __init__(self):
        self.out = []
        self.err = []

    def say(self, text=""):
        self.out.append(text if text.endswith("\n") else text + "\n")

    def write(self, text):
        self.out.append(text)

    def warn(self, text):
        self.err.append(text if text.endswith("\n") else text + "\n")


def take_fault(platform, tool, subcommand, args):
    """The first fault that matches this call, its counters advanced; or None."""
    for fault in platform.data["faults"]:
        if fault["tool"] != tool:
            continue
        if fault.get("subcommand", "*") not in ("*", subcommand):
            continue
        if any(word not in args for word in fault.get("with_args", [])):
            continue
        fault["seen"] = fault.get("seen", 0) + 1
        if fault["seen"] <= fault.get("skip_first", 0):
            continue
        times = fault.get("times")
        used = fault.get("used", 0)
        if times is not None and used >= times:
            continue
        fault["used"] = used + 1
        return fault
    return None


def act_as_user(state_dir, fault, after, tool, subcommand):
    """Runs the fault's `--run` command as its `--as-user` user (another local
    user acting at this call), before the call's own work or, with `--after`,
    after it; appends `TOOL SUBCOMMAND before|after exit N` and the command's
    output to calls/as-user.log, so that a test sees what the user achieved."""
    if not fault or "as_user" not in fault or bool(fault.get("after")) != after:
        return
    user = pwd.getpwnam(fault["as_user"])

    def drop_privileges():
        os.setgroups([])
        os.setgid(user.pw_gid)
        os.setuid(user.pw_uid)

    env = {"PATH": "/usr/bin:/bin:/usr/sbin:/sbin", "HOME": "/", "USER": user.pw_name, "LC_ALL": "C"}
    result = subprocess.run(["/bin/sh", "-c", fault["run"]], cwd="/", env=env, preexec_fn=drop_privileges,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    calls = os.path.join(state_dir, "calls")
    os.makedirs(calls, exist_ok=True)
    with open(os.path.join(calls, "as-user.log"), "a") as log:
        log.write("%s %s %s exit %d\n" % (tool, subcommand or "-", "after" if after else "before",
                                           result.returncode))
        log.write(result.stdout.decode("utf-8", "replace"))


def leave_orphan(state_dir, fault, tool, subcommand):
    """The fault `orphan`: the call leaves a process behind that outlives it,
    as a tool that starts a helper in the background does: a double fork (the
    middle process starts a session of its own and ends at once, so the
    helper's parent is gone), standard streams on /dev/null, no other open
    file. The helper is `sleep SECONDS` (ignoring SIGTERM with
    `orphan_ignores_term`). Its line `<pid> TOOL SUBCOMMAND` is in
    calls/orphans before the call goes on."""
    if not fault or "orphan" not in fault:
        return
    calls = os.path.join(state_dir, "calls")
    os.makedirs(calls, exist_ok=True)
    middle = os.fork()
    if middle == 0:
        try:
            os.setsid()
            helper = os.fork()
            if helper == 0:
                null = os.open(os.devnull, os.O_RDWR)
                for fd in (0, 1, 2):
                    os.dup2(null, fd)
                os.closerange(3, 65536)
                signal.signal(signal.SIGTERM, signal.SIG_IGN if fault.get("orphan_ignores_term") else signal.SIG_DFL)
                for number in (signal.SIGPIPE, signal.SIGTSTP, signal.SIGCONT, signal.SIGINT):
                    signal.signal(number, signal.SIG_DFL)
                signal.pthread_sigmask(signal.SIG_SETMASK, [])
                os.execv("/bin/sleep", ["sleep", "%g" % fault["orphan"]])
            with open(os.path.join(calls, "orphans"), "a") as log:
                log.write("%d %s %s\n" % (helper, tool, subcommand or "-"))
        finally:
            os._exit(0)
    os.waitpid(middle, 0)


def image_fate(platform, name):
    """The fate that the fixture gave to images of this name, or None."""
    for fate in platform.data["fates"]:
        if fnmatch.fnmatchcase(name, fate["glob"]):
            return fate
    return None


def say_fault_stdout(answer, fault):
    """The standard output a fault gives: its text, or the content of its file
    (read at the call, for answers too long for a command line)."""
    if fault.get("stdout"):
        answer.say(fault["stdout"])
    if fault.get("stdout_file"):
        with open(fault["stdout_file"]) as text:
            answer.say(text.read())


def emit(answer, status):
    # Standard error first: a warning, like an error line, comes before the
    # answer (which matters when the caller merges both streams).
    sys.stderr.write("".join(answer.err))
    sys.stderr.flush()
    sys.stdout.write("".join(answer.out))
    sys.stdout.flush()
    sys.exit(status)


def act_meanwhile(meanwhile, args, fault):
    """The fault `meanwhile_owner`: while this call hangs, another platform
    user makes an object of the name the call was given, as that user's own
    call of the same kind would (`meanwhile(platform, args, owner)`), in a
    state session of its own. What the platform refuses that user changes
    nothing."""
    owner = fault.get("meanwhile_owner") if fault else None
    if not owner or meanwhile is None:
        return
    with state.Platform() as platform:
        before = copy.deepcopy(platform.data)
        try:
            meanwhile(platform, args, owner)
        except Fail:
            platform.data = before


def hang_before_work(platform, args, fault, meanwhile):
    """The fault `hang_before`: the call waits before it does anything, the
    state unlocked (another user may act then), and then goes on with the
    state as it is by then."""
    platform.__exit__(None, None, None)
    act_meanwhile(meanwhile, args, fault)
    time.sleep(fault["hang_before"])
    platform.__enter__()


def run(tool_path, handler, before_call=None, meanwhile=None):
    """Runs one call of a platform tool: log, faults, handler, answer.
    `before_call(platform, args, fault)` lets a tool apply a fault that changes
    the platform before the call itself runs (what another process did);
    `meanwhile(platform, args, owner)` makes another user's object of the
    call's name while the call hangs (see act_meanwhile)."""
    state_dir = state.refuse_outside_sandbox()
    args = sys.argv[1:]
    log_call(state_dir, tool_path, args)
    tool = os.path.basename(tool_path)
    answer = Answer()
    status = 0
    with state.Platform() as platform:
        fault = take_fault(platform, tool, args[0] if args else "", args)
        platform.save()
        leave_orphan(state_dir, fault, tool, args[0] if args else "")
        if fault and "exit" in fault:
            say_fault_stdout(answer, fault)
            if fault.get("stderr"):
                answer.warn(fault["stderr"])
            emit(answer, fault["exit"])
        if fault and fault.get("no_effect"):
            say_fault_stdout(answer, fault)
            emit(answer, 0)
        if fault and "warning" in fault:
            answer.warn(fault["warning"])
        if fault and before_call is not None:
            before_call(platform, args, fault)
        act_as_user(state_dir, fault, False, tool, args[0] if args else "")
        if fault and "hang_before" in fault:
            hang_before_work(platform, args, fault, meanwhile)
        before = copy.deepcopy(platform.data)
        try:
            status = handler(platform, args, answer) or 0
        except Fail as failure:
            platform.data = before
            answer.warn(failure.message)
            status = failure.status
        except Exception:  # a fault of the stand-in itself: show it, change nothing
            platform.data = before
            answer.warn("stand-in failure:\n" + traceback.format_exc())
            status = 255
    act_as_user(state_dir, fault, True, tool, args[0] if args else "")
    if fault and fault.get("malformed"):
        text = "".join(answer.out)
        answer.out = [text[: len(text) // 2]]
    if fault and "hang" in fault:
        # The work is done and saved, the state unlocked; the answer (the
        # new object's ID) is held back, as by a command that hangs.
        act_meanwhile(meanwhile, args, fault)
        time.sleep(fault["hang"])
    emit(answer, status)


# --- the platform CLI's option rules ------------------------------------------

def parse_options(args, accepted):
    """Splits `args` into positional arguments and options, as the CLI does.

    `accepted` maps every accepted spelling ("-d", "--datastore") to a pair
    (key, takes_value). An option that is not in `accepted` is refused with
    "invalid option: ..."; a value that is missing, or that looks like an
    option itself, with "missing argument: ...".
    """
    positional = []
    options = {}
    i = 0
    while i < len(args):
        word = args[i]
        if word == "--":
            positional.extend(args[i + 1:])
            break
        if word.startswith("-") and word != "-":
            name, value = word, None
            if word.startswith("--") and "=" in word:
                name, value = word.split("=", 1)
            if name not in accepted:
                raise Fail("invalid option: " + name)
            key, takes_value = accepted[name]
            if takes_value:
                if value is None:
                    if i + 1 >= len(args) or args[i + 1].startswith("-"):
                        raise Fail("missing argument: " + name)
                    i += 1
                    value = args[i]
                options[key] = value
            else:
                options[key] = True
        else:
            positional.append(word)
        i += 1
    return positional, options


def need_params(command, positional, count, usage):
    if len(positional) < count:
        sys.stdout.write(usage + "\n")
        raise Fail("Command %s requires %d parameter%s to run." % (command, count, "" if count == 1 else "s"))


def general_help(tool, subcommands):
    """What the CLI prints for an unknown subcommand (and exits 0)."""
    lines = ["## SYNOPSIS", "", "%s COMMAND [args..] [options..]" % tool, "", "## COMMANDS", ""]
    lines += ["* " + name for name in subcommands]
    return "\n".join(lines) + "\n"


def dispatch(platform, args, answer, tool, subcommands, handlers, accepted):
    """Runs the subcommand args[0] of `tool` as the platform CLI does.

    No subcommand, or one without an entry in `handlers`, prints the general
    help and exits 0. Otherwise the rest of `args` is split by parse_options
    with `accepted` (a dict, or a function of the subcommand giving one), and
    the handler's status is returned.
    """
    if not args or args[0] not in handlers:
        answer.write(general_help(tool, subcommands))
        return 0
    if callable(accepted):
        accepted = accepted(args[0])
    positional, options = parse_options(args[1:], accepted)
    return handlers[args[0]](platform, positional, options, answer)


XML_OPTIONS = {"-x": ("xml", False), "--xml": ("xml", False)}
