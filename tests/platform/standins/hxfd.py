#!/usr/bin/python3 -BSE
"""Stand-in for the archive engine /opt/kelvomar/bin/hxfd.

Backup packs the files of the engine file list into an archive in the store
(the media server) or, in autonomous mode, into the archive file named by -n;
the files it names (-n, -m, -g) are opened by path for writing, truncated when
they exist, created under the caller's file-creation mask otherwise;
restore unpacks an archive into the -d directory byte for byte. Prints
"HXFD PID: " first, then "Packed: ", "Transferred: " or "Unpacked: " lines.
Exit 0 on success, 1 on an error (message on standard output, which the
module reads together with standard error).
"""
import json
import os
import resource
import signal
import sys
import time

import cli
import hxfd_store
import state

TOOL = "/opt/kelvomar/bin/hxfd"
WITH_VALUE = {"-a", "-b", "-c", "-p", "-e", "-x", "-X", "-S", "-z", "-n", "-m", "-M", "-N", "-T", "-s", "-r",
              "-R", "-d", "-f", "-g", "-C", "-k", "-l", "-v", "-u", "-U", "--passin", "--sign", "--public-key",
              "--memory-threshold", "--add"}
FLAGS = {"-2", "-5", "-E", "--numeric-owner", "--set-to-numeric", "--verify"}
COMPRESSION = {"None", "fast", "optimal", "best"}
MASTER_KEY = "/opt/kelvomar/keys/master-key"
SECRET_KEY = "/opt/kelvomar/keys/secret-key.pem"


class EngineError(Exception):
    pass


