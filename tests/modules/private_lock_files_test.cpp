// Lock files that no other local user can open: what stands at a lock file's
// name (planted by another user, or left by an earlier version with mode 0644)
// is never locked, and a lock directory that others can change is refused.
#include "modules/private_lock_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <memory>
#include <ostream>
#include <string>

#include "tests/support/path_files.h"
#include "tests/support/shared_lock_holder.h"

namespace {

namespace fs = boost::filesystem;
namespace lock_files = kelvomar::module::lock_files;
using kelvomar::untrusted_files::descriptor;

const uid_t kOther = 4242;
const char* const kName = "Kelvomar_MOD_mutex_0123abcd";

struct stat status_of(const fs::path& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        status.st_mode = 0;
    }
    return status;
}

// A folder of the test in TMPDIR (root's, below directories that no one else
// can write to), with the lock directory and a folder outside it for decoys.
// The cases change owners, so they need root.
class LockFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root (owners are changed)";
        }
        base_ = fs::temp_directory_path() / fs::unique_path("kevra-lock-files-%%%%%%%%");
        fs::create_directories(base_);
        ::chmod(base_.c_str(), 0755);
        directory_ = base_ / "locks";
        outside_ = base_ / "outside";
        fs::create_directories(outside_);
        ::chmod(outside_.c_str(), 0700);
    }
    void TearDown() override
    {
        if (!base_.empty()) {
            boost::system::error_code ignored;
            fs::remove_all(base_, ignored);
        }
    }

    // A root-only file outside the lock directory, with content.
    fs::path decoy()
    {
        const fs::path path = outside_ / "decoy";
        kevra_test::write_file(path, "root's own data");
        ::chmod(path.c_str(), 0600);
        return path;
    }

    fs::path base_;
    fs::path directory_;
    fs::path outside_;
};

// ---- What stands at the lock file's name -------------------------------------

enum class plant {
    root_private,     // a lock file of this version
    root_readable,    // left by an earlier version: 0644
    group_readable,   // 0640
    other_owner,      // a file of uid 4242, 0600
    link_to_decoy,    // a symbolic link to a root-only file
    fifo,
    hard_link,        // a second name of a root-only file
    empty_directory,
    full_directory
};

struct PlantCase {
    const char* label;
    plant what;
    const char* why;  // after the path in the reason; empty when it is taken as it is
    bool removable;
};

void PrintTo(const PlantCase& c, std::ostream* out)
{
    *out << c.label;
}

const PlantCase kPlantCases[] = {
    {"RootPrivateFileIsTaken", plant::root_private, "", true},
    {"EarlierVersionsFileIsMadeAnew", plant::root_readable, " has mode 0644: other users may open it", true},
    {"GroupReadableFileIsMadeAnew", plant::group_readable, " has mode 0640: other users may open it", true},
    {"AnotherUsersFileIsMadeAnew", plant::other_owner, " is owned by uid 4242, not by root", true},
    {"LinkIsRemovedAndItsTargetLeft", plant::link_to_decoy, " is a symbolic link", true},
    {"FifoIsRemovedUnopened", plant::fifo, " is a FIFO", true},
    {"HardLinkIsRemovedAndTheOtherNameLeft", plant::hard_link, " has 2 hard links", true},
    {"EmptyDirectoryIsRemoved", plant::empty_directory, " is a directory", true},
    {"DirectoryWithContentIsRefused", plant::full_directory, " is a directory", false},
};

class LockFilePlants : public LockFolder, public ::testing::WithParamInterface<PlantCase> {
protected:
    // Puts the case's entry at `path`; returns the file a link there leads to.
    fs::path put(plant what, const fs::path& path)
    {
        fs::path target;
        switch (what) {
        case plant::root_private:
        case plant::root_readable:
        case plant::group_readable:
        case plant::other_owner:
            kevra_test::write_file(path, "left here");
            ::chmod(path.c_str(), what == plant::root_readable ? 0644 : what == plant::group_readable ? 0640 : 0600);
            if (what == plant::other_owner) {
                EXPECT_EQ(::chown(path.c_str(), kOther, kOther), 0);
            }
            break;
        case plant::link_to_decoy:
            target = decoy();
            fs::create_symlink(target, path);
            break;
        case plant::fifo:
            EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
            break;
        case plant::hard_link:
            target = decoy();
            fs::create_hard_link(target, path);
            break;
        case plant::empty_directory:
        case plant::full_directory:
            fs::create_directory(path);
            if (what == plant::full_directory) {
                kevra_test::write_file(path / "inside", "kept");
            }
            break;
        }
        return target;
    }
};

