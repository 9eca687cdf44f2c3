// Preparing a run for the task's client-defined storages: which storage is
// chosen, and how the operation directory, autonomous mode, remote host and
// archive names change for it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "modules/hx_module_operations.h"
#include "tests/modules/module_test_support.h"

namespace {

namespace fs = boost::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using Storage = HxModuleUniversal::ClientDefinedStorageInfo;

const std::string kPrepare = "bool HxModuleUniversal::client_defined_storage_prepare()";

// A module that supports the storage types a test names.
class StorageModule : public module_test::TestModule {
public:
    std::set<int> supported;
    std::vector<int> asked;

    bool check_supported_client_defined_storage(int type) override
    {
        asked.push_back(type);
        return supported.count(type) > 0;
    }
    std::vector<Storage>& storages() { return client_defined_storages_; }
    int storage_type() const { return storage_type_; }
    int storage_id() const { return storage_id_; }
};

Storage storage(int type, int id, const std::string& value = std::string())
{
    Storage info;
    info.type = type;
    info.id = id;
    info.value = value;
    return info;
}

class StoragePrepare : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / fs::unique_path("kevra-storage-prepare-%%%%%%%%");
        store_ = (root_ / "store").string();
        fs::create_directories(store_);
        module_.supported = {1, 3};
        module_.opts().autonomous_supported = true;
        module_.opts().operation = op_backup;
        module_.opts().tmp_operation_directory = "/var/tmp/op";
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
    std::string store_;
    StorageModule module_;
    module_test::LogCapture log_;
};

TEST_F(StoragePrepare, NoStorageChangesNothing)
{
    EXPECT_TRUE(module_.client_defined_storage_prepare());
    EXPECT_THAT(log_.text(), HasSubstr(kPrepare + "No client defined storage"));
    EXPECT_FALSE(module_.opts().autonomous);
    EXPECT_EQ(module_.opts().tmp_operation_directory, "/var/tmp/op");
}

TEST_F(StoragePrepare, BackupIntoALocalDirectory)
{
    module_.storages() = {storage(1, 12, store_)};
    module_.opts().remote_host = "backup-host";
    module_.opts().reference_snapshot = "local-directory@12@web_full_1.snap";
    ASSERT_TRUE(module_.client_defined_storage_prepare()) << log_.text();
    EXPECT_EQ(module_.opts().tmp_operation_directory, store_);
    EXPECT_TRUE(module_.opts().autonomous);
    EXPECT_EQ(module_.opts().remote_host, "");
    EXPECT_EQ(module_.opts().reference_snapshot, "web_full_1.snap");
    EXPECT_EQ(module_.storage_type(), 1);
    EXPECT_EQ(module_.storage_id(), 12);
    EXPECT_THAT(log_.text(), HasSubstr("Use client defined storage 'local-directory'@" + store_));
    EXPECT_THAT(log_.text(), HasSubstr("Unable to use remote backup host while you use client defined storage"));
    EXPECT_THAT(log_.text(), HasSubstr("Rename reference snapshot to: web_full_1.snap"));
}

TEST_F(StoragePrepare, PlainReferenceSnapshotStaysUnchanged)
{
    module_.storages() = {storage(1, 12, store_)};
    module_.opts().reference_snapshot = "/var/tmp/web_full_1.snap";
    ASSERT_TRUE(module_.client_defined_storage_prepare());
    EXPECT_EQ(module_.opts().reference_snapshot, "/var/tmp/web_full_1.snap");
    EXPECT_THAT(log_.text(), Not(HasSubstr("Rename")));
}

TEST_F(StoragePrepare, RestoreKeepsTheOperationDirectoryAndCutsTheMetaFile)
{
    module_.opts().operation = op_restore;
    module_.opts().meta_file = "local-directory@12@web_full_1.snap";
    module_.storages() = {storage(1, 12, store_)};
    ASSERT_TRUE(module_.client_defined_storage_prepare());
    EXPECT_EQ(module_.opts().tmp_operation_directory, "/var/tmp/op");
    EXPECT_EQ(module_.opts().meta_file, "web_full_1.snap");
    EXPECT_TRUE(module_.opts().autonomous);
    EXPECT_THAT(log_.text(), HasSubstr("Rename snapshot to: web_full_1.snap"));
}