class Engine:
    def __init__(self, state_dir, options):
        self.state_dir = state_dir
        self.o = options
        self.store = hxfd_store.Store(state_dir)
        self.events = os.path.join(state_dir, "calls", "hxfd.events")

    # --- output and events -----------------------------------------------------
    line_end = "\n"

    def line(self, text):
        sys.stdout.write(text + self.line_end)
        sys.stdout.flush()

    def event(self, text):
        os.makedirs(os.path.dirname(self.events), exist_ok=True)
        with open(self.events, "a") as log:
            log.write("%d %s\n" % (os.getpid(), text))

    # --- checks ------------------------------------------------------------------
    def need(self, *names):
        for name in names:
            if name not in self.o:
                raise EngineError("hxfd: option %s is required here" % name)

    def readable(self, path, what):
        if not os.path.isfile(path) or not os.access(path, os.R_OK):
            raise EngineError("hxfd: cannot read %s: %s" % (what, path))

    def writable(self, path):
        if not state.is_private(path):
            raise EngineError("hxfd stand-in: refusing to write outside the sandbox: " + path)
        parent = os.path.dirname(os.path.abspath(path))
        if not os.path.isdir(parent):
            raise EngineError("hxfd: cannot create %s: No such file or directory" % path)

    def common_checks(self):
        for key in ("-b", "-p", "--memory-threshold"):
            if key in self.o and not self.o[key].isdigit():
                raise EngineError("hxfd: %s wants a number, got '%s'" % (key, self.o[key]))
        if "-b" in self.o and int(self.o["-b"]) == 0:
            raise EngineError("hxfd: block size must be positive")
        if "-z" in self.o and self.o["-z"] not in COMPRESSION:
            raise EngineError("hxfd: unknown compression '%s'" % self.o["-z"])
        if "-x" in self.o:
            keys = self.o["-x"].split(",")
            if len(keys) < 2:
                raise EngineError("hxfd: -x wants the master key and the secret key")
            self.readable(keys[0], "master key")
            self.readable(keys[1], "secret key")
        if "-X" in self.o:
            self.readable(self.o["-X"], "restriction list")
        if "-s" in self.o:
            self.readable(self.o["-s"], "task secret")
        if "-C" in self.o:
            self.need("-k")
            self.readable(self.o["-k"], "key file")
        if "-g" in self.o and "--verify" not in self.o:
            self.need("--passin", "--sign")
            self.readable(self.o["--passin"], "pass phrase file")
            self.readable(self.o["--sign"], "signing key")

    def restricted(self):
        """Paths that must not be archived: the -x entries after the two key
        files, and the lines of the -X restriction list."""
        entries = self.o.get("-x", "").split(",")[2:]
        if "-X" in self.o:
            with open(self.o["-X"]) as f:
                entries += f.read().splitlines()
        return [os.path.realpath(e.strip()) for e in entries if e.strip()]

    def key_digest(self):
        if "-C" not in self.o:
            return None
        return self.o["-C"] + ":" + hxfd_store.file_digest(self.o["-k"])

    # --- the engine file list ----------------------------------------------------
    def file_list(self, path):
        """(local path, archive name) pairs of an engine file list, or of one
        file or directory given directly to -c."""
        if not os.path.isfile(path):
            if os.path.isdir(path):
                return self.walk(path)
            raise EngineError("hxfd: cannot open file list %s" % path)
        with open(path, "rb") as f:
            lines = f.read().decode("utf-8", "surrogateescape").split("\n")
        if not lines or lines[0] != "HXFD file list:":
            return [(path, os.path.basename(path))]
        pairs = []
        for number, text in enumerate(lines[1:], 2):
            if text == "":
                continue
            if not text.startswith("   ") or " : " not in text:
                raise EngineError("hxfd: bad line %d in file list %s: %s" % (number, path, text))
            pairs.append(self.split_entry(text[3:], number, path))
        return pairs

    def split_entry(self, text, number, path):
        # Either side may hold " : "; the split that names an existing file wins.
        cuts = [i for i in range(len(text)) if text.startswith(" : ", i)]
        for cut in cuts:
            local = text[:cut]
            if os.path.lexists(local if os.path.isabs(local) else os.path.join(os.getcwd(), local)):
                return local, text[cut + 3:]
        return text[:cuts[0]], text[cuts[0] + 3:]

    def walk(self, top):
        pairs = []
        base = os.path.basename(os.path.normpath(top))
        for folder, _, files in sorted(os.walk(top)):
            for name in sorted(files):
                local = os.path.join(folder, name)
                pairs.append((local, os.path.join(base, os.path.relpath(local, top))))
        return pairs

    # --- modes ---------------------------------------------------------------------
    def backup(self):
        self.need("-c", "-m")
        autonomous = "-n" in self.o
        if not autonomous:
            self.need("-M", "-N", "-T", "-s")
        self.common_checks()
        if "-S" in self.o:
            self.readable(self.o["-S"], "reference meta file")
        pairs = self.file_list(self.o["-c"])
        restricted = self.restricted()
        seen = set()
        for local, name in pairs:
            real = os.path.realpath(local)
            for prefix in restricted:
                if real == prefix or real.startswith(prefix.rstrip("/") + "/"):
                    raise EngineError("hxfd: %s is a restricted resource (%s)" % (local, prefix))
            if not hxfd_store.safe_entry_name(name):
                raise EngineError("hxfd: bad archive name '%s' for %s" % (name, local))
            if name in seen:
                raise EngineError("hxfd: archive name '%s' given twice" % name)
            seen.add(name)
            if not os.path.exists(local):
                raise EngineError("hxfd: cannot open %s: No such file or directory" % local)
        self.record_modes([self.o["-c"]] + [local for local, _ in pairs])
        name = os.path.basename(self.o["-n"]) if autonomous else self.o["-N"]
        if name.endswith(".hxfd"):
            name = name[: -len(".hxfd")]
        self.writable(self.o["-m"])
        if autonomous:
            self.writable(self.o["-n"])
        if "-g" in self.o:
            self.writable(self.o["-g"])
        total = 0
        for i, (local, entry) in enumerate(pairs, 1):
            total += hxfd_store.entry_size(local)
            self.line("Packed: %d/%d files, %d bytes" % (i, len(pairs), total))
        members = [(entry, local) for local, entry in pairs]
        index = hxfd_store.new_index(name, self.o.get("-M", ""), self.o.get("-T", ""), members, self.key_digest(),
                                     self.o.get("-a", "sha2"), self.o.get("-z", "None"), self.o.get("-S", ""))
        staging = self.store.path_of(name) + ".new"
        os.makedirs(self.store.dir, exist_ok=True)
        hxfd_store.write_archive(staging, index, members)
        if autonomous:
            # As the engine does: the named file is opened for writing by its
            # path (truncated when it exists, else created under the mask).
            hxfd_store.write_archive(self.o["-n"], index, members, in_place=True)
        stored = self.store.put(name, staging)
        os.remove(staging)
        signed = self.o["-n"] if autonomous else stored
        self.write_meta(index, stored)
        if "-g" in self.o:
            with open(self.o["-g"], "w") as sig:
                sig.write(hxfd_store.file_digest(signed) + "\n")
        if not autonomous:
            self.line("Transferred: %d bytes to %s" % (os.path.getsize(stored), self.o["-M"]))
        return 0

    def record_modes(self, paths):
        """Notes the mode and owner of each file the backup was given, as the
        engine found them: "<path> <mode, 4 octal digits> <uid>:<gid>" lines in calls/hxfd.modes."""
        with open(os.path.join(self.state_dir, "calls", "hxfd.modes"), "a") as modes:
            for path in paths:
                info = os.stat(path)
                modes.write("%s %04o %d:%d\n" % (path, info.st_mode & 0o7777, info.st_uid, info.st_gid))

    def write_meta(self, index, stored):
        hxfd_store.write_meta(self.o["-m"], index, stored)

    def read_meta(self, path):
        self.readable(path, "meta file")
        try:
            with open(path) as f:
                meta = json.load(f)
            return meta["archive"], meta
        except (ValueError, KeyError):
            raise EngineError("hxfd: %s is not a meta file" % path)

    def archive_for_restore(self):
        if "-r" in self.o:
            ref = self.o["-r"]
            if os.path.isfile(ref):
                return hxfd_store.Archive(ref)
            name = os.path.basename(ref)
            archive = self.store.open(name[: -len(".hxfd")] if name.endswith(".hxfd") else name)
            if archive is None:
                raise EngineError("hxfd: archive %s not found" % ref)
            return archive
        self.need("-M", "-T", "-s", "-m")
        name, meta = self.read_meta(self.o["-m"])
        archive = self.store.open(name)
        if archive is None or archive.index["server"] != self.o["-M"]:
            raise EngineError("hxfd: archive %s of record %s not found on media server %s"
                              % (name, self.o["-R"], self.o["-M"]))
        return archive

    def restore(self):
        self.need("-d")
        self.common_checks()
        archive = self.archive_for_restore()
        if archive.index.get("crypto") and archive.index["crypto"] != self.key_digest():
            raise EngineError("hxfd: the archive is encrypted; give its algorithm and key with -C and -k")
        target = self.o["-d"]
        if not os.path.isdir(target):
            raise EngineError("hxfd: restore directory %s does not exist" % target)
        self.writable(os.path.join(target, "x"))
        wanted = None
        if "-f" in self.o:
            self.readable(self.o["-f"], "granular list")
            with open(self.o["-f"]) as f:
                wanted = {line.strip() for line in f if line.strip()}
        entries = [e for e in archive.entries() if wanted is None or e["name"] in wanted]
        total = 0
        for i, entry in enumerate(entries, 1):
            if not hxfd_store.safe_entry_name(entry["name"]):
                raise EngineError("hxfd: refusing to unpack '%s'" % entry["name"])
            archive.extract(entry["name"], os.path.join(target, entry["name"]))
            total += entry["size"]
            self.line("Unpacked: %d/%d files, %d bytes" % (i, len(entries), total))
        return 0

    def listing(self):
        _, meta = self.read_meta(self.o["-l"])
        for entry in meta["entries"]:
            self.line("%s\t%d" % (entry["name"], entry["size"]))
        return 0

    def verify(self):
        self.need("-n", "-g", "--public-key")
        self.readable(self.o["-n"], "file")
        self.readable(self.o["-g"], "signature file")
        self.readable(self.o["--public-key"], "public key")
        digest = hxfd_store.file_digest(self.o["-n"])
        with open(self.o["-g"], "rb") as f:
            signature = f.read()
        if signature.strip() == digest.encode() or signature == bytes.fromhex(digest):
            self.line("Signature verified")
            return 0
        self.line("Signature verification failed")
        return 1

    def add(self):
        if "-u" in self.o:
            path = self.o["-u"]
            self.readable(path, "archive")
            archive = hxfd_store.Archive(path)
        else:
            self.need("-U", "-M", "-T", "-s", "-m")
            archive = self.store.open(self.o["-U"])
            if archive is None:
                raise EngineError("hxfd: archive %s not found on media server %s" % (self.o["-U"], self.o["-M"]))
            path = archive.path
        self.common_checks()
        pairs = self.file_list(self.o["--add"])
        for local, _ in pairs:
            if not os.path.exists(local):
                raise EngineError("hxfd: cannot open %s: No such file or directory" % local)
        index = archive.index
        kept = [(e["name"], None) for e in index["entries"] if e["name"] not in {n for _, n in pairs}]
        work = path + ".unpacked"
        os.makedirs(work, exist_ok=True)
        files = []
        for name, _ in kept:
            local = os.path.join(work, "%d" % len(files))
            archive.extract(name, local)
            files.append((name, local))
        index["entries"] = [e for e in index["entries"] if e["name"] in {n for n, _ in kept}]
        for i, (local, name) in enumerate(pairs, 1):
            index["entries"].append({"name": name, "source": local, "size": os.path.getsize(local),
                                     "sha256": hxfd_store.file_digest(local)})
            files.append((name, local))
            self.line("Packed: %d/%d files" % (i, len(pairs)))
        hxfd_store.write_archive(path, index, files)
        for _, local in files[: len(kept)]:
            os.remove(local)
        os.rmdir(work)
        if "-m" in self.o:
            self.write_meta(index, path)
        return 0


