// A backup whose engine runs on another host, run through the framework inside
// the sandbox. Stand-ins of ssh and scp, written here, make host "h1": a mount
// namespace with its own /opt/kelvomar and work folder, sharing the data and
// the engine's media server with this host. They log every call, so the test
// sees the exact command lines, what was copied there and back, the engine run
// there, and what the clean-up left on either side.
//
// Each test case starts itself again inside tests/platform/sandbox (this
// program's other tests run on the host as they are).
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox_guard.h"

#include <gtest/gtest.h>

#include <boost/algorithm/string/replace.hpp>
#include <boost/filesystem.hpp>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
using engine_test::EngineTestModule;

bool started_by_sandbox()
{
    return std::getenv("KEVRA_SANDBOX") != nullptr || std::getenv("KEVRA_SANDBOX_UNAVAILABLE") != nullptr;
}

// Runs the current test case again inside the sandbox and takes over its verdict.
void run_current_test_in_sandbox()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    char self[4096] = {0};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
    ASSERT_GT(n, 0);
    const auto result = kevra_test::run_program({kevra_test::source_path("tests/platform/sandbox"), self,
                                                 std::string("--gtest_filter=") + info->test_suite_name() + "." +
                                                     info->name()});
    if (result.exit_status == 0 && result.out.find("[  SKIPPED ]") != std::string::npos)
        GTEST_SKIP() << result.out;
    EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out << result.err;
}

#define KEVRA_IN_SANDBOX()                      \
    do {                                        \
        if (!started_by_sandbox()) {            \
            run_current_test_in_sandbox();      \
            return;                             \
        }                                       \
        KEVRA_REQUIRE_SANDBOX();                \
    } while (0)

const char kSsh[] = R"SH(#!/bin/sh
# ssh stand-in: logs its words, then runs the command as host h1 would.
{ printf '%s' "$0"; for a in "$@"; do printf '|%s' "$a"; done; printf '\n'; } >> @LOG@
user= host=
while [ $# -gt 0 ]; do
  case $1 in
    -q) shift ;;
    -l) user=$2; shift 2 ;;
    -o) shift 2 ;;
    -*) echo "ssh: unknown option $1" >&2; exit 255 ;;
    *) [ -n "$host" ] && break; host=$1; shift ;;
  esac
done
if [ "$host" != h1 ] || [ "$user" != root ]; then
  echo "ssh: connect to host $host port 22: No route to host" >&2; exit 255
fi
case ${KEVRA_TEST_REMOTE_FAULT:-} in
  ssh:*) case "$*" in *"${KEVRA_TEST_REMOTE_FAULT#ssh:}"*) echo "remote command failed" >&2; exit 1 ;; esac ;;
esac
exec @ENTER@ /bin/sh -c "$*"
)SH";

const char kScp[] = R"SH(#!/bin/sh
# scp stand-in: logs its words, then copies between this host and host h1.
{ printf '%s' "$0"; for a in "$@"; do printf '|%s' "$a"; done; printf '\n'; } >> @LOG@
[ $# -eq 2 ] || { echo "usage: scp SOURCE TARGET" >&2; exit 1; }
fault=${KEVRA_TEST_REMOTE_FAULT:-}
case $fault in
  scp:*) case "$*" in *"${fault#scp:}"*) echo "scp: lost connection" >&2; exit 1 ;; esac ;;
esac
case $2 in
  *:*)
    [ "${2%%:*}" = root@h1 ] || { echo "ssh: Could not resolve hostname ${2%%:*}" >&2; exit 255; }
    [ -f "$1" ] || { echo "scp: $1: No such file or directory" >&2; exit 1; }
    @ENTER@ /bin/sh -c 'if [ -d "$1" ]; then exec cat > "$1/$2"; else exec cat > "$1"; fi' scp "${2#*:}" \
      "$(basename "$1")" < "$1" || { echo "scp: ${2#*:}: No such file or directory" >&2; exit 1; }
    ;;
  *)
    [ "${1%%:*}" = root@h1 ] || { echo "ssh: Could not resolve hostname ${1%%:*}" >&2; exit 255; }
    case $fault in
      scp-partial:*) case "$*" in *"${fault#scp-partial:}"*)
        @ENTER@ /bin/cat "${1#*:}" | head -c 4 > "$2"; echo "scp: lost connection" >&2; exit 1 ;; esac ;;
    esac
    @ENTER@ /bin/cat "${1#*:}" > "$2.part" && mv "$2.part" "$2" ||
      { rm -f "$2.part"; echo "scp: ${1#*:}: No such file or directory" >&2; exit 1; }
    ;;