TEST_F(StoragePrepare, DeletionAndVerificationWorkInTheStorageDirectory)
{
    for (const int operation : {op_delete_from_client_defined_storage, op_verify_in_client_defined_storage}) {
        StorageModule module;
        module.supported = {1};
        module.opts().autonomous_supported = true;
        module.opts().operation = operation;
        module.opts().meta_file = "local-directory@12@web_full_1.snap";
        module.storages() = {storage(1, 12, store_)};
        ASSERT_TRUE(module.client_defined_storage_prepare()) << operation;
        EXPECT_EQ(module.opts().tmp_operation_directory, store_);
        EXPECT_EQ(module.opts().meta_file, "local-directory@12@web_full_1.snap");
        EXPECT_TRUE(module.opts().autonomous);
    }
}

TEST_F(StoragePrepare, UnusableDirectoriesMoveOnToTheNextRecord)
{
    const std::string file = (root_ / "a-file").string();
    std::ofstream(file) << "x";
    module_.storages() = {storage(1, 1, (root_ / "missing").string()), storage(1, 2, file), storage(1, 3, store_)};
    ASSERT_TRUE(module_.client_defined_storage_prepare());
    EXPECT_EQ(module_.opts().tmp_operation_directory, store_);
    EXPECT_EQ(module_.storage_id(), 3);
    EXPECT_THAT(log_.text(), HasSubstr((root_ / "missing").string() + " doen't exist"));
    EXPECT_THAT(log_.text(), HasSubstr(file + " is not a directory"));
}

TEST_F(StoragePrepare, NoUsableDirectoryFailsKeepingTheLastRecordsIds)
{
    module_.storages() = {storage(1, 1, (root_ / "gone1").string()), storage(1, 2, (root_ / "gone2").string())};
    EXPECT_FALSE(module_.client_defined_storage_prepare());
    EXPECT_THAT(log_.text(), HasSubstr("There is no good client defined storage"));
    EXPECT_EQ(module_.storage_type(), 1);
    EXPECT_EQ(module_.storage_id(), 2);
    EXPECT_EQ(module_.opts().tmp_operation_directory, "/var/tmp/op");
    EXPECT_FALSE(module_.opts().autonomous);
}

TEST_F(StoragePrepare, StopsAtTheFirstUnsupportedType)
{
    module_.supported = {3};
    module_.storages() = {storage(1, 1, store_), storage(3, 2)};
    EXPECT_FALSE(module_.client_defined_storage_prepare());
    EXPECT_EQ(module_.asked, std::vector<int>{1});
    EXPECT_THAT(log_.text(), HasSubstr("The module doesn't support client defined storage type: 1"));
    EXPECT_EQ(module_.storage_type(), 0);
    EXPECT_FALSE(module_.opts().autonomous);
}

TEST_F(StoragePrepare, BaseModuleSupportsNoType)
{
    module_test::TestModule base;
    for (const int type : {1, 2, 3}) {
        EXPECT_FALSE(base.check_supported_client_defined_storage(type)) << type;
    }
}

TEST_F(StoragePrepare, LocalDirectoryNeedsAutonomousSupport)
{
    module_.opts().autonomous_supported = false;
    module_.storages() = {storage(1, 1, store_)};
    EXPECT_FALSE(module_.client_defined_storage_prepare());
    EXPECT_THAT(log_.text(), HasSubstr("To use client defined storage the module MUST support autonomous mode"));
    EXPECT_FALSE(module_.opts().autonomous);
}

TEST_F(StoragePrepare, DefaultStorageMakesTheRunAutonomous)
{
    module_.storages() = {storage(3, 9)};
    ASSERT_TRUE(module_.client_defined_storage_prepare());
    EXPECT_TRUE(module_.opts().autonomous);
    EXPECT_EQ(module_.opts().tmp_operation_directory, "/var/tmp/op");
    EXPECT_EQ(module_.storage_type(), 3);
    EXPECT_EQ(module_.storage_id(), 9);
    EXPECT_THAT(log_.text(), HasSubstr(kPrepare + " Using module default storage."));
}

TEST_F(StoragePrepare, S3IsRefusedEvenWhenSupported)
{
    module_.supported = {2};
    module_.storages() = {storage(2, 4, R"({"bucket":"b"})")};
    EXPECT_FALSE(module_.client_defined_storage_prepare());
    EXPECT_THAT(log_.text(), HasSubstr(kPrepare + ": unsupported client defined storage type: 2"));
}

TEST_F(StoragePrepare, OtherOperationsRefusedForALocalDirectory)
{
    module_.opts().operation = op_create_replica;
    module_.storages() = {storage(1, 1, store_)};
    EXPECT_FALSE(module_.client_defined_storage_prepare());
    EXPECT_THAT(log_.text(), HasSubstr(kPrepare + ", line: 960: unsupported operation: 12"));
}

}  // namespace