def parse(args):
    options = {}
    i = 0
    while i < len(args):
        word = args[i]
        if word in FLAGS:
            options[word] = True
        elif word in WITH_VALUE:
            if i + 1 >= len(args):
                raise EngineError("hxfd: option %s needs a value" % word)
            i += 1
            options[word] = args[i]
        else:
            raise EngineError("hxfd: unknown argument '%s'" % word)
        i += 1
    return options


def mode_of(options):
    if "--verify" in options:
        return "verify"
    if "-l" in options:
        return "list"
    if "--add" in options:
        return "add"
    if "-r" in options or "-R" in options or "-d" in options:
        return "restore"
    if "-c" in options:
        return "backup"
    return ""


def install_signal_handlers(engine):
    """Stop on SIGTSTP, go on after SIGCONT, end on SIGTERM, logging each.

    Python runs its handlers in signal-number order, not in the order the
    signals came: a SIGTSTP followed at once by a SIGCONT would be handled
    continue first and leave the engine stopped for good. The C-level handler
    writes each signal's number to the wakeup pipe as it arrives, so every
    handler replays the signals from there, in their real order.
    """
    reader, writer = os.pipe()
    os.set_blocking(reader, False)
    os.set_blocking(writer, False)

    def arrived():
        numbers = b""
        while True:
            try:
                chunk = os.read(reader, 64)
            except BlockingIOError:
                return numbers
            if not chunk:
                return numbers
            numbers += chunk

    def on_signal(signum, frame):
        stop = False
        for number in arrived():
            if number == signal.SIGTSTP:
                engine.event("SIGTSTP")
                stop = True
            elif number == signal.SIGCONT:
                engine.event("SIGCONT")
                stop = False
            elif number == signal.SIGTERM:
                engine.event("SIGTERM")
                signal.signal(signal.SIGTERM, signal.SIG_DFL)
                os.kill(os.getpid(), signal.SIGTERM)
        if stop:
            # Stopped until a SIGCONT, whose handler then logs it.
            os.kill(os.getpid(), signal.SIGSTOP)

    signal.set_wakeup_fd(writer, warn_on_full_buffer=False)
    signal.signal(signal.SIGTSTP, on_signal)
    signal.signal(signal.SIGCONT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)


