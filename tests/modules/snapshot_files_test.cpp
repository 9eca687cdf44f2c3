// Packing the snapshot directory into the snapshot file and unpacking it again.
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"

#include "modules/hx_module_operations.h"
#include "tests/support/path_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using kevra_test::read_file;
using kevra_test::write_file;

namespace fs = boost::filesystem;
using engine_test::EngineTestModule;
using ::testing::HasSubstr;

// Every regular file below `root`, by its path relative to it, with its content.
std::map<std::string, std::string> tree(const fs::path& root)
{
    std::map<std::string, std::string> files;
    for (fs::recursive_directory_iterator it(root), end; it != end; ++it)
        if (fs::is_regular_file(it->path()))
            files[fs::relative(it->path(), root).string()] = read_file(it->path());
    return files;
}

// Two operation directories: one backs up, the other unpacks its snapshot file.
class SnapshotFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Cases that start afresh within one test call SetUp again: drop the last folder.
        if (!root_.empty()) fs::remove_all(root_);
        root_ = fs::temp_directory_path() / fs::unique_path("kevra-snapshot-%%%%%%%%");
        backup_dir_ = root_ / "backup op";
        restore_dir_ = root_ / "restore op";
        fs::create_directories(backup_dir_);
        fs::create_directories(restore_dir_);
        backup_.opts().tmp_operation_directory = backup_dir_.string();
        backup_.opts().archive_name = "arch1";
        unpack_.opts().tmp_operation_directory = restore_dir_.string();
    }
    void TearDown() override { fs::remove_all(root_); }

    // Packs a snapshot directory holding a meta file and the module's files.
    fs::path pack(const std::string& archive_name = "arch1")
    {
        backup_.opts().archive_name = archive_name;
        const fs::path dir = backup_.snapshot_directory_path();
        fs::create_directories(dir);
        write_file(backup_.meta_filename(), "meta of " + archive_name);
        write_file(dir / "template_image_ids_marker", "");
        write_file(dir / "vda web.xml", "<IMAGE><ID>3</ID></IMAGE>\n");
        EXPECT_EQ(backup_.pack_snapshot_file(), 0);
        return backup_.snapshot_filename();
    }

    engine_test::LogCapture log_;
    fs::path root_, backup_dir_, restore_dir_;
    EngineTestModule backup_;
    EngineTestModule unpack_;
};

TEST_F(SnapshotFiles, RoundTripInServerModeDeletesTheSnapshotFile)
{
    const fs::path file = pack();
    ASSERT_TRUE(fs::exists(file));
    const auto packed = tree(backup_.snapshot_directory_path());

    ASSERT_EQ(unpack_.unpack_snapshot_file(file.string()), 0);
    const fs::path unpacked = restore_dir_ / "arch1.snap_dir";
    EXPECT_EQ(unpack_.reference_directory(), unpacked.string());
    EXPECT_EQ(tree(unpacked), packed);
    EXPECT_EQ(unpack_.opts().snapshot_meta_file, (unpacked / "arch1.meta").string());
    EXPECT_FALSE(fs::exists(file));
    EXPECT_THAT(log_.text(), HasSubstr("Removing obsolete snapshot file: " + file.string()));
}

TEST_F(SnapshotFiles, AutonomousModeKeepsTheSnapshotFile)
{
    const fs::path file = pack();
    unpack_.opts().autonomous = true;
    ASSERT_EQ(unpack_.unpack_snapshot_file(file.string()), 0);
    EXPECT_TRUE(fs::exists(file));
}

TEST_F(SnapshotFiles, AnOlderDirectoryOfTheSameNameIsReplaced)
{
    const fs::path file = pack();
    const fs::path stale = restore_dir_ / "arch1.snap_dir";
    fs::create_directories(stale / "sub");
    fs::permissions(stale, fs::owner_all);  // private, as a run makes it
    write_file(stale / "stale.meta", "old");
    ASSERT_EQ(unpack_.unpack_snapshot_file(file.string()), 0);
    EXPECT_FALSE(fs::exists(stale / "stale.meta"));
    EXPECT_FALSE(fs::exists(stale / "sub"));
    EXPECT_THAT(log_.text(), HasSubstr(": Removing already existing directory " + stale.string()));
}

TEST_F(SnapshotFiles, PackStoresTheContentsWithoutTheDirectoryItself)
{
    const fs::path file = pack();
    std::string listing;
    FILE* pipe = ::popen(("/bin/tar tzf '" + file.string() + "' | sort").c_str(), "r");
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        listing += buffer;
    ::pclose(pipe);
    EXPECT_EQ(listing, "./\n./arch1.meta\n./template_image_ids_marker\n./vda web.xml\n");
}

TEST_F(SnapshotFiles, PackFailsWithoutTheSnapshotDirectory)
{
    EXPECT_EQ(backup_.pack_snapshot_file(), 12);
    EXPECT_THAT(log_.text(), HasSubstr("Unable to pack snapshot file: "));
    EXPECT_THAT(log_.text(), HasSubstr("int HxModuleUniversal::pack_snapshot_file() const: command: 'cd '"));
}

