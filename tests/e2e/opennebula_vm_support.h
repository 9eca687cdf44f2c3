#pragma once
// Sandbox runs of the VM side of the access layer. The platform's onevm,
// onehost and onedatastore are the project's stand-ins; ssh, virsh and
// qemu-img are not among them, so this fixture writes small stand-ins of its
// own into /usr/bin (the sandbox's overlay). They answer from files the test
// prepares below $KEVRA_SANDBOX_ROOT/vm-tools and log every call there:
//   ssh HOST WORDS...   runs WORDS joined by blanks with /bin/sh -c, as the
//                       shell ssh starts on the other host would (that host is this machine);
//   virsh [-q] [-c URI] [-q] domblklist DOMAIN
//                       lists vm-tools/domains/DOMAIN ("TARGET SOURCE" lines), headed unless -q;
//   qemu-img info [--force-share] PATH --output=json
//                       describes PATH from vm-tools/qemu-img.table ("PATH<TAB>SIZE<TAB>BACKING"
//                       lines), else as a raw file of its own size; a missing PATH fails.

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/filesystem.hpp>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/hx_utils_common.h"
#include "tests/opennebula/sandbox_fixture.h"

namespace vm_e2e {

inline const char* tool_preamble()
{
    return R"PY(#!/usr/bin/python3 -BSE
import json, os, re, sys
ROOT = os.path.join(os.environ["KEVRA_SANDBOX_ROOT"], "vm-tools")
def word(w):
    return w if re.match(r"^[A-Za-z0-9_@%+=:,./-]+$", w) else "'" + w.replace("'", "'\\''") + "'"
def log(name, prefix=""):
    os.makedirs(ROOT, exist_ok=True)
    with open(os.path.join(ROOT, name + ".log"), "a") as f:
        f.write(prefix + " ".join([sys.argv[0]] + [word(a) for a in sys.argv[1:]]) + "\n")
)PY";
}

inline const char* ssh_body()
{
    return R"PY(log("ssh")
args = sys.argv[1:]
if len(args) < 2:
    sys.stderr.write("usage: ssh destination command\n"); sys.exit(255)
os.execv("/bin/sh", ["/bin/sh", "-c", " ".join(args[1:])])
)PY";
}

inline const char* virsh_body()
{
    return R"PY(log("virsh", "LANG=" + os.environ.get("LANG", "") + " ")
args = sys.argv[1:]
quiet = False
while args and args[0] in ("-q", "-c"):
    if args[0] == "-c":
        args = args[2:]
    else:
        quiet, args = True, args[1:]
if len(args) != 2 or args[0] != "domblklist":
    sys.stderr.write("error: unknown command or arguments\n"); sys.exit(1)
path = os.path.join(ROOT, "domains", args[1])
if not os.path.exists(path):
    sys.stderr.write("error: failed to get domain '%s'\n" % args[1]); sys.exit(1)
if not quiet:
    print(" Target   Source")
    print("-" * 48)
for line in open(path).read().splitlines():
    target, source = line.split(" ", 1)
    print(" %-8s %s" % (target, source))
)PY";
}

inline const char* qemu_img_body()
{
    return R"PY(log("qemu-img")
args = [a for a in sys.argv[1:] if a != "--force-share"]
if len(args) != 3 or args[0] != "info" or args[2] != "--output=json":
    sys.stderr.write("qemu-img: unknown arguments\n"); sys.exit(1)
path = args[1]
if not os.path.exists(path):
    sys.stderr.write("qemu-img: Could not open '%s': Could not open '%s': No such file or directory\n" % (path, path))
    sys.exit(1)
size, backing, fmt = os.path.getsize(path), "", "raw"
table = os.path.join(ROOT, "qemu-img.table")
if os.path.exists(table):
    for line in open(table).read().splitlines():
        fields = line.split("\t")
        if fields[0] == path:
            size, backing, fmt = int(fields[1]), fields[2], "qcow2"
info = {"virtual-size": size, "filename": path, "format": fmt, "actual-size": os.path.getsize(path)}
if backing:
    info["full-backing-filename"] = backing
    info["backing-filename"] = backing
info["dirty-flag"] = False
print(json.dumps(info, indent=4))
)PY";
}

class VmPlatformRun : public opennebula_test::PlatformRun {
protected:
    void SetUp() override
    {
        PlatformRun::SetUp();
        const char* root = std::getenv("KEVRA_SANDBOX_ROOT");
        root_ = root != nullptr ? root : "";
        tools_ = root_ + "/vm-tools";
        boost::filesystem::create_directories(tools_ + "/domains");
        install("/usr/bin/ssh", ssh_body());
        install("/usr/bin/virsh", virsh_body());
        install("/usr/bin/qemu-img", qemu_img_body());
        node_ = hx_utils_common::get_nodename();
    }

    // The calls one of this fixture's tools received, one line each.
    std::vector<std::string> tool_calls(const std::string& tool) const
    {
        std::vector<std::string> lines;
        std::string text = kevra_test::read_file(tools_ + "/" + tool + ".log");
        std::string::size_type start = 0;
        while (start < text.size()) {
            const std::string::size_type end = text.find('\n', start);
            lines.push_back(text.substr(start, end - start));
            start = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }

    bool tool_called(const std::string& tool, const std::string& line) const
    {
        for (const std::string& call : tool_calls(tool))
            if (call == line)
                return true;
        return false;
    }

    std::string tool_log(const std::string& tool) const { return kevra_test::read_file(tools_ + "/" + tool + ".log"); }

    // What virsh domblklist lists for `domain`: "TARGET SOURCE" lines.
    void set_domain_disks(const std::string& domain, const std::string& lines) const
    {
        kevra_test::write_file(tools_ + "/domains/" + domain, lines);
    }

    // A disk image file at `path` that qemu-img describes with `size` and, when not empty, `backing`.
    void make_image(const std::string& path, unsigned long long size, const std::string& backing = "") const
    {
        boost::filesystem::create_directories(boost::filesystem::path(path).parent_path());
        kevra_test::write_file(path, "image data of " + path);
        const std::string table = tools_ + "/qemu-img.table";
        kevra_test::write_file(table, kevra_test::read_file(table) + path + "\t" + std::to_string(size) + "\t" +
                                          backing + "\n");
    }

    std::string root_;   // $KEVRA_SANDBOX_ROOT
    std::string tools_;  // this fixture's tool folder
    std::string node_;   // this machine's node name

private:
    void install(const std::string& path, const char* body) const
    {
        kevra_test::write_file(path, std::string(tool_preamble()) + body);
        ::chmod(path.c_str(), 0755);
    }
};

}  // namespace vm_e2e