def take_fault(state_dir, mode, args):
    with state.Platform() as platform:
        return cli.take_fault(platform, "hxfd", mode, args)


def main():
    state_dir = state.refuse_outside_sandbox()
    args = sys.argv[1:]
    cli.log_call(state_dir, TOOL, args)
    try:
        options = parse(args)
    except EngineError as error:
        options = None
        parse_error = str(error)
    engine = Engine(state_dir, options or {})
    install_signal_handlers(engine)
    mode = mode_of(options) if options is not None else ""
    fault = take_fault(state_dir, mode, args) or {}
    if fault.get("line_end"):
        engine.line_end = {"cr": "\r", "crlf": "\r\n", "lf": "\n"}[fault["line_end"]]
    engine.event("started %s" % (mode or "-"))
    engine.line("HXFD PID: %s" % fault.get("bad_pid", os.getpid()))
    cli.leave_orphan(state_dir, fault, "hxfd", mode)
    if "delay" in fault:
        deadline = time.time() + fault["delay"]
        while time.time() < deadline:
            time.sleep(0.05)
    if "signal" in fault:
        name = fault["signal"].upper()
        number = getattr(signal, name if name.startswith("SIG") else "SIG" + name)
        if number not in (signal.SIGKILL, signal.SIGSTOP):
            signal.signal(number, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))  # no core file from an injected crash
        os.kill(os.getpid(), number)
    if "exit" in fault and fault["exit"] != 100:
        if fault.get("stdout"):
            engine.line(fault["stdout"])
        engine.line(fault.get("stderr", "hxfd: failed (injected fault)"))
        engine.event("finished %d" % fault["exit"])
        return fault["exit"]
    if options is None:
        engine.line(parse_error)
        return 1
    runners = {"backup": engine.backup, "restore": engine.restore, "list": engine.listing,
               "verify": engine.verify, "add": engine.add}
    if mode not in runners:
        engine.line("hxfd: nothing to do: give -c, -r, -R, -l, --verify or --add")
        return 1
    cli.act_as_user(state_dir, fault, False, "hxfd", mode)
    try:
        status = runners[mode]()
    except (EngineError, OSError) as error:
        engine.line(str(error))
        status = 1
    cli.act_as_user(state_dir, fault, True, "hxfd", mode)
    if status == 0 and fault.get("exit") == 100:
        engine.line("hxfd: some data may be incomplete (injected fault)")
        status = 100
    if fault.get("trailing"):
        sys.stdout.write(fault["trailing"])  # no line end: the reader must drop it
        sys.stdout.flush()
    engine.event("finished %d" % status)
    return status


if __name__ == "__main__":
    sys.exit(main())
