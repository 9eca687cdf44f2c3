// Closing a backup: the snapshot file, the agent's result lines and the clean-up.
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>

namespace {

namespace fs = boost::filesystem;
using engine_test::EngineTestModule;
using ::testing::HasSubstr;
using ::testing::Not;

class CloseBackup : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Cases that start afresh within one test call SetUp again: drop the last folder.
        if (!op_.empty()) fs::remove_all(op_);
        op_ = fs::temp_directory_path() / fs::unique_path("kevra-close-%%%%%%%%");
        module_.opts().tmp_operation_directory = op_.string();
        module_.opts().archive_name = "a1";
        module_.opts().resource = "7";
        fs::create_directories(module_.leveldb_directory_path());
        std::ofstream(module_.meta_filename()) << "meta";
        std::ofstream(module_.leveldb_directory_path() + "/LOG") << "engine db";
    }
    void TearDown() override { fs::remove_all(op_); }

    // Runs close_backup and returns what it printed.
    std::string close(bool replica = false)
    {
        ::testing::internal::CaptureStdout();
        result_ = module_.close_backup(replica);
        return ::testing::internal::GetCapturedStdout();
    }

    engine_test::LogCapture log_;
    fs::path op_;
    EngineTestModule module_;
    bool result_ = false;
};

TEST_F(CloseBackup, ServerModeReportsTheSnapshotFileTwice)
{
    const std::string p = op_.string();
    EXPECT_EQ(close(), "MAIN ARCHIVE FILENAME:" + p + "/a1.snap\nMAIN SNAPSHOT FILENAME:" + p +
                           "/a1.snap\nMAIN ARCHIVE SIGN FILENAME:" + p + "/a1.signature\n");
    EXPECT_TRUE(result_);
    EXPECT_TRUE(fs::exists(op_ / "a1.snap"));
    EXPECT_FALSE(fs::exists(op_ / "a1.snap_dir"));
    EXPECT_THAT(log_.text(), HasSubstr("The task to make a full backup of resource '7' completed successfully"));
}

TEST_F(CloseBackup, SnapshotFileHoldsTheMetaFileButNotTheEngineDatabase)
{
    close();
    std::string listing;
    FILE* pipe = ::popen(("/bin/tar tzf '" + (op_ / "a1.snap").string() + "' | sort").c_str(), "r");
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        listing += buffer;
    ::pclose(pipe);
    EXPECT_EQ(listing, "./\n./a1.meta\n");
}

struct StorageCase {
    int type;
    const char* line;  // the storage line, or ""
};

TEST_F(CloseBackup, AutonomousModeNamesTheArchiveAndTheStorage)
{
    const StorageCase cases[] = {
        {0, ""}, {1, "CLIENT DEFINED STORAGE:local-directory@7\n"}, {2, "CLIENT DEFINED STORAGE:s3@7\n"},
        {3, "CLIENT DEFINED STORAGE:default@7\n"}, {4, ""}};
    for (const StorageCase& c : cases) {
        SetUp();
        module_.opts().autonomous = true;
        module_.storage_type() = c.type;
        module_.storage_id() = 7;
        const std::string p = op_.string();
        EXPECT_EQ(close(), std::string(c.line) + "MAIN ARCHIVE FILENAME:" + p + "/a1.hxfd\nMAIN SNAPSHOT FILENAME:" +
                               p + "/a1.snap\nMAIN ARCHIVE SIGN FILENAME:" + p + "/a1.hxfd.signature\n")
            << c.type;
        TearDown();
    }
}

TEST_F(CloseBackup, ListingIsSkippedWhenTheMainArchiveIsMissing)
{
    module_.opts().autonomous = true;
    module_.file_list() = true;
    EXPECT_THAT(close(), Not(HasSubstr("FILE LISTING")));
    EXPECT_TRUE(result_);
    EXPECT_FALSE(fs::exists(op_ / "a1.snap_dir"));
}

TEST_F(CloseBackup, ReferenceSnapshotDirectoryIsRemoved)
{
    const fs::path reference = op_ / "base.snap_dir";
    fs::create_directories(reference);
    module_.reference_directory() = reference.string();
    close();
    EXPECT_FALSE(fs::exists(reference));
    EXPECT_THAT(log_.text(), HasSubstr("Remove obsolete file: " + reference.string()));
}

TEST_F(CloseBackup, PackingFailureStopsBeforeTheResultLines)
{
    fs::remove_all(op_ / "a1.snap_dir");
    EXPECT_EQ(close(), "");
    EXPECT_FALSE(result_);
    EXPECT_THAT(log_.text(), HasSubstr("bool HxModuleUniversal::close_backup(const bool&): can't create the main "
                                       "snapshot file: "));
}

struct ArchivingCase {
    bool supported;
    bool mode;
    bool incomplete;
    bool archived;
};

// The resource is deleted only when the archive is known to be whole.
TEST_F(CloseBackup, ArchivingFollowsPropertyModeAndCompleteness)
{
    const ArchivingCase cases[] = {{true, true, false, true},
                                   {true, true, true, false},
                                   {true, false, false, false},
                                   {false, true, false, false}};
    for (const ArchivingCase& c : cases) {
        SetUp();
        module_.calls.clear();
        module_.opts().archiving_supported = c.supported;
        module_.opts().archiving_mode = c.mode;
        module_.data_incomplete() = c.incomplete;
        close();
        EXPECT_TRUE(result_);
        EXPECT_EQ(module_.calls == std::vector<std::string>{"make_archiving"}, c.archived)
            << c.supported << c.mode << c.incomplete;
        if (c.incomplete) {
            EXPECT_THAT(log_.text(), HasSubstr("is kept: the archive engine reported that the data may be incomplete"));
        }
        TearDown();
    }
}

TEST_F(CloseBackup, KindOfBackupInTheFinalRecord)
{
    const std::pair<int, const char*> kinds[] = {{2, "The task to make an incremental backup of resource '7'"},
                                                 {3, "The task to make a differential backup of resource '7'"},
                                                 {9, "The task to make  backup of resource '7'"}};
    for (const auto& kind : kinds) {
        SetUp();
        module_.opts().backup_type = kind.first;
        close();
        EXPECT_THAT(log_.text(), HasSubstr(kind.second));
        TearDown();
    }
}

}  // namespace