esac
)SH";

// Runs its arguments as a command of host h1.
const char kEnter[] = R"SH(#!/bin/sh
exec unshare -m --propagation private /bin/sh -c '
  mount --bind "@REMOTE@/opt-kelvomar" /opt/kelvomar && mount --bind "@REMOTE@/work" "@WORK@" && exec "$@"' \
  enter "$@"
)SH";

std::string fill(std::string text, const std::map<std::string, std::string>& values)
{
    for (const auto& value : values)
        boost::algorithm::replace_all(text, value.first, value.second);
    return text;
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every name below the folder, relative to it, sorted; folders end with "/".
std::vector<std::string> tree(const fs::path& root)
{
    std::vector<std::string> names;
    if (!fs::exists(root))
        return names;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it) {
        std::string name = fs::relative(it->path(), root).string();
        names.push_back(fs::is_directory(it->path()) ? name + "/" : name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Members are open to the case tables below.
class RemoteBackupRun : public ::testing::Test {
public:
    void SetUp() override
    {
        if (!started_by_sandbox() || std::getenv("KEVRA_SANDBOX_ROOT") == nullptr)
            return;
        root_ = std::getenv("KEVRA_SANDBOX_ROOT");
        work_ = root_ / "work";
        op_ = (work_ / "op").string();
        remote_ = root_ / "h1";
        log_ = (root_ / "remote-calls.log").string();
        snap_ = op_ + "/arch1.snap_dir";
        meta_ = snap_ + "/arch1.meta";
        list_ = op_ + "/hxfd_list";

        fs::create_directories(op_);
        fs::create_directories(remote_ / "work" / "op");
        fs::create_directories(remote_ / "opt-kelvomar" / "bin");
        fs::copy_symlink("/opt/kelvomar/bin/hxfd", remote_ / "opt-kelvomar" / "bin" / "hxfd");
        fs::create_directories(remote_ / "opt-kelvomar" / "keys");
        for (const char* key : {"master-key", "secret-key.pem"})
            fs::copy_file(fs::path("/opt/kelvomar/keys") / key, remote_ / "opt-kelvomar" / "keys" / key);

        const std::map<std::string, std::string> values = {{"@LOG@", log_},
                                                           {"@ENTER@", (root_ / "enter-h1").string()},
                                                           {"@REMOTE@", remote_.string()},
                                                           {"@WORK@", work_.string()}};
        install((root_ / "enter-h1").string(), fill(kEnter, values));
        install("/usr/bin/ssh", fill(kSsh, values));
        install("/usr/bin/scp", fill(kScp, values));

        fs::create_directories(root_ / "data");
        kevra_test::write_file((root_ / "data" / "disk1.img").string(), "disk one data\n");
        platform_.fixture({"task-secret", "T1", "--content", "s3cret"});
        secret_ = "/opt/kelvomar/var/tasks//task_secret_T1";  // as the module names it
        fs::create_directories("/opt/kelvomar/etc");
        kevra_test::write_file(restriction_, "/srv/restricted\n");

        HxModuleOptions& o = module_.opts();
        o.module_name = "/opt/kelvomar/bin/test_module";
        o.operation = 9;
        o.backup_type = 1;
        o.resource = "7";
        o.tmp_operation_directory = op_;
        o.archive_name = "arch1";
        o.task_id = "T1";
        o.media_server = "media1";
        o.restriction_list_file = restriction_;
        o.remote_host = "h1";
        const std::string data = (root_ / "data" / "disk1.img").string();
        const std::string list = list_;
        module_.prepare = [data, list](EngineTestModule& m) {
            m.opts().resource_list_file = list;
            return m.add_to_hxfd_list_file(list, {{data, "disk1.img"}}, false);
        };
    }

    static void install(const std::string& path, const std::string& text)
    {
        fs::remove(path);
        kevra_test::write_file(path, text);
        fs::permissions(path, fs::owner_all | fs::group_read | fs::group_exe | fs::others_read | fs::others_exe);
    }

    unsigned int run_backup(const std::string& fault = "")
    {
        if (fault.empty())
            ::unsetenv("KEVRA_TEST_REMOTE_FAULT");
        else
            ::setenv("KEVRA_TEST_REMOTE_FAULT", fault.c_str(), 1);
        ::testing::internal::CaptureStdout();
        const unsigned int status = module_.run();
        out_ = ::testing::internal::GetCapturedStdout();
        ::unsetenv("KEVRA_TEST_REMOTE_FAULT");
        return status;
    }

    std::vector<std::string> calls() const { return lines_of(kevra_test::read_file(log_)); }

    // The call lines of the ordinary steps, as the stand-ins log them.
    std::string ssh(const std::string& command) const { return "/usr/bin/ssh|-q|-l|root|h1|" + command; }
    std::string connection_test() const
    {
        return ssh("-o|ConnectTimeout=5|-o|PasswordAuthentication=no|-o|PubkeyAuthentication=yes|-o|"
                   "BatchMode=yes|exit 0");
    }
    std::string test_d() const { return ssh("test -d " + op_); }
    std::string mkdir() const { return ssh("mkdir -p " + snap_ + " /opt/kelvomar/var/tasks/"); }
    std::string copy_secret() const { return "/usr/bin/scp|" + secret_ + "|root@h1:" + secret_; }
    std::string copy_list() const { return "/usr/bin/scp|" + list_ + "|root@h1:" + list_; }
    std::string copy_restrictions() const { return "/usr/bin/scp|" + restriction_ + "|root@h1:" + snap_; }
    std::string engine(bool restricted, bool with_list) const
    {
        return ssh("cd / && /opt/kelvomar/bin/hxfd -a sha2 -2  -b 16384 -c " + list_ +
                   " -x /opt/kelvomar/keys/master-key,/opt/kelvomar/keys/secret-key.pem" +
                   (restricted ? (with_list ? ",/srv/restricted" : ",") : "") + " -z None -M media1 -N arch1 -T T1 -s " + secret_ +
                   " -m " + meta_ + (restricted && with_list ? " -X " + snap_ + "/restriction.list" : "") +
                   " 2>&1");
    }
    std::string test_f() const { return ssh("test -f " + meta_); }
    std::string copy_back() const { return "/usr/bin/scp|root@h1:" + meta_ + "|" + meta_; }
    std::string remove(bool with_list) const
    {
        return ssh("rm " + list_ + " " + secret_ + " " + meta_ + (with_list ? " " + snap_ + "/restriction.list" : ""));
    }
    std::string rmdir() const { return ssh("rmdir " + snap_); }

    // What host h1 keeps after a clean-up: its operation folder as before and an
    // empty tasks folder, nothing that was copied there.
    void expect_remote_clean() const
    {
        EXPECT_EQ(tree(remote_ / "work"), (std::vector<std::string>{"op/"}));
        EXPECT_EQ(tree(remote_ / "opt-kelvomar" / "var"), (std::vector<std::string>{"tasks/"}));
    }

    kevra_test::Platform platform_;
    engine_test::LogCapture log_capture_;
    EngineTestModule module_;
    fs::path root_, work_, remote_;
    std::string op_, log_, snap_, meta_, list_, secret_, out_;
    const std::string restriction_ = "/opt/kelvomar/etc/restriction.list";
};

struct SuccessCase {
    const char* name;
    bool restriction_list;    // the restriction list file exists
    bool local_restrictions;  // option local-restrictions
};

std::ostream& operator<<(std::ostream& out, const SuccessCase& c)
{
    return out << c.name;
}

class RemoteBackupSuccess : public RemoteBackupRun, public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(RemoteBackupSuccess, ArchivesOnTheRemoteHostAndBringsTheMetaFileBack)
{
    KEVRA_IN_SANDBOX();
    const SuccessCase& c = GetParam();
    module_.opts().local_restrictions = c.local_restrictions;
    if (!c.restriction_list)
        fs::remove(restriction_);

    ASSERT_EQ(run_backup(), 0u) << log_capture_.text();

    std::vector<std::string> expected = {connection_test(), test_d(), mkdir(), copy_secret(), copy_list()};
    if (c.restriction_list)
        expected.push_back(copy_restrictions());
    expected.insert(expected.end(), {engine(c.local_restrictions, c.restriction_list), test_f(), copy_back(),
                                     remove(c.restriction_list), rmdir()});
    EXPECT_EQ(calls(), expected);

    // The engine stored the data on the media server and wrote its meta file on h1;
    // the copy of it came back into the snapshot file here.
    EXPECT_EQ(platform_.fixture({"archives"}), "arch1");
    EXPECT_EQ(platform_.fixture({"archive-files", "arch1"}), "disk1.img\t14");
    const auto packed = platform_.shell("tar xzOf " + op_ + "/arch1.snap ./arch1.meta");
    EXPECT_EQ(packed.exit_status, 0) << packed.err;
    EXPECT_NE(packed.out.find("\"archive\""), std::string::npos) << packed.out;
    EXPECT_NE(out_.find("HXFD PID: "), std::string::npos) << out_;
    EXPECT_NE(out_.find("MAIN SNAPSHOT FILENAME:" + op_ + "/arch1.snap\n"), std::string::npos) << out_;

    expect_remote_clean();
    EXPECT_TRUE(fs::exists(secret_)) << "the local task secret is kept";
}

const SuccessCase kSuccesses[] = {
    {"WithLocalRestrictions", true, true},
    {"RestrictionListCopiedWithoutTheOption", true, false},
    {"WithoutRestrictionList", false, false},
    {"OptionWithoutRestrictionList", false, true},
};

INSTANTIATE_TEST_SUITE_P(Runs, RemoteBackupSuccess, ::testing::ValuesIn(kSuccesses),
                         [](const ::testing::TestParamInfo<SuccessCase>& info) { return info.param.name; });

// A step that fails: the run ends with 6 after the record that names it, and
// once anything was copied to h1 the clean-up removes it again.
using Lines = std::vector<std::string>;

struct FailureCase {
    const char* name;
    std::function<void(RemoteBackupRun&)> setup;       // nullptr: nothing more
    std::string fault;                                 // KEVRA_TEST_REMOTE_FAULT for the stand-ins
    std::string logged;                                // a text the log must hold
    std::function<Lines(const RemoteBackupRun&)> calls;  // the call lines expected
    bool cleaned;                                      // h1 must be clean afterwards
};

std::ostream& operator<<(std::ostream& out, const FailureCase& c)
{
    return out << c.name;
}

Lines up_to_copies(const RemoteBackupRun& r)
{
    return {r.connection_test(), r.test_d(), r.mkdir(), r.copy_secret(), r.copy_list(), r.copy_restrictions()};
}

Lines with(Lines lines, const Lines& more)
{
    lines.insert(lines.end(), more.begin(), more.end());
    return lines;
}

const FailureCase kFailures[] = {
    {"UnreachableHost", [](RemoteBackupRun& r) { r.module_.opts().remote_host = "h2"; }, "",
     "ssh connection failed to: h2",
     [](const RemoteBackupRun&) {
         return Lines{"/usr/bin/ssh|-q|-l|root|h2|-o|ConnectTimeout=5|-o|PasswordAuthentication=no|-o|"
                      "PubkeyAuthentication=yes|-o|BatchMode=yes|exit 0"};
     },
     false},
    {"NoOperationFolderThere", [](RemoteBackupRun& r) { fs::remove_all(r.remote_ / "work" / "op"); }, "",
     " does not exist on remote host: h1",
     [](const RemoteBackupRun& r) { return Lines{r.connection_test(), r.test_d()}; }, false},
    {"SecretCopyFails", nullptr, "scp:task_secret_T1", "the following command produced an error: /usr/bin/scp ",
     [](const RemoteBackupRun& r) {
         return Lines{r.connection_test(), r.test_d(), r.mkdir(), r.copy_secret(), r.remove(true), r.rmdir()};
     },
     true},
    {"RestrictionListCopyFails", nullptr, "scp:restriction.list", "the following command produced an error: ",
     [](const RemoteBackupRun& r) { return with(up_to_copies(r), {r.remove(true), r.rmdir()}); }, true},
    {"EngineFails",
     [](RemoteBackupRun& r) {
         r.platform_.fixture({"fault", "hxfd", "backup", "--exit", "1", "--stdout", "media server gone"});
     },
     "", "produced an error, hxfd out: media server gone",
     [](const RemoteBackupRun& r) {
         return with(up_to_copies(r), {r.engine(false, true), r.remove(true), r.rmdir()});
     },
     true},
    {"NoMetaFileThere", nullptr, "ssh:test -f", " does not exist on remote host: h1",
     [](const RemoteBackupRun& r) {
         return with(up_to_copies(r), {r.engine(false, true), r.test_f(), r.remove(true), r.rmdir()});
     },
     true},
    {"MetaCopyBrokenOff", nullptr, "scp-partial:arch1.meta", "the following command produced an error: ",
     [](const RemoteBackupRun& r) {
         return with(up_to_copies(r),
                     {r.engine(false, true), r.test_f(), r.copy_back(), r.remove(true), r.rmdir()});
     },
     true},
};

class RemoteBackupFailureRun : public RemoteBackupRun, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RemoteBackupFailureRun, EndsWithSixAndLeavesNothingBehind)
{
    KEVRA_IN_SANDBOX();
    const FailureCase& c = GetParam();
    if (c.setup)
        c.setup(*this);

    EXPECT_EQ(run_backup(c.fault), 6u);
    EXPECT_NE(log_capture_.text().find(c.logged), std::string::npos) << log_capture_.text();
    EXPECT_EQ(calls(), c.calls(*this));
    if (c.cleaned)
        expect_remote_clean();
    EXPECT_FALSE(fs::exists(meta_)) << "no meta file, whole or partial, is left here";
    EXPECT_EQ(out_.find("MAIN ARCHIVE FILENAME:"), std::string::npos) << out_;
    EXPECT_TRUE(fs::exists(secret_));
    EXPECT_EQ(module_.calls, (std::vector<std::string>{"prepare", "release"}));
}

INSTANTIATE_TEST_SUITE_P(Steps, RemoteBackupFailureRun, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// A clean-up that fails on h1 is only warned about: the backup itself is whole.
TEST_F(RemoteBackupRun, FailedCleanUpIsOnlyAWarning)
{
    KEVRA_IN_SANDBOX();
    EXPECT_EQ(run_backup("ssh:rmdir"), 0u) << log_capture_.text();
    EXPECT_NE(log_capture_.text().find("bool HxModuleUniversal::cleanup_remote_host(const std::string&): the "
                                       "following command produced an error: /usr/bin/ssh -q -l root h1 \"rmdir " +
                                       snap_ + "\""),
              std::string::npos)
        << log_capture_.text();
    EXPECT_NE(log_capture_.text().find("unable to cleanup remote host: h1"), std::string::npos);
    EXPECT_EQ(calls().back(), rmdir());
    EXPECT_EQ(platform_.fixture({"archives"}), "arch1");
}

// A value that both shells would read reaches the remote engine as one word,
// and nothing in it runs on either host.
TEST_F(RemoteBackupRun, HostileValueReachesTheRemoteEngineAsOneWord)
{
    KEVRA_IN_SANDBOX();
    const std::string canary = (root_ / "ran").string();
    const std::string server = "m1'; touch " + canary + "; '\"$(touch " + canary + ")`touch " + canary + "`\\";
    module_.opts().media_server = server;

    ASSERT_EQ(run_backup(), 0u) << log_capture_.text();

    const auto engine_calls = platform_.calls("hxfd");
    ASSERT_EQ(engine_calls.size(), 1u);
    EXPECT_NE(engine_calls[0].find(" -M " + kelvomar::shell_quote(server) + " -N arch1 "), std::string::npos)
        << engine_calls[0];
    EXPECT_FALSE(fs::exists(canary));
    expect_remote_clean();
}

}  // namespace
