"""The stand-ins' shared state: one JSON file in the sandbox's state folder.

Every stand-in call takes an exclusive lock on the state for its whole run,
reads it, acts, and writes it back, so concurrent calls see each other's
changes in some order, as they would on the real platform.
"""
import fcntl
import json
import os
import sys

# Written by install-standins inside the sandbox's /etc overlay: lets a tool
# find the state even when the caller cleared the environment.
STATE_POINTER = "/etc/kevra-standins/state-dir"

ONEADMIN_UID = 9869
DEFAULT_LOCK_QUERIES = 1


class NotInSandbox(Exception):
    pass


def state_dir():
    """The state folder; raises NotInSandbox outside the sandbox."""
    path = os.environ.get("KEVRA_PLATFORM_STATE", "")
    if not path and os.path.isfile(STATE_POINTER):
        with open(STATE_POINTER) as pointer:
            path = pointer.read().strip()
    inside = os.environ.get("KEVRA_SANDBOX") == "1" or os.path.isfile(STATE_POINTER)
    if not inside or not path or not os.path.isdir(path):
        raise NotInSandbox("the platform stand-ins run only inside tests/platform/sandbox")
    return path


def refuse_outside_sandbox():
    try:
        return state_dir()
    except NotInSandbox as error:
        sys.stderr.write(str(error) + "\n")
        sys.exit(255)


def empty_state():
    return {
        "next_id": {"datastore": 0, "image": 0, "template": 0, "vm": 0, "host": 0},
        "datastores": {},
        "images": {},
        "templates": {},
        "vms": {},
        "hosts": {},
        "users": {"oneadmin": 0},
        "config": {"lock_queries": DEFAULT_LOCK_QUERIES},
        "faults": [],
        "fates": [],
        "clock": 1765360800,
    }


class Platform:
    """Context manager: the locked, loaded state; written back on a clean exit."""

    def __init__(self):
        self.dir = state_dir()
        self.path = os.path.join(self.dir, "platform.json")
        self.data = None
        self._lock = None
        self._loaded_text = None

    def __enter__(self):
        self._lock = open(os.path.join(self.dir, "platform.lock"), "a")
        fcntl.flock(self._lock, fcntl.LOCK_EX)
        if os.path.exists(self.path):
            with open(self.path) as f:
                self._loaded_text = f.read()
            self.data = json.loads(self._loaded_text)
        else:
            self.data = empty_state()
        return self

    def save(self):
        text = json.dumps(self.data, indent=1, sort_keys=True)
        if text != self._loaded_text:
            tmp = self.path + ".tmp"
            with open(tmp, "w") as f:
                f.write(text)
            os.replace(tmp, self.path)
            self._loaded_text = text

    def __exit__(self, kind, value, trace):
        # SystemExit carries the tool's answer: the state it changed stands.
        if kind is None or issubclass(kind, SystemExit):
            self.save()
        fcntl.flock(self._lock, fcntl.LOCK_UN)
        self._lock.close()
        return False

    # --- ids, time and owners -------------------------------------------------
    def new_id(self, kind, wanted=None):
        table = self.table(kind)
        if wanted is not None:
            wanted = int(wanted)
            if str(wanted) in table:
                raise ValueError("%s %d already exists" % (kind, wanted))
            self.data["next_id"][kind] = max(self.data["next_id"][kind], wanted + 1)
            return wanted
        ident = self.data["next_id"][kind]
        while str(ident) in table:
            ident += 1
        self.data["next_id"][kind] = ident + 1
        return ident

    def now(self):
        """A platform clock that moves one second per change."""
        self.data["clock"] += 1
        return self.data["clock"]

    def uid(self, user):
        users = self.data["users"]
        if user not in users:
            users[user] = max(users.values()) + 1
        return users[user]

    def table(self, kind):
        return self.data[kind + "s"]

    def path_in_state(self, *parts):
        path = os.path.join(self.dir, *parts)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        return path


def sandbox_root():
    root = os.environ.get("KEVRA_SANDBOX_ROOT", "")
    return root or os.path.dirname(state_dir())


# Places the namespace makes private: the scratch root and the overlays/tmpfs.
PRIVATE_PREFIXES = ("/var/tmp/", "/opt/", "/etc/", "/usr/bin/", "/usr/sbin/")


def is_private(path):
    """True when writing `path` cannot reach the host (see tests/platform/sandbox)."""
    real = os.path.realpath(path)
    root = os.path.realpath(sandbox_root()) + "/"
    return real.startswith(root) or real.startswith(PRIVATE_PREFIXES)
