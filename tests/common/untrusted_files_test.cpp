// Untrusted files opened below a base directory without following links, and
// moved or copied through what was opened.
#include "common/untrusted_files.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/path_files.h"

namespace {

namespace fs = boost::filesystem;
namespace uf = kelvomar::untrusted_files;
using kevra_test::read_file;
using kevra_test::write_file;

class UntrustedFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / fs::unique_path("kevra-untrusted-%%%%%%%%");
        base_ = root_ / "base";
        fs::create_directories(base_ / "sub");
        fs::create_directories(root_ / "outside");
        write_file(base_ / "sub" / "plain", "plain data");
        write_file(root_ / "outside" / "secret", "secret");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_, base_;
};

struct OpenCase {
    const char* label;
    std::function<void(const fs::path& base, const fs::path& root)> make;
    std::string relative;
    std::string refusal;  // empty: opened
};

TEST_F(UntrustedFiles, OpensOnlyRegularFilesWithOneLinkReachedWithoutALink)
{
    const std::vector<OpenCase> cases = {
        {"plain file", [](const fs::path&, const fs::path&) {}, "sub/plain", ""},
        {"empty pieces are skipped", [](const fs::path&, const fs::path&) {}, "sub//plain", ""},
        {"absolute link to a file",
         [](const fs::path& b, const fs::path& r) { fs::create_symlink(r / "outside" / "secret", b / "sub" / "f"); },
         "sub/f", "is a symbolic link"},
        {"relative link to a file",
         [](const fs::path& b, const fs::path&) { fs::create_symlink("../../outside/secret", b / "sub" / "f"); },
         "sub/f", "is a symbolic link"},
        {"link to a directory",
         [](const fs::path& b, const fs::path& r) { fs::create_symlink(r / "outside", b / "sub" / "f"); }, "sub/f",
         "is a symbolic link"},
        {"dangling link", [](const fs::path& b, const fs::path&) { fs::create_symlink("nowhere", b / "sub" / "f"); },
         "sub/f", "is a symbolic link"},
        {"through a directory link",
         [](const fs::path& b, const fs::path& r) { fs::create_symlink(r / "outside", b / "via"); }, "via/secret",
         "is reached through the symbolic link "},
        {"through a plain file", [](const fs::path&, const fs::path&) {}, "sub/plain/x", "which is not a directory"},
        {"hard link",
         [](const fs::path& b, const fs::path& r) { fs::create_hard_link(r / "outside" / "secret", b / "sub" / "f"); },
         "sub/f", "has 2 hard links"},
        {"directory", [](const fs::path&, const fs::path&) {}, "sub", "is a directory"},
        {"fifo", [](const fs::path& b, const fs::path&) { ASSERT_EQ(::mkfifo((b / "sub" / "f").c_str(), 0600), 0); },
         "sub/f", "is a FIFO"},
        {"missing", [](const fs::path&, const fs::path&) {}, "sub/none", "doesn't exist"},
        {"missing directory", [](const fs::path&, const fs::path&) {}, "none/plain", "doesn't exist"},
        {"parent piece", [](const fs::path&, const fs::path&) {}, "sub/../../outside/secret",
         "holds the path piece '..'"},
        {"no name", [](const fs::path&, const fs::path&) {}, "/", "names no file"},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.label);
        c.make(base_, root_);
        uf::input_file file;
        std::string refusal;
        const bool opened = uf::open_input_file(base_.string(), c.relative, file, refusal);
        if (c.refusal.empty()) {
            ASSERT_TRUE(opened) << refusal;
            EXPECT_TRUE(file.file.valid());
            EXPECT_EQ(file.name, "plain");
            std::string text, error;
            ASSERT_TRUE(uf::read_whole_file(file.file.get(), text, error)) << error;
            EXPECT_EQ(text, "plain data");
        } else {
            EXPECT_FALSE(opened);
            EXPECT_FALSE(file.file.valid());
            EXPECT_NE(refusal.find(c.refusal), std::string::npos) << refusal;
        }
        fs::remove(base_ / "sub" / "f");
        fs::remove(base_ / "via");
    }
    EXPECT_EQ(read_file(root_ / "outside" / "secret"), "secret");
}

TEST_F(UntrustedFiles, DevicesAreRefusedWithoutBeingOpened)
{
    uf::input_file file;
    std::string refusal;
    EXPECT_FALSE(uf::open_input_file("/dev", "null", file, refusal));
    EXPECT_EQ(refusal, "is a device");
}

TEST_F(UntrustedFiles, DirectoriesBelowTheBaseAreOpenedWithoutFollowingALink)
{
    fs::create_symlink(root_ / "outside", base_ / "via");
    uf::descriptor directory;
    std::string refusal;
    EXPECT_TRUE(uf::open_directory_below(base_.string(), "sub", directory, refusal)) << refusal;
    EXPECT_TRUE(uf::open_directory_below(base_.string(), "", directory, refusal)) << refusal;
    EXPECT_FALSE(uf::open_directory_below(base_.string(), "via", directory, refusal));
    EXPECT_NE(refusal.find("symbolic link"), std::string::npos) << refusal;
    EXPECT_FALSE(uf::open_directory_below(base_.string(), "sub/plain", directory, refusal));
}

