#ifndef KEVRA_TESTS_MODULES_SNAPSHOT_TEST_SUPPORT_H
#define KEVRA_TESTS_MODULES_SNAPSHOT_TEST_SUPPORT_H
// Stand-ins of the host tools that snapshots use (cat of /proc/datto-info,
// lsmod, dbdctl, lvcreate, lvremove, lsblk, stat -c %m, realpath, mount,
// umount). They log every call with its arguments, one "[arg]" each, to
// calls.log and answer from files in a state folder that the test prepares:
//   <tool>.status / <tool>.fail   force an exit status and its message
//   datto-info                    the text of /proc/datto-info (dbdctl keeps it up to date)
//   modules                       lsmod lines after the header
//   lsblk-bJ, lsblk-bfJ           the output of the two lsblk runs
//   mountpoints.json, realpath.json   {path: answer} for stat -c %m and realpath
//   lvcreate.make                 lvcreate makes the volume as a file at the --name path
//                                 ("link": as a link to nothing, a volume that cannot be opened)
//   dbdctl.leave-cow              a failing setup-snapshot leaves its copy-on-write file
// Anything else goes to the real tool (cat, stat, realpath); mount and umount
// only work inside the sandbox, where they mount a small tmpfs named after the
// device in the private namespace.

#include <boost/filesystem.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/modules/module_test_support.h"

namespace snapshot_test {

inline const char* standin_program()
{
    return R"PY(#!/usr/bin/python3 -BS
import json, os, sys
STATE = "@STATE@"
tool = os.path.basename(sys.argv[0])
args = sys.argv[1:]

def path(name):
    return os.path.join(STATE, name)

def read(name, default=None):
    try:
        with open(path(name)) as f:
            return f.read()
    except OSError:
        return default

def read_bytes(name):
    try:
        with open(path(name), "rb") as f:
            return f.read()
    except OSError:
        return None

def log():
    with open(path("calls.log"), "a") as f:
        f.write(tool + "".join(" [" + a + "]" for a in args) + "\n")

def fault():
    status = read(tool + ".status")
    if status:
        sys.stdout.write(read(tool + ".fail", tool + ": failed\n"))
        sys.exit(int(status))

def fail(text, status=1):
    sys.stdout.write(text + "\n")
    sys.exit(status)

def in_sandbox():
    # The sandbox's private tmpfs is mounted at KEVRA_SANDBOX_ROOT only in its own namespace.
    root = os.environ.get("KEVRA_SANDBOX_ROOT", "")
    if os.environ.get("KEVRA_SANDBOX") != "1" or not root:
        return False
    with open("/proc/self/mounts") as f:
        return any(l.split(" ")[:2] == ["kevra-sandbox", root] for l in f)

def real(program):
    os.execv(program, [program] + args)

def datto_state():
    text = read("datto-info")
    try:
        return json.loads(text) if text else {"version": "0.11.0", "devices": []}
    except ValueError:
        fail("dbdctl: unreadable state")

def save_datto(state):
    with open(path("datto-info"), "w") as f:
        json.dump(state, f)

if tool == "cat":
    if args != ["/proc/datto-info"]:
        real("/usr/bin/cat")
    log(); fault()
    text = read_bytes("datto-info")
    if text is None:
        fail("cat: /proc/datto-info: No such file or directory")
    sys.stdout.buffer.write(text)
elif tool == "lsmod":
    log(); fault()
    sys.stdout.write("Module                  Size  Used by\n" + read("modules", ""))
elif tool == "dbdctl":
    log(); fault()
    state = datto_state()
    if len(args) == 6 and args[:2] == ["setup-snapshot", "-f"]:
        cache, device, cow, minor = args[2:]
        if read("dbdctl.leave-cow") is not None:
            open(cow, "w").close()
            fail("dbdctl: error setting up snapshot: Invalid argument")
        if not os.path.isdir(os.path.dirname(cow)) or os.path.exists(cow):
            fail("dbdctl: error setting up snapshot: File exists or no such directory")
        if any(d["minor"] == int(minor) for d in state["devices"]):
            fail("dbdctl: error setting up snapshot: Device or resource busy")
        with open(cow, "w") as f:
            f.write("copy-on-write data\n")
        state["devices"].append({"minor": int(minor), "cow_file": cow, "block_device": device,
                                 "max_cache": int(cache) * 1048576, "state": 3})
        save_datto(state)
    elif len(args) == 2 and args[0] == "destroy":
        left = [d for d in state["devices"] if str(d["minor"]) != args[1]]
        if len(left) == len(state["devices"]):
            fail("dbdctl: error destroying snapshot: No such device or address")
        for d in state["devices"]:
            if str(d["minor"]) == args[1] and os.path.exists(d["cow_file"]):
                os.unlink(d["cow_file"])
        state["devices"] = left
        save_datto(state)
    else:
        fail("dbdctl: unknown command", 2)
elif tool == "lvcreate":
    log(); fault()
    name = args[args.index("--name") + 1]
    make = read("lvcreate.make")
    if make == "link":
        os.symlink("/nonexistent-volume", name)
    elif make is not None:
        with open(name, "w") as f:
            f.write("snapshot volume\n")
    print('  Logical volume "%s" created.' % os.path.basename(name))
elif tool == "lvremove":
    log(); fault()
    if not os.path.lexists(args[-1]):
        fail('  Failed to find logical volume "%s"' % args[-1], 5)
    os.unlink(args[-1])
    print('  Logical volume "%s" successfully removed.' % os.path.basename(args[-1]))
elif tool == "lsblk":
    log(); fault()
    text = read_bytes("lsblk" + args[0])
    if text is None:
        fail("lsblk: %s: not a block device" % args[-1], 32)
    sys.stdout.buffer.write(text)
elif tool == "stat":
    answers = json.loads(read("mountpoints.json", "{}"))
    if args[:3] != ["-c", "%m", "--"] or args[3] not in answers:
        real("/usr/bin/stat")
    log(); fault()
    print(answers[args[3]])
elif tool == "realpath":
    answers = json.loads(read("realpath.json", "{}"))
    if len(args) != 1 or args[0] not in answers:
        real("/usr/bin/realpath")
    log(); fault()
    print(answers[args[0]])
elif tool == "mount":
    log(); fault()
    if not in_sandbox():
        fail("mount stand-in: runs only inside the sandbox", 99)
    os.execv("/usr/bin/mount", ["mount", "-t", "tmpfs", "-o", "ro,size=64k", args[-2], args[-1]])
elif tool == "umount":
    log(); fault()
    if not in_sandbox():
        fail("umount stand-in: runs only inside the sandbox", 99)
    device = args[-1].replace(" ", "\\040")
    targets = [l.split(" ")[1] for l in open("/proc/mounts").read().splitlines() if l.split(" ")[0] == device]
    if not targets:
        fail("umount: %s: not mounted." % args[-1], 32)
    target = targets[-1].replace("\\040", " ")
    os.execv("/usr/bin/umount", ["umount", "-l", target])
else:
    fail("unknown stand-in " + tool, 99)
)PY";
}

