// Names in the operation directory and the restore directory.
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

namespace {

namespace fs = boost::filesystem;
using engine_test::EngineTestModule;
using ::testing::HasSubstr;

TEST(OperationDirectory, PathsInServerAndAutonomousMode)
{
    EngineTestModule module;
    module.opts().tmp_operation_directory = "/tmp/op";
    module.opts().archive_name = "arch1";
    EXPECT_EQ(module.archive_filename(), "/tmp/op/arch1");
    EXPECT_EQ(module.archive_sign_filename(), "/tmp/op/arch1.signature");
    EXPECT_EQ(module.snapshot_filename(), "/tmp/op/arch1.snap");
    EXPECT_EQ(module.snapshot_directory_path(), "/tmp/op/arch1.snap_dir");
    EXPECT_EQ(module.leveldb_directory_path(), "/tmp/op/arch1.snap_dir/leveldb");
    EXPECT_EQ(module.meta_filename(), "/tmp/op/arch1.snap_dir/arch1.meta");
    module.opts().autonomous = true;
    EXPECT_EQ(module.archive_filename(), "/tmp/op/arch1.hxfd");
    EXPECT_EQ(module.archive_sign_filename(), "/tmp/op/arch1.hxfd.signature");
    EXPECT_EQ(module.snapshot_filename(), "/tmp/op/arch1.snap");
}

TEST(OperationDirectory, ReferenceDirectoryIsLoggedWhenAsked)
{
    engine_test::LogCapture log;
    EngineTestModule module;
    module.reference_directory() = "/tmp/op/base.snap_dir";
    EXPECT_EQ(module.reference_snapshot_directory_path(), "/tmp/op/base.snap_dir");
    EXPECT_THAT(log.text(), HasSubstr("std::string HxModuleUniversal::reference_snapshot_directory_path() const : "
                                      "/tmp/op/base.snap_dir"));
}

class RestoreDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Cases that start afresh within one test call SetUp again: drop the last folder.
        if (!op_.empty()) fs::remove_all(op_);
        op_ = fs::temp_directory_path() / fs::unique_path("kevra-restore-dir-%%%%%%%%");
        fs::create_directories(op_);
        module_.opts().tmp_operation_directory = op_.string();
    }
    void TearDown() override { fs::remove_all(op_); }

    engine_test::LogCapture log_;
    fs::path op_;
    EngineTestModule module_;
};

struct RestoreNameCase {
    bool autonomous;
    bool with_storage;
    const char* archive_name;
    const char* record_id;
    const char* directory;  // below the operation directory
};

TEST_F(RestoreDirectory, NameFromRecordOrAutonomousArchive)
{
    const RestoreNameCase cases[] = {
        {false, false, "arch", "42", "42.rest"},
        {true, false, "/b/web_FULL_2024.hxfd", "", "2024.rest"},
        {true, false, "web_full_2024_Full_x.hxfd", "", "2024.rest"},
        {true, false, "plain.hxfd", "", "plain.rest"},
        {true, false, "_full_", "", ".rest"},
        {true, true, "web_full_2024.hxfd", "7", "7.rest"},
    };
    for (const RestoreNameCase& c : cases) {
        SetUp();
        module_.opts().autonomous = c.autonomous;
        module_.opts().archive_name = c.archive_name;
        module_.opts().record_id = c.record_id;
        if (c.with_storage)
            module_.storages().push_back({1, 7, "/storage"});
        EXPECT_EQ(module_.define_restore_directory(), 0) << c.archive_name;
        EXPECT_EQ(module_.opts().tmp_operation_directory, (op_ / c.directory).string());
        EXPECT_TRUE(fs::is_directory(op_ / c.directory)) << c.directory;
        module_.storages().clear();
        TearDown();
    }
}

TEST_F(RestoreDirectory, ArchiveToPatchMustExistAndIsNotCreated)
{
    module_.opts().archive_to_patch = "old";
    EXPECT_EQ(module_.define_restore_directory(), 1);
    EXPECT_EQ(module_.opts().tmp_operation_directory, (op_ / "old.rest").string());
    EXPECT_FALSE(fs::exists(op_ / "old.rest"));
    EXPECT_THAT(log_.text(), HasSubstr("virtual int HxModuleUniversal::define_restore_directory(): catalog "
                                       "'archive to patch' doesn't exist: "));

    module_.opts().tmp_operation_directory = op_.string();
    fs::create_directories(op_ / "old.rest");
    fs::permissions(op_ / "old.rest", fs::owner_all);  // private, as the run makes it
    EXPECT_EQ(module_.define_restore_directory(), 0);
}

// The restore directory is removed with all it holds when the restore ends: a name
// may not lead it out of the operation directory.
TEST_F(RestoreDirectory, NamesWithASlashAreRefused)
{
    const fs::path outside = op_.parent_path() / (op_.filename().string() + "-outside");
    for (const char* record : {"../x", "a/b"}) {
        module_.opts().tmp_operation_directory = op_.string();
        module_.opts().record_id = record;
        EXPECT_EQ(module_.define_restore_directory(), 1) << record;
    }
    module_.opts().record_id.clear();
    module_.opts().tmp_operation_directory = op_.string();
    module_.opts().archive_to_patch = "../" + outside.filename().string();
    fs::create_directories(outside.string() + ".rest");
    EXPECT_EQ(module_.define_restore_directory(), 1);
    fs::remove_all(outside.string() + ".rest");
    EXPECT_EQ(fs::directory_iterator(op_), fs::directory_iterator());
}

}  // namespace