// The checked file moves by a rename within one file system; the name it had
// is gone, the reserved name now stands for it.
TEST_F(UntrustedFiles, MoveRenamesTheCheckedFileOverTheReservedName)
{
    uf::input_file file;
    std::string refusal;
    ASSERT_TRUE(uf::open_input_file(base_.string(), "sub/plain", file, refusal)) << refusal;
    uf::descriptor target(::open((root_ / "outside").c_str(), O_RDONLY | O_DIRECTORY));
    std::string name, error;
    uf::descriptor reserved;
    ASSERT_TRUE(uf::create_new_file(target.get(), "plain.restore-", name, reserved, error)) << error;
    EXPECT_EQ(name.rfind("plain.restore-", 0), 0u);
    EXPECT_EQ(name.size(), std::string("plain.restore-").size() + 6);

    ASSERT_EQ(uf::move_input_file(file, target.get(), name, error), uf::move_result::moved) << error;
    EXPECT_FALSE(fs::exists(base_ / "sub" / "plain"));
    EXPECT_EQ(read_file(root_ / "outside" / name), "plain data");
    // The name left behind no longer stands for the file: nothing is removed.
    EXPECT_FALSE(uf::remove_input_file(file, error));
}

// A copy keeps the content and the holes of a sparse file; the original stays
// until it is removed through its checked name.
TEST_F(UntrustedFiles, CopyKeepsContentAndHoles)
{
    const fs::path sparse = base_ / "sub" / "sparse";
    {
        uf::descriptor out(::open(sparse.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600));
        ASSERT_TRUE(out.valid());
        ASSERT_EQ(::pwrite(out.get(), "head", 4, 0), 4);
        ASSERT_EQ(::pwrite(out.get(), "tail", 4, 8 << 20), 4);
        ASSERT_EQ(::ftruncate(out.get(), (8 << 20) + 4 + (3 << 20)), 0);
    }
    uf::input_file file;
    std::string refusal, name, error;
    ASSERT_TRUE(uf::open_input_file(base_.string(), "sub/sparse", file, refusal)) << refusal;
    uf::descriptor target(::open((root_ / "outside").c_str(), O_RDONLY | O_DIRECTORY));
    uf::descriptor copy;
    ASSERT_TRUE(uf::create_new_file(target.get(), "sparse.", name, copy, error)) << error;
    ASSERT_TRUE(uf::copy_file_content(file.file.get(), copy.get(), error)) << error;

    EXPECT_EQ(read_file(root_ / "outside" / name), read_file(sparse));
    struct stat original {}, copied {};
    ASSERT_EQ(::stat(sparse.c_str(), &original), 0);
    ASSERT_EQ(::stat((root_ / "outside" / name).c_str(), &copied), 0);
    EXPECT_EQ(copied.st_size, original.st_size);
    EXPECT_LT(copied.st_blocks * 512, copied.st_size / 2);

    ASSERT_TRUE(uf::remove_input_file(file, error)) << error;
    EXPECT_FALSE(fs::exists(sparse));
}

// Each new file is new, empty and private, under a name of its own.
TEST_F(UntrustedFiles, NewFilesAreCreatedNew)
{
    uf::descriptor target(::open((root_ / "outside").c_str(), O_RDONLY | O_DIRECTORY));
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string name, error;
        uf::descriptor file;
        ASSERT_TRUE(uf::create_new_file(target.get(), "n.", name, file, error)) << error;
        names.push_back(name);
        struct stat status {};
        ASSERT_EQ(::fstat(file.get(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
        EXPECT_EQ(status.st_size, 0);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    EXPECT_EQ(read_file(root_ / "outside" / "secret"), "secret");
}

// Whatever mode a file came with, it ends with exactly the owner and mode
// chosen for it, set through its descriptor: no set-ID, sticky, group or world bit stays.
TEST_F(UntrustedFiles, OwnerAndModeAreSetExactlyThroughTheDescriptor)
{
    struct ModeCase {
        mode_t before;
        mode_t wanted;
    };
    const std::vector<ModeCase> cases = {{0666, 0600}, {02664, 0600}, {04755, 0600}, {06777, 0600},
                                         {01777, 0600}, {04755, 0640}};
    // Another owner than this process's own needs root; the run's own owner always works.
    const bool root = ::geteuid() == 0;
    const uid_t other_uid = root ? 54321 : ::geteuid();
    const gid_t other_gid = root ? 54322 : ::getegid();
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.before) + " -> " + std::to_string(c.wanted));
        const fs::path path = base_ / "sub" / "handed";
        write_file(path, "handed data");
        ASSERT_EQ(::chmod(path.c_str(), c.before), 0);
        uf::input_file file;
        std::string refusal, error;
        ASSERT_TRUE(uf::open_input_file(base_.string(), "sub/handed", file, refusal)) << refusal;
        ASSERT_TRUE(uf::set_owner_and_mode(file.file.get(), other_uid, other_gid, c.wanted, error)) << error;
        struct stat status {};
        ASSERT_EQ(::lstat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode, S_IFREG | c.wanted);
        EXPECT_EQ(status.st_uid, other_uid);
        EXPECT_EQ(status.st_gid, other_gid);

        // And back to the run's own, private.
        ASSERT_TRUE(uf::keep_private(file.file.get(), error)) << error;
        ASSERT_EQ(::lstat(path.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode, static_cast<mode_t>(S_IFREG | 0600));
        EXPECT_EQ(status.st_uid, ::geteuid());
        EXPECT_EQ(status.st_gid, ::getegid());
        EXPECT_EQ(read_file(path), "handed data");
        fs::remove(path);
    }
}

// A user or group that the system does not know is refused, and the file keeps its mode.
TEST_F(UntrustedFiles, GivingToAnUnknownUserChangesNothing)
{
    const fs::path path = base_ / "sub" / "plain";
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    uf::input_file file;
    std::string refusal, error;
    ASSERT_TRUE(uf::open_input_file(base_.string(), "sub/plain", file, refusal)) << refusal;
    EXPECT_FALSE(uf::give_file_to(file.file.get(), "no-such-user-kevra", "no-such-group-kevra", 0600, error));
    EXPECT_EQ(error, "no user no-such-user-kevra");
    struct stat status {};
    ASSERT_EQ(::lstat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0644u);
}

}  // namespace
