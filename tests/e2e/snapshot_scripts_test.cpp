// Hook scripts of the snapshot steps: they run only from /opt/kelvomar/scripts,
// with exactly one argument, and nothing outside that directory is ever run.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>

#include "tests/e2e/snapshot_e2e_support.h"

namespace {

using module_test::LogCapture;
using snapshot_e2e::SnapshotSandbox;

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

struct ScriptCase {
    const char* name;
    std::string path;        // as the module parameter gives it
    bool result;
    std::string ran;         // the line the script logged, "" when nothing ran
    std::string logged;      // a part of the log
};

std::ostream& operator<<(std::ostream& out, const ScriptCase& c)
{
    return out << c.name;
}

class Scripts : public SnapshotSandbox, public ::testing::WithParamInterface<ScriptCase> {
protected:
    void SetUp() override
    {
        SnapshotSandbox::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        namespace fs = boost::filesystem;
        script("ok.sh", 0);
        script("fails.sh", 3);
        script("it's here.sh", 0);
        fs::create_directories(std::string(kScripts) + "/sub.sh");
        // A script outside the directory, and links to it and to ok.sh.
        snapshot_test::write_text(scratch_ + "/evil.sh", "#!/bin/sh\ntouch " + scratch_ + "/evil-ran\n");
        fs::permissions(scratch_ + "/evil.sh", fs::perms(0755));
        fs::create_symlink(scratch_ + "/evil.sh", std::string(kScripts) + "/out.sh");
        fs::create_symlink("ok.sh", std::string(kScripts) + "/in.sh");
    }
};

TEST_P(Scripts, RunOnlyFromTheScriptDirectory)
{
    const ScriptCase& c = GetParam();
    snapshot_test::SnapshotModule module;
    LogCapture log;
    EXPECT_EQ(module.run_script(c.path, "before"), c.result);
    EXPECT_EQ(script_log(), c.ran.empty() ? "" : c.ran + "\n");
    EXPECT_FALSE(boost::filesystem::exists(scratch_ + "/evil-ran"));
    EXPECT_TRUE(contains(log.text(), c.logged)) << log.text();
}

const std::string kDir = "/opt/kelvomar/scripts";

INSTANTIATE_TEST_SUITE_P(
    Snapshot, Scripts,
    ::testing::Values(
        ScriptCase{"InTheDirectory", kDir + "/ok.sh", true, "ok.sh 1 before",
                   "Run script. Script name: /opt/kelvomar/scripts/ok.sh before"},
        ScriptCase{"OutputAndCodeLogged", kDir + "/ok.sh", true, "ok.sh 1 before", "Script returned code: 0"},
        ScriptCase{"ElsewhereRunsTheSameNameFromTheDirectory", "/usr/local/bin/ok.sh", true, "ok.sh 1 before",
                   "Change script path to: /opt/kelvomar/scripts"},
        ScriptCase{"RelativeName", "ok.sh", true, "ok.sh 1 before", "output of before"},
        ScriptCase{"MissingInTheDirectory", "/usr/local/bin/x.sh", false, "",
                   "Script doesn't exist: \"/opt/kelvomar/scripts/x.sh\""},
        ScriptCase{"DotDotEscape", kDir + "/../../../" + "tmp/ok.sh", true, "ok.sh 1 before",
                   "Change script path to: /opt/kelvomar/scripts"},
        ScriptCase{"TheParentItself", kDir + "/..", false, "", "\"/opt/kelvomar/scripts/..\" is not a regular file"},
        ScriptCase{"ADirectory", kDir + "/sub.sh", false, "", "\"/opt/kelvomar/scripts/sub.sh\" is not a regular file"},
        ScriptCase{"LinkOutOfTheDirectory", kDir + "/out.sh", false, "", "leads out of /opt/kelvomar/scripts"},
        ScriptCase{"LinkInsideTheDirectory", kDir + "/in.sh", true, "in.sh 1 before", "Script returned code: 0"},
        ScriptCase{"FailingScript", kDir + "/fails.sh", false, "fails.sh 1 before", "Script returns code is not NULL"},
        ScriptCase{"FailingScriptCode", kDir + "/fails.sh", false, "fails.sh 1 before", "Script returned code: 3"},
        ScriptCase{"NameTheShellWouldRead", kDir + "/it's here.sh", true, "it's here.sh 1 before",
                   "Script returned code: 0"}),
    [](const ::testing::TestParamInfo<ScriptCase>& info) { return std::string(info.param.name); });

}  // namespace
