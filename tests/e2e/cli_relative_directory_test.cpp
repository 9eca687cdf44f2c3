// A relative operation directory on the command line stands for the directory
// below the agent's working directory, although the archive engine runs from
// "/": every path of the run is absolute.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "common/shell_quote.h"
#include "tests/e2e/backup_e2e_support.h"
#include "tests/support/sandbox_guard.h"

namespace {

namespace fs = boost::filesystem;
using kevra_e2e::contains;
using kevra_e2e::lines_of;

class RelativeOperationDirectory : public kevra_e2e::TemplateBackupTest {};

TEST_F(RelativeOperationDirectory, BackupNamesAbsolutePaths)
{
    KEVRA_REQUIRE_SANDBOX();
    declare_four_image_template();
    const fs::path op_dir(op_dir_);
    const std::string relative = op_dir.filename().string();
    const std::string command = "cd " + kelvomar::shell_quote(op_dir.parent_path().string()) + " && exec " +
                                kelvomar::shell_quote(kevra_test::build_path("kevra_template")) + " -1 -b web -d " +
                                kelvomar::shell_quote(relative) + " -n bk1 -m " + kServer + " -T " + kTask;
    const auto result = kevra_test::run_program({"/bin/sh", "-c", command});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;

    std::vector<std::string> main_lines;
    for (const auto& line : lines_of(result.out)) {
        if (line.compare(0, 5, "MAIN ") == 0) {
            main_lines.push_back(line);
        }
    }
    EXPECT_EQ(main_lines, (std::vector<std::string>{"MAIN ARCHIVE FILENAME:" + op_dir_ + "/bk1.snap",
                                                    "MAIN SNAPSHOT FILENAME:" + op_dir_ + "/bk1.snap",
                                                    "MAIN ARCHIVE SIGN FILENAME:" + op_dir_ + "/bk1.signature"}));
    EXPECT_TRUE(fs::exists(op_dir_ + "/bk1.snap"));

    // The engine, started from "/", was given the meta file below the real directory.
    const auto engine = platform_.calls("hxfd");
    ASSERT_EQ(engine.size(), 1u);
    EXPECT_TRUE(contains(engine[0], " -m " + op_dir_ + "/bk1.snap_dir/bk1.meta")) << engine[0];
}

}  // namespace
