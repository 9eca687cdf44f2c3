// The task's client-defined storages at start-up of the shipped program: the
// task secret and the encrypted storage file are read for a backup, a restore,
// a deletion and a verification. This module supports no storage type, so a
// task that brings a storage ends at initialisation with 14; a task without
// usable storages runs on.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <string>
#include <vector>

#include "tests/e2e/storage_e2e_support.h"

namespace {

namespace fs = boost::filesystem;
using storage_e2e::contains;

const char kLoad[] = "bool HxModuleUniversal::load_client_defined_storages()";
const char kCantLoad[] = "bool HxModuleUniversal::init(int, char**): Can't load cliend defined storages info";
const char kCantPrepare[] =
    "bool HxModuleUniversal::init(int, char**): can't prepare the module to work with client defined storage";
const char kRefused[] = "int main(int, char**): wrong combination of options";
const char kDeletionRan[] = "The module doesn't support deletion from client defined storage";

using StorageInit = storage_e2e::StorageRun;

struct FileCase {
    const char* name;
    bool secret;
    enum { no_file, encrypted, empty_file, folder } storage;
    const storage_samples::Sample* sample;
    int status;
    std::vector<std::string> logged;
};

void PrintTo(const FileCase& c, std::ostream* out)
{
    *out << c.name;
}

const FileCase kFiles[] = {
    {"LocalDirectoryStorage", true, FileCase::encrypted, &storage_samples::kLocalDirectory, 14,
     {"Found the file of methods: /opt/kelvomar/var/tasks/77.client_defined_storages, size: 64",
      "CLient defined methods of access to the storage: 1",
      "The module doesn't support client defined storage type: 1", kCantPrepare, kRefused}},
    {"DefaultStorage", true, FileCase::encrypted, &storage_samples::kDefaultStorage, 14,
     {"The module doesn't support client defined storage type: 3", kCantPrepare, kRefused}},
    {"MalformedJson", true, FileCase::encrypted, &storage_samples::kMalformedJson, 0,
     {": boost::json: ", "0 methods of access to client defined storage loaded", kDeletionRan}},
    {"JsonTooDeep", true, FileCase::encrypted, &storage_samples::kTooDeep, 0,
     {": boost::json: ", "0 methods of access to client defined storage loaded", kDeletionRan}},
    {"EncryptedUnderAnotherSecret", true, FileCase::encrypted, &storage_samples::kOtherSecret, 0,
     {"0 methods of access to client defined storage loaded", kDeletionRan}},
    {"EmptyStorageFile", true, FileCase::empty_file, nullptr, 0,
     {"size: 0", "0 methods of access to client defined storage loaded", kDeletionRan}},
    {"UnreadableStorageFile", true, FileCase::folder, nullptr, 14, {kCantLoad, kRefused}},
    {"NoStorageFile", true, FileCase::no_file, nullptr, 0, {kDeletionRan}},
    {"NoSecretWithStorage", false, FileCase::encrypted, &storage_samples::kLocalDirectory, 14,
     {std::string(kLoad) + ": task secret file doesn't exist: /opt/kelvomar/var/tasks//task_secret_77", kCantLoad,
      kRefused}},
    {"NoSecretNoStorage", false, FileCase::no_file, nullptr, 14,
     {std::string(kLoad) + ": task secret file doesn't exist: ", kCantLoad, kRefused}},
};

class StorageInitFiles : public storage_e2e::StorageRun, public ::testing::WithParamInterface<FileCase> {};

// A deletion request of the task runs only when the task brings no usable storage.
TEST_P(StorageInitFiles, StorageFileDecidesWhetherTheRunGoesOn)
{
    KEVRA_REQUIRE_SANDBOX();
    const FileCase& c = GetParam();
    if (c.secret) {
        install_secret();
    }
    if (c.storage == FileCase::encrypted) {
        install_storage_file(*c.sample);
    } else if (c.storage == FileCase::empty_file) {
        kevra_test::write_file(storage_e2e::storage_path(), "");
    } else if (c.storage == FileCase::folder) {
        fs::create_directories(storage_e2e::storage_path());
    }

    const auto result = run({"--delete_from_client_defined_storage", "{}", "-T", storage_e2e::kTask});
    EXPECT_EQ(result.exit_status, c.status) << log();
    const std::string text = log();
    for (const std::string& piece : c.logged) {
        EXPECT_TRUE(contains(text, piece)) << "missing: " << piece << "\n" << text;
    }
    if (c.status == 14) {
        EXPECT_FALSE(contains(text, kDeletionRan));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, StorageInitFiles, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

struct OperationCase {
    const char* name;
    std::vector<std::string> args;
};

void PrintTo(const OperationCase& c, std::ostream* out)
{
    *out << c.name;
}

const OperationCase kOperations[] = {
    {"Backup", {"-1", "-b", "web", "-d", "@OPDIR@", "-n", "web_full_1", "-m", "media1", "-T", "77"}},
    {"Restore", {"-r", "5", "-d", "@OPDIR@", "-m", "media1", "-T", "77"}},
    {"Deletion", {"--delete_from_client_defined_storage", "{}", "-T", "77"}},
    {"Verification",
     {"--verify_in_client_defined_storage", "-T", "77", "--esign", R"({"archive_name":"local-directory@1@x"})"}},
};

class StorageInitOperations : public storage_e2e::StorageRun, public ::testing::WithParamInterface<OperationCase> {};

// The storage ends the run before anything of the operation happens: no
// process id line, no engine, nothing in the operation directory.
TEST_P(StorageInitOperations, TaskWithAStorageEndsAtInitialisation)
{
    KEVRA_REQUIRE_SANDBOX();
    install_secret();
    install_storage_file(storage_samples::kLocalDirectory);
    const std::string op_dir = kevra_test::scratch_dir("storage-op");
    std::vector<std::string> args = GetParam().args;
    for (std::string& arg : args) {
        if (arg == "@OPDIR@") {
            arg = op_dir;
        }
    }
    platform_.fixture({"calls", "all", "--clear"});

    const auto result = run(args);
    EXPECT_EQ(result.exit_status, 14) << log();
    EXPECT_FALSE(contains(result.out, "MODULE PID:"));
    EXPECT_FALSE(contains(result.out, "VERIFICATION RESULT:"));
    EXPECT_TRUE(contains(log(), kCantPrepare)) << log();
    EXPECT_TRUE(platform_.calls("all").empty());
    EXPECT_TRUE(fs::is_empty(op_dir));
}

INSTANTIATE_TEST_SUITE_P(Operations, StorageInitOperations, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(StorageInit, WithoutTaskIdNothingIsRead)
{
    install_secret();
    install_storage_file(storage_samples::kLocalDirectory);
    const auto result = run({"--delete_from_client_defined_storage", "{}"});
    EXPECT_EQ(result.exit_status, 0) << log();
    EXPECT_TRUE(contains(log(), "No task id - client defined storages loading skipped")) << log();
    EXPECT_FALSE(contains(log(), "Found the file of methods"));
}

TEST_F(StorageInit, SignatureNeedAnsweredWithoutReadingTheTask)
{
    // Neither the secret nor the storage file is there: the question alone is answered.
    const auto result = run({"--verify_in_client_defined_storage", "--need_esign", "-T", storage_e2e::kTask});
    EXPECT_EQ(result.exit_status, 0) << log();
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(contains(log(), "Check method of access to client defined storage"));
}

TEST_F(StorageInit, EmptySecretMeansNoStorages)
{
    install_secret("\nsecond line\n");
    install_storage_file(storage_samples::kLocalDirectory);
    const auto result = run({"--delete_from_client_defined_storage", "{}", "-T", storage_e2e::kTask});
    EXPECT_EQ(result.exit_status, 0) << log();
    EXPECT_TRUE(contains(log(), std::string(kLoad) + ": task secret is empty")) << log();
    EXPECT_TRUE(contains(log(), kDeletionRan));
}

}  // namespace