inline const std::vector<std::string>& standin_tools()
{
    static const std::vector<std::string> tools = {"cat",   "lsmod",    "dbdctl", "lvcreate", "lvremove",
                                                   "lsblk", "stat",     "realpath", "mount",  "umount"};
    return tools;
}

inline void write_text(const std::string& file, const std::string& text)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

inline std::string read_text(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The stand-ins written into `bin_dir`, answering from `state_dir`.
class Tools {
public:
    Tools(const std::string& bin_dir, const std::string& state_dir) : bin_(bin_dir), state_(state_dir)
    {
        namespace fs = boost::filesystem;
        fs::create_directories(bin_);
        fs::create_directories(state_);
        std::string program = standin_program();
        program.replace(program.find("@STATE@"), 7, state_);
        for (const auto& tool : standin_tools()) {
            const std::string file = bin_ + "/" + tool;
            fs::remove(file);  // replaced, never written through a link
            write_text(file, program);
            fs::permissions(file, fs::perms(0755));
        }
    }

    // Writes one answer file of the state folder.
    void answer(const std::string& name, const std::string& text) const { write_text(state_ + "/" + name, text); }
    void forget(const std::string& name) const { boost::filesystem::remove(state_ + "/" + name); }
    std::string state(const std::string& name) const { return read_text(state_ + "/" + name); }

    // The calls of every stand-in (or of `tool` only), one "tool [arg]..." line each.
    std::vector<std::string> calls(const std::string& tool = "") const
    {
        std::vector<std::string> lines;
        std::istringstream log(read_text(state_ + "/calls.log"));
        for (std::string line; std::getline(log, line);) {
            if (tool.empty() || line.compare(0, tool.size() + 1, tool + " ") == 0 || line == tool) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    void clear_calls() const { boost::filesystem::remove(state_ + "/calls.log"); }

    const std::string& state_dir() const { return state_; }

private:
    std::string bin_;
    std::string state_;
};

// A scratch folder removed with the object.
class ScratchDir {
public:
    ScratchDir()
        : path_((boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("kevra-snap-%%%%-%%%%"))
                    .string())
    {
        boost::filesystem::create_directories(path_);
        path_ = boost::filesystem::canonical(path_).string();
    }
    ~ScratchDir()
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The stand-ins first on PATH for the life of the object (unit tests).
class PathTools {
public:
    PathTools() : tools_(dir_.path() + "/bin", dir_.path() + "/state")
    {
        const char* path = std::getenv("PATH");
        old_path_ = path ? path : "";
        ::setenv("PATH", (dir_.path() + "/bin:/usr/bin:/bin").c_str(), 1);
    }
    ~PathTools() { ::setenv("PATH", old_path_.c_str(), 1); }
    PathTools(const PathTools&) = delete;
    PathTools& operator=(const PathTools&) = delete;

    const Tools& tools() const { return tools_; }
    const std::string& scratch() const { return dir_.path(); }

private:
    ScratchDir dir_;
    Tools tools_;
    std::string old_path_;
};

// The framework's test module with its snapshot state readable.
class SnapshotModule : public module_test::TestModule {
public:
    // Applies a module-parameter string such as "use_snapshot:true,snapshot_type:dattobd".
    void parameters(const std::string& params)
    {
        options_.module_params = params;
        parce_param_string();
    }
    bool holds_snapshot() const { return static_cast<bool>(os_snapshot_); }
    const std::vector<OsSnapshot>& snapshots() const { return os_snapshots_; }
};

// One lsblk answer with a single device entry of `members` (JSON members text).
inline std::string lsblk_json(const std::string& members)
{
    return "{\n   \"blockdevices\": [\n      {" + members + "}\n   ]\n}\n";
}

}  // namespace snapshot_test

#endif