TEST_P(LockFilePlants, NothingButAPrivateFileOfRootsIsLocked)
{
    const PlantCase& c = GetParam();
    ASSERT_EQ(lock_files::find_lock_file(directory_.string(), "other", nullptr).kind, lock_files::failure::none);
    const fs::path path = directory_ / kName;
    const fs::path target = put(c.what, path);
    const struct stat planted = status_of(path);
    // Keeps the planted entry's inode from being given to the new file.
    const descriptor pinned(::open(path.c_str(), O_PATH | O_NOFOLLOW));
    ASSERT_TRUE(pinned.valid());
    // Another user who could open a planted file holds a shared lock on it.
    std::unique_ptr<kevra_test::SharedLockHolder> holder;
    if (S_ISREG(planted.st_mode) && c.what != plant::root_private) {
        holder = std::make_unique<kevra_test::SharedLockHolder>(path.string(), 0, 30);
        ASSERT_TRUE(holder->holds());
    }

    descriptor fd;
    const lock_files::outcome found = lock_files::find_lock_file(directory_.string(), kName, &fd);

    const std::string why = std::string(c.why).empty() ? std::string() : path.string() + c.why;
    if (!c.removable) {
        EXPECT_EQ(found.kind, lock_files::failure::not_a_lock);
        EXPECT_EQ(found.reason.rfind(why + "; " + path.string() + " can't be removed: ", 0), 0u) << found.reason;
        EXPECT_FALSE(fd.valid());
        EXPECT_EQ(kevra_test::read_file(path / "inside"), "kept");
        return;
    }
    ASSERT_EQ(found.kind, lock_files::failure::none) << found.reason;
    ASSERT_TRUE(fd.valid());
    if (why.empty()) {
        EXPECT_TRUE(found.replaced.empty());
    } else {
        ASSERT_EQ(found.replaced.size(), 1u);
        EXPECT_EQ(found.replaced[0], why);
    }

    const struct stat now = status_of(path);
    struct stat locked {};
    ASSERT_EQ(::fstat(fd.get(), &locked), 0);
    EXPECT_TRUE(S_ISREG(now.st_mode));
    EXPECT_EQ(now.st_mode & 07777, 0600u);
    EXPECT_EQ(now.st_uid, 0u);
    EXPECT_EQ(now.st_nlink, 1u);
    EXPECT_EQ(locked.st_ino, now.st_ino) << "the descriptor is the file at the name";
    EXPECT_EQ(now.st_ino == planted.st_ino, why.empty()) << "only a private file of root's is kept";
    EXPECT_EQ(lock_files::lock_whole_file(fd.get(), false), 1) << "the other user's lock holds nothing";
    if (!target.empty()) {
        EXPECT_EQ(kevra_test::read_file(target), "root's own data");
        const struct stat decoy_status = status_of(target);
        EXPECT_EQ(decoy_status.st_mode & 07777, 0600u);
        EXPECT_EQ(decoy_status.st_uid, 0u);
        EXPECT_EQ(decoy_status.st_nlink, 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LockFilePlants, ::testing::ValuesIn(kPlantCases),
                         [](const ::testing::TestParamInfo<PlantCase>& info) { return info.param.label; });

TEST_F(LockFolder, NewFileIsPrivateWhateverTheMask)
{
    const mode_t mask = ::umask(0);
    descriptor fd;
    const lock_files::outcome found = lock_files::find_lock_file(directory_.string(), kName, &fd);
    ::umask(0377);
    descriptor fd_strict;
    const lock_files::outcome strict = lock_files::find_lock_file(directory_.string(), "strict", &fd_strict);
    ::umask(mask);
    ASSERT_EQ(found.kind, lock_files::failure::none) << found.reason;
    ASSERT_EQ(strict.kind, lock_files::failure::none) << strict.reason;
    EXPECT_EQ(status_of(directory_ / kName).st_mode & 07777, 0600u);
    EXPECT_EQ(status_of(directory_ / "strict").st_mode & 07777, 0600u);
    EXPECT_EQ(lock_files::lock_whole_file(fd_strict.get(), false), 1);
}

// A plant that can't be removed safely without the removal guard is left, and
// so is one when the guard itself is not a file of a run of this program.
TEST_F(LockFolder, GuardThatIsNotTheRunsOwnRemovesNothing)
{
    ASSERT_EQ(lock_files::find_lock_file(directory_.string(), "other", nullptr).kind, lock_files::failure::none);
    const fs::path guard = directory_ / lock_files::removal_guard_name();
    fs::create_symlink(decoy(), guard);
    const fs::path path = directory_ / kName;
    kevra_test::write_file(path, "left here");
    ::chmod(path.c_str(), 0644);

    descriptor fd;
    const lock_files::outcome found = lock_files::find_lock_file(directory_.string(), kName, &fd);
    EXPECT_EQ(found.kind, lock_files::failure::not_a_lock);
    EXPECT_EQ(found.reason, path.string() + " has mode 0644: other users may open it; " + guard.string() +
                                " is a symbolic link")
        << found.reason;
    EXPECT_EQ(kevra_test::read_file(path), "left here");
    EXPECT_EQ(kevra_test::read_file(outside_ / "decoy"), "root's own data");
}

// Another run is removing an entry (it holds the removal guard): nothing is
// removed meanwhile, and after a short wait the run gives up with a reason.
TEST_F(LockFolder, NothingIsRemovedWhileAnotherRunHoldsTheRemovalGuard)
{
    ASSERT_EQ(lock_files::find_lock_file(directory_.string(), "other", nullptr).kind, lock_files::failure::none);
    const fs::path guard = directory_ / lock_files::removal_guard_name();
    kevra_test::write_file(guard, "");
    ::chmod(guard.c_str(), 0600);
    const kevra_test::SharedLockHolder other_run(guard.string(), 0, 30);
    ASSERT_TRUE(other_run.holds());
    const fs::path path = directory_ / kName;
    kevra_test::write_file(path, "left here");
    ::chmod(path.c_str(), 0644);

    descriptor fd;
    const lock_files::outcome found = lock_files::find_lock_file(directory_.string(), kName, &fd);
    EXPECT_EQ(found.kind, lock_files::failure::not_a_lock);
    EXPECT_EQ(found.reason, path.string() + " has mode 0644: other users may open it; " + guard.string() +
                                " stays locked by another process")
        << found.reason;
    EXPECT_EQ(kevra_test::read_file(path), "left here");
}

// ---- The lock directory ------------------------------------------------------

enum class folder { missing, earlier_version, writable_by_all, sticky, group_writable, other_owner, link };

struct FolderCase {
    const char* label;
    folder what;
    bool usable;
};

void PrintTo(const FolderCase& c, std::ostream* out)
{
    *out << c.label;
}

const FolderCase kFolderCases[] = {
    {"MissingIsMadePrivateWithItsParents", folder::missing, true},
    {"EarlierVersionsReadableDirectoryIsUsed", folder::earlier_version, true},
    {"WritableByAllIsRefused", folder::writable_by_all, false},
    {"StickyWritableByAllIsRefused", folder::sticky, false},
    {"GroupWritableIsRefused", folder::group_writable, false},
    {"AnotherUsersIsRefused", folder::other_owner, false},
    {"LinkToAPrivateDirectoryIsRefused", folder::link, false},
};

class LockDirectories : public LockFolder, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(LockDirectories, OnlyOneThatNoOtherUserCanChangeHoldsLockFiles)
{
    const FolderCase& c = GetParam();
    fs::path directory = directory_;
    switch (c.what) {
    case folder::missing:
        directory = base_ / "var" / "locks";
        break;
    case folder::link:
        fs::create_symlink(outside_, directory);
        break;
    default:
        fs::create_directory(directory);
        ::chmod(directory.c_str(), c.what == folder::earlier_version  ? 0755
                                   : c.what == folder::writable_by_all ? 0777
                                   : c.what == folder::sticky          ? 01777
                                   : c.what == folder::group_writable  ? 0775
                                                                       : 0700);
        if (c.what == folder::other_owner) {
            ASSERT_EQ(::chown(directory.c_str(), kOther, kOther), 0);
        }
        break;
    }

    descriptor fd;
    const lock_files::outcome found = lock_files::find_lock_file(directory.string(), kName, &fd);
    if (c.usable) {
        ASSERT_EQ(found.kind, lock_files::failure::none) << found.reason;
        EXPECT_TRUE(fd.valid());
        if (c.what == folder::missing) {
            EXPECT_EQ(status_of(directory).st_mode & 07777, 0700u);
            EXPECT_EQ(status_of(directory.parent_path()).st_mode & 02, 0u);
        }
        return;
    }
    EXPECT_EQ(found.kind, lock_files::failure::directory_unsafe);
    EXPECT_EQ(found.reason.rfind(directory.string(), 0), 0u) << "names the directory: " << found.reason;
    EXPECT_FALSE(fd.valid());
    EXPECT_EQ(status_of(directory / kName).st_mode, 0u) << "nothing is made in it";
    EXPECT_EQ(status_of(outside_ / kName).st_mode, 0u) << "nothing is made where a link leads";
}

INSTANTIATE_TEST_SUITE_P(Cases, LockDirectories, ::testing::ValuesIn(kFolderCases),
                         [](const ::testing::TestParamInfo<FolderCase>& info) { return info.param.label; });

}  // namespace
