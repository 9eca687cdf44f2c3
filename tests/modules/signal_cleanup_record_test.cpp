// The record of what a run created, which decides what the termination
// clean-up may remove or release.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <string>

#include "modules/shutdown_cleanup.h"

namespace {

namespace fs = boost::filesystem;
namespace cleanup = kelvomar::module::shutdown_cleanup;

class CleanupRecord : public ::testing::Test {
protected:
    void SetUp() override
    {
        cleanup::reset();
        root_ = fs::temp_directory_path() / fs::unique_path("kevra-cleanup-%%%%-%%%%");
        fs::create_directories(root_ / "op" / "42.rest");
        std::ofstream((root_ / "op" / "agent-file").string()) << "x";
    }
    void TearDown() override
    {
        cleanup::reset();
        fs::remove_all(root_);
    }
    std::string op() const { return (root_ / "op").string(); }

    fs::path root_;
};

struct DirCase {
    const char* name;
    const char* noted;      // relative to the root; nullptr: nothing noted
    const char* created;    // made after noting; nullptr: nothing
    const char* candidate;  // relative to the root
    bool expected;
};

std::ostream& operator<<(std::ostream& out, const DirCase& c) { return out << c.name; }

class CreatedByThisRun : public CleanupRecord, public ::testing::WithParamInterface<DirCase> {};

TEST_P(CreatedByThisRun, OnlyNewEntriesOfTheNotedDirectory)
{
    const DirCase& c = GetParam();
    if (c.noted != nullptr) {
        cleanup::note_operation_directory((root_ / c.noted).string());
    }
    if (c.created != nullptr) {
        fs::create_directories(root_ / c.created);
    }
    EXPECT_EQ(cleanup::created_by_this_run((root_ / c.candidate).string()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CreatedByThisRun,
    ::testing::Values(DirCase{"NothingNoted", nullptr, "op/7.rest", "op/7.rest", false},
                      DirCase{"TheOperationDirectoryItself", "op", nullptr, "op", false},
                      DirCase{"NewRestoreDirectory", "op", "op/7.rest", "op/7.rest", true},
                      DirCase{"TrailingSeparators", "op/", "op/7.rest", "op/7.rest/", true},
                      DirCase{"DotComponents", "op/.", "op/7.rest", "op/./7.rest", true},
                      DirCase{"ThereBeforeTheRun", "op", nullptr, "op/42.rest", false},
                      DirCase{"AgentFile", "op", nullptr, "op/agent-file", false},
                      DirCase{"DeeperEntry", "op", "op/7.rest/inner", "op/7.rest/inner", false},
                      DirCase{"OutsideTheOperationDirectory", "op", "other", "other", false},
                      DirCase{"ParentOfTheOperationDirectory", "op", nullptr, ".", false},
                      DirCase{"OperationDirectoryMissingWhenNoted", "new-op", "new-op/1.rest", "new-op/1.rest",
                              true}),
    [](const ::testing::TestParamInfo<DirCase>& info) { return std::string(info.param.name); });

TEST_F(CleanupRecord, EmptyDirectoryNameIsNeverCreatedByTheRun)
{
    cleanup::note_operation_directory("");
    EXPECT_FALSE(cleanup::created_by_this_run(""));
    EXPECT_FALSE(cleanup::created_by_this_run("/"));
}

}  // namespace