TEST_F(SnapshotFiles, MetaFileIsTakenAsItIs)
{
    unpack_.reference_directory() = "/kept";
    EXPECT_EQ(unpack_.unpack_snapshot_file("/x/a.meta"), 0);
    EXPECT_EQ(unpack_.opts().snapshot_meta_file, "/x/a.meta");
    EXPECT_EQ(unpack_.reference_directory(), "/kept");
}

struct RefusalCase {
    const char* name;
    std::function<std::string(const fs::path& root)> make;  // returns the file to unpack
    const char* logged;
};

TEST_F(SnapshotFiles, UnpackRefusals)
{
    const std::vector<RefusalCase> cases = {
        {"other extension", [](const fs::path&) { return std::string("/x/a.tar"); },
         "Invalid snapshot file extension: \"/x/a.tar\""},
        {"no extension", [](const fs::path&) { return std::string("/x/snapshot"); },
         "Invalid snapshot file extension: \"/x/snapshot\""},
        // Of the two backslashes the quoting writes, the first would read as an escape in the record: it is doubled.
        {"quoted in the message", [](const fs::path&) { return std::string("/x/a\"b\\c"); },
         "Invalid snapshot file extension: \"/x/a\\\"b\\\\\\c\""},
        {"missing snapshot file", [](const fs::path& r) { return (r / "none.snap").string(); },
         "int HxModuleUniversal::unpack_snapshot_file(const std::string&): the snapshot file "},
        {"not a tar archive",
         [](const fs::path& r) {
             write_file(r / "junk.snap", "not gzip");
             return (r / "junk.snap").string();
         },
         "' returned code: 2 result: "},
        {"no meta file at the top level",
         [](const fs::path& r) {
             fs::create_directories(r / "src" / "deep");
             write_file(r / "src" / "deep" / "x.meta", "m");
             write_file(r / "src" / "a.xml", "x");
             std::system(("/bin/tar czf '" + (r / "nometa.snap").string() + "' -C '" + (r / "src").string() +
                          "' .")
                             .c_str());
             return (r / "nometa.snap").string();
         },
         "int HxModuleUniversal::unpack_snapshot_file(const std::string&)Snapshot doesn't contain any metafile!"},
    };
    for (const RefusalCase& c : cases) {
        SetUp();
        const std::string file = c.make(root_);
        EXPECT_EQ(unpack_.unpack_snapshot_file(file), 12) << c.name;
        EXPECT_THAT(log_.text(), HasSubstr(c.logged)) << c.name;
        TearDown();
    }
}

TEST_F(SnapshotFiles, NoMetaFileIsReportedAfterTheFileWasDeleted)
{
    fs::create_directories(root_ / "src");
    write_file(root_ / "src" / "a.xml", "x");
    const fs::path file = root_ / "nometa.snap";
    ASSERT_EQ(std::system(("/bin/tar czf '" + file.string() + "' -C '" + (root_ / "src").string() + "' .").c_str()),
              0);
    EXPECT_EQ(unpack_.unpack_snapshot_file(file.string()), 12);
    EXPECT_FALSE(fs::exists(file));
}

// Deleting or verifying a stored backup: the snapshot file stays, and nothing is
// written into the directory that holds it.
TEST_F(SnapshotFiles, StoredBackupOperationsUnpackIntoAPrivateFolder)
{
    for (int operation : {op_delete_from_client_defined_storage, op_verify_in_client_defined_storage}) {
        SetUp();
        const fs::path file = pack();
        const fs::path sentinel = backup_dir_ / "arch1.snap_dir" / "keep.me";
        write_file(sentinel, "stored data");
        backup_.opts().operation = operation;
        backup_.opts().autonomous = false;
        ASSERT_EQ(backup_.unpack_snapshot_file(file.string()), 0) << operation;
        EXPECT_TRUE(fs::exists(file)) << operation;
        EXPECT_TRUE(fs::exists(sentinel)) << operation;
        const fs::path folder = backup_.reference_directory();
        EXPECT_NE(folder.parent_path(), backup_dir_);
        EXPECT_EQ(read_file(backup_.opts().snapshot_meta_file), "meta of arch1");
        EXPECT_EQ(fs::path(backup_.opts().snapshot_meta_file).parent_path(), folder);
        TearDown();
    }
}

// Names that the shell would read: the round trip still works and nothing runs.
TEST_F(SnapshotFiles, HostileNamesRoundTrip)
{
    const std::string names[] = {"a b", "it's", "x;touch pwned", "$(touch pwned)", "`touch pwned`", "new\nline",
                                 "tab\tbed", "-rf"};
    for (const std::string& name : names) {
        SetUp();
        const fs::path file = pack(name);
        ASSERT_TRUE(fs::exists(file)) << name;
        ASSERT_EQ(unpack_.unpack_snapshot_file(file.string()), 0) << name;
        const fs::path unpacked = restore_dir_ / (name + ".snap_dir");
        EXPECT_EQ(unpack_.reference_directory(), unpacked.string());
        EXPECT_EQ(read_file(unpacked / (name + ".meta")), "meta of " + name);
        EXPECT_FALSE(fs::exists("pwned"));
        EXPECT_FALSE(fs::exists(backup_dir_ / "pwned"));
        TearDown();
    }
}

}  // namespace
