// The command lines of a backup on another host: their exact text for ordinary
// values, values that survive both the local and the remote shell whatever they
// hold, and the refusals that end a remote backup before any host is contacted.
#include "modules/remote_backup_commands.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
namespace remote = kelvomar::module;
using engine_test::EngineTestModule;

const std::string kP = "/usr/bin/ssh -q -l root h1 ";

struct LineCase {
    const char* name;
    std::string line;
    std::string expected;
};

std::ostream& operator<<(std::ostream& out, const LineCase& c)
{
    return out << c.name;
}

const LineCase kLines[] = {
    {"Prefix", remote::remote_prefix("root", "h1"), kP},
    {"ConnectionTestHasTwoBlanksBeforeTheOptions", remote::connection_test_command(kP),
     "/usr/bin/ssh -q -l root h1  -o ConnectTimeout=5 -o PasswordAuthentication=no -o PubkeyAuthentication=yes"
     " -o BatchMode=yes 'exit 0'"},
    {"RemoteCommandInDoubleQuotes", remote::remote_command(kP, "test -d /tmp/op"),
     kP + "\"test -d /tmp/op\""},
    {"MkdirOfTwoFolders",
     remote::remote_command(kP, "mkdir -p /tmp/op/a1.snap_dir /opt/kelvomar/var/tasks/"),
     kP + "\"mkdir -p /tmp/op/a1.snap_dir /opt/kelvomar/var/tasks/\""},
    {"CopyThere",
     remote::copy_to_remote_command("/opt/kelvomar/var/tasks//task_secret_T1", "root", "h1",
                                    "/opt/kelvomar/var/tasks//task_secret_T1"),
     "/usr/bin/scp /opt/kelvomar/var/tasks//task_secret_T1 root@h1:/opt/kelvomar/var/tasks//task_secret_T1"},
    {"CopyBack", remote::copy_from_remote_command("root", "h1", "/tmp/op/a1.snap_dir/a1.meta",
                                                  "/tmp/op/a1.snap_dir/a1.meta"),
     "/usr/bin/scp root@h1:/tmp/op/a1.snap_dir/a1.meta /tmp/op/a1.snap_dir/a1.meta"},
    {"RemoveInSingleQuotes",
     remote::remote_command_single_quoted(
         kP, remote::remove_files_text({"/tmp/op/list", "/opt/kelvomar/var/tasks//task_secret_T1",
                                        "/tmp/op/a1.snap_dir/a1.meta"})),
     kP + "'rm /tmp/op/list /opt/kelvomar/var/tasks//task_secret_T1 /tmp/op/a1.snap_dir/a1.meta'"},
    {"EngineLineKeepsItsQuotedWords",
     remote::remote_command(kP, "cd / && /opt/kelvomar/bin/hxfd -x 'a,b c' -N 'x\"y' 2>&1"),
     kP + "\"cd / && /opt/kelvomar/bin/hxfd -x 'a,b c' -N 'x\\\"y' 2>&1\""},
    {"DoubleQuoteLevelEscapesItsFourCharacters", remote::remote_command_word("a\"b\\c$d`e'f"),
     "\"a\\\"b\\\\c\\$d\\`e'f\""},
    {"PrefixQuotesAnUnusualUser", remote::remote_prefix("backup user", "h1"),
     "/usr/bin/ssh -q -l 'backup user' h1 "},
    {"RemoveOfAQuotedName", remote::remote_command_single_quoted(kP, remote::remove_files_text({"/tmp/it's"})),
     kP + "'rm '\\''/tmp/it'\\''\\'\\'''\\''s'\\'''"},
};

class RemoteLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(RemoteLine, IsExact)
{
    EXPECT_EQ(GetParam().line, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Golden, RemoteLine, ::testing::ValuesIn(kLines),
                         [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

// A stand-in "ssh" that does what ssh does with its command words: joins them
// with blanks and hands the text to a shell. Each value must come out of both
// parsings as exactly itself, and nothing it holds may run.
class TwoShells : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-remote-quote-%%%%%%%%");
        fs::create_directories(dir_);
        ssh_ = (dir_ / "ssh").string();
        std::ofstream(ssh_) << "#!/bin/sh\nexec /bin/sh -c \"$*\"\n";
        fs::permissions(ssh_, fs::owner_all);
        canary_ = (dir_ / "ran").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::string ssh_;
    std::string canary_;
};

TEST_F(TwoShells, EveryValueArrivesAsOneWord)
{
    const std::vector<std::string> values = {
        "plain/path-1.meta",
        "two words",
        "it's",
        "say \"hi\"",
        "back\\slash\\",
        "$(touch " + canary_ + ")",
        "`touch " + canary_ + "`",
        "$HOME ${PATH}",
        "; touch " + canary_ + " #",
        "' ; touch " + canary_ + " ; '",
        "\" ; touch " + canary_ + " ; \"",
        "*",
        "line\nbreak",
        "-rf",
        "",
    };
    const std::string prefix = ssh_ + " ";
    using Form = std::function<std::string(const std::string&)>;
    const Form forms[] = {
        [&](const std::string& text) { return remote::remote_command(prefix, text); },
        [&](const std::string& text) { return remote::remote_command_single_quoted(prefix, text); },
    };
    for (const Form& form : forms) {
        for (const std::string& value : values) {
            const std::string text = "printf '<%s>' " + kelvomar::shell_quote(value) + " " +
                                     kelvomar::shell_quote(value);
            std::string output;
            EXPECT_EQ(hx_utils_common::execute_command(form(text), output), 0) << form(text);
            EXPECT_EQ(output, "<" + value + "><" + value + ">") << form(text);
        }
    }
    EXPECT_FALSE(fs::exists(canary_)) << "a value was run as a command";
}

struct NameCase {
    const char* value;
    bool name;  // usable as remote user or host
    bool path;  // usable as a path on the remote side of a copy
};

TEST(RemoteValues, NamesAndPathsThatCanStandOnTheRemoteSide)
{
    const NameCase cases[] = {
        {"h1", true, false},
        {"backup-host.example.org", true, false},
        {"10.0.0.7", true, false},
        {"root_2", true, false},
        {"", false, false},
        {"-oProxyCommand=touch_x", false, false},
        {"user@h1", false, false},
        {"h1:22", false, false},
        {"h1/x", false, false},
        {"h 1", false, false},
        {"h1;reboot", false, false},
        {"/tmp/op/a1.snap_dir/a1.meta", false, true},
        {"/opt/kelvomar/var/tasks//task_secret_T-1", false, true},
        {"/tmp/op/a b.meta", false, false},
        {"/tmp/op/*.meta", false, false},
        {"/tmp/op/$x", false, false},
        {"relative/list", false, false},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(remote::usable_remote_name(c.value), c.name) << c.value;
        EXPECT_EQ(remote::usable_remote_path(c.value), c.path) << c.value;
    }
}

// make_backup_remotely with settings that it refuses: false with the record,
// and no ssh or scp command was run (the connection test is the first one).
struct RefusalCase {
    const char* name;
    std::function<void(EngineTestModule&)> setup;
    std::string logged;
};

std::ostream& operator<<(std::ostream& out, const RefusalCase& c)
{
    return out << c.name;
}

const std::string kSig = "bool HxModuleUniversal::make_backup_remotely()";

const RefusalCase kRefusals[] = {
    {"Autonomous", [](EngineTestModule& m) { m.opts().autonomous = true; },
     kSig + ": Autonomous mode is not supported for remote backup hxfd mode"},
    {"SignatureWanted", [](EngineTestModule& m) { m.opts().dgst = true; },
     kSig + ": Digital signature is not supported for remote backup hxfd mode"},
    {"Crypto", [](EngineTestModule& m) { m.opts().crypto = "kuznyechik"; },
     kSig + ": Encrytping signature is not supported for remote backup hxfd mode"},
    {"CommonPartFails", [](EngineTestModule& m) { m.opts().backup_type = 2; },
     "you must define reference snapshot name (-s option)"},
    {"HostReadAsAnOption", [](EngineTestModule& m) { m.opts().remote_host = "-oProxyCommand=sh"; },
     "cannot be used in ssh and scp command lines"},
    {"HostWithAUser", [](EngineTestModule& m) { m.opts().remote_host = "other@h1"; },
     "cannot be used in ssh and scp command lines"},
    {"UserWithABlank", [](EngineTestModule& m) { m.opts().remote_user = "a b"; },
     "cannot be used in ssh and scp command lines"},
    {"ArchiveNameWithABlank", [](EngineTestModule& m) { m.opts().archive_name = "a 1"; },
     "cannot be named on remote host: h1"},
    {"TaskIdWithAPattern", [](EngineTestModule& m) { m.opts().task_id = "T*"; },
     "cannot be named on remote host: h1"},
    {"NoEngineFileList", [](EngineTestModule& m) { m.opts().resource_list_file.clear(); },
     "cannot be named on remote host: h1"},
};

class RemoteRefusal : public ::testing::TestWithParam<RefusalCase> {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-remote-refusal-%%%%%%%%");
        fs::create_directories(dir_);
        const std::string list = (dir_ / "list").string();
        std::ofstream(list) << "HXFD file list:\n";
        module_.opts().resource_list_file = list;
        module_.opts().resource = "7";
        module_.opts().remote_host = "h1";
        module_.opts().tmp_operation_directory = dir_.string();
        module_.opts().archive_name = "a1";
        module_.opts().task_id = "T1";
        module_.opts().media_server = "media1";
    }
    void TearDown() override { fs::remove_all(dir_); }

    engine_test::LogCapture log_;
    fs::path dir_;
    EngineTestModule module_;
};

TEST_P(RemoteRefusal, FailsBeforeAnyRemoteCommand)
{
    GetParam().setup(module_);
    EXPECT_FALSE(module_.make_backup());
    EXPECT_FALSE(module_.backup_result());
    EXPECT_NE(log_.text().find(GetParam().logged), std::string::npos) << log_.text();
    EXPECT_EQ(log_.text().find("Testing connection to remote host"), std::string::npos) << log_.text();
}

INSTANTIATE_TEST_SUITE_P(Settings, RemoteRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

}  // namespace
