// A termination while a platform command that names what it made (the clone,
// an image create, the template create) hangs after it has made its object:
// the command gets its grace and is then ended, and the clean-up finds the
// object by the free name the run chose for it and deletes it. The run ends
// with 17 and leaves no object, no file in the safe directory, no working
// directory and no lock behind.
#include <gtest/gtest.h>

#include <signal.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "common/termination.h"
#include "tests/e2e/lock_signal_support.h"
#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

namespace fs = boost::filesystem;
using kevra_e2e::contains;
using lock_signal_test::Role;

// The grace of the hung command, then the clean-up's commands.
const double kEndWithin =
    std::chrono::duration<double>(kelvomar::termination::kNamingCommandGrace).count() + 30;

struct HungCommand {
    const char* name;
    std::vector<std::string> fault;  // fixture fault arguments
    bool restore;                    // a restore, else a backup
    const char* kind;                // "templates" or "images": where the object appears
    const char* object;              // the name of the object the hung command made
};

std::ostream& operator<<(std::ostream& out, const HungCommand& c) { return out << c.name; }

class HungNamingCommand : public kevra_e2e::TemplateRestoreTest, public ::testing::WithParamInterface<HungCommand> {
protected:
    void SetUp() override
    {
        TemplateRestoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        platform_.datastore({"--name", "default"});
        const std::string os = platform_.image(
            {"--name", "web-os", "--datastore", "default", "--prefix", "vd", "--content", "web-os boot sector"});
        platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + os});
    }

    std::vector<std::string> program_and(std::vector<std::string> args) const
    {
        args.insert(args.begin(), kevra_test::build_path("kevra_template"));
        return args;
    }

    bool object_exists(const std::string& kind, const std::string& name) const
    {
        const std::vector<std::string> names = platform_names(kind);
        return std::find(names.begin(), names.end(), name) != names.end();
    }
};

TEST_P(HungNamingCommand, IsEndedAfterItsGraceAndWhatItMadeIsDeleted)
{
    const HungCommand& c = GetParam();
    if (c.restore) {
        back_up("web");
    }
    const std::vector<std::string> args =
        c.restore ? restore_arguments()
                  : std::vector<std::string>{"-1", "-b", "web", "-d", op_dir_, "-n", "bk1", "-m", kServer, "-T", kTask};
    const std::vector<std::string> templates_before = platform_names("templates");
    const std::vector<std::string> images_before = platform_names("images");
    std::vector<std::string> fault{"fault"};
    fault.insert(fault.end(), c.fault.begin(), c.fault.end());
    platform_.fixture(fault);

    Role run(program_and(args), {});
    ASSERT_TRUE(lock_signal_test::wait_until([&] { return object_exists(c.kind, c.object); }, 60))
        << "the hung command made no object named " << c.object << "\n"
        << log();
    ::kill(run.pid(), SIGTERM);
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_TRUE(run.ended_within(kEndWithin)) << "the run did not end within " << kEndWithin << " s of the signal";
    EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count(), 1.0)
        << "the hung command got no grace";
    EXPECT_EQ(run.wait(0), 17) << "exit status\n" << run.out() << run.err();
    EXPECT_TRUE(contains(log(), "that the ended command made")) << "the clean-up looked the object up by name\n"
                                                                 << log();
    EXPECT_FALSE(object_exists(c.kind, c.object)) << "the object the hung command made is still there";
    EXPECT_EQ(platform_names("templates"), templates_before) << "templates left behind";
    EXPECT_EQ(platform_names("images"), images_before) << "images left behind";
    EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{}) << "files left in the safe directory";
    const std::string directory = c.restore ? restore_dir_ : op_dir_;
    for (fs::directory_iterator it(directory), end; it != end; ++it) {
        EXPECT_FALSE(fs::is_directory(it->symlink_status())) << "working directory left behind: " << it->path();
        EXPECT_NE(it->path().extension(), ".list") << "engine file list left behind: " << it->path();
    }
    const fs::path locks("/opt/kelvomar/var/kelvomar-modules");
    if (fs::exists(locks)) {
        EXPECT_EQ(tree(locks.string()), std::vector<std::string>{}) << "a lock file is left";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, HungNamingCommand,
    ::testing::Values(HungCommand{"Clone", {"onetemplate", "clone", "--hang", "300"}, false, "templates", "bk1"},
                      HungCommand{"ImageCreate", {"oneimage", "create", "--hang", "300"}, true, "images",
                                  "web-2-disk-0"},
                      HungCommand{"TemplateCreate", {"onetemplate", "create", "--hang", "300"}, true, "templates",
                                  "web-2"}),
    [](const ::testing::TestParamInfo<HungCommand>& info) { return std::string(info.param.name); });

}  // namespace
