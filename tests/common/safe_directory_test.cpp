// Directories that no other local user can change: the check of one
// directory's owner and mode, the walk from "/" with its links and missing
// directories, and the run's own private directories.
#include "common/safe_directory.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <ostream>
#include <string>

namespace {

namespace fs = boost::filesystem;
using namespace kelvomar::safe_directory;

const uid_t kOther = 4242;

struct ModeCase {
    const char* label;
    uid_t uid;
    mode_t mode;
    bool sticky_allowed;
    const char* problem;  // after "/d ", empty when safe
};

const ModeCase kModeCases[] = {
    {"RootPrivate", 0, 0700, true, ""},
    {"RootReadableByAll", 0, 0755, true, ""},
    {"StickyWritableByAll", 0, 01777, true, ""},
    {"StickyGroupWritable", 0, 01770, true, ""},
    {"WritableByAll", 0, 0777, true, "is writable by other users and has no sticky bit"},
    {"WritableByOthersOnly", 0, 0703, true, "is writable by other users and has no sticky bit"},
    {"GroupWritable", 0, 0775, true, "is writable by its group and has no sticky bit"},
    {"OwnedByAnotherUser", kOther, 0700, true, "is owned by uid 4242, not by root"},
    {"OwnedByAnotherUserSticky", kOther, 01777, true, "is owned by uid 4242, not by root"},
    {"ReusedSticky", 0, 01777, false, "is writable by other users"},
    {"ReusedGroupWritableSticky", 0, 01770, false, "is writable by its group"},
    {"ReusedPrivate", 0, 0700, false, ""},
};

void PrintTo(const ModeCase& c, std::ostream* out)
{
    *out << c.label;
}

class DirectoryModes : public ::testing::TestWithParam<ModeCase> {};

TEST_P(DirectoryModes, GiveTheirProblem)
{
    const ModeCase& c = GetParam();
    struct stat status {};
    status.st_uid = c.uid;
    status.st_mode = S_IFDIR | c.mode;
    const std::string expected = std::string(c.problem).empty() ? std::string() : std::string("/d ") + c.problem;
    EXPECT_EQ(directory_problem("/d", status, 0, c.sticky_allowed), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, DirectoryModes, ::testing::ValuesIn(kModeCases),
                         [](const ::testing::TestParamInfo<ModeCase>& info) { return info.param.label; });

// A folder of the test in TMPDIR (root's, below directories that no one else
// can write to); the cases change owners, so they need root.
class SafeDirectoryWalk : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "needs root (owners are changed)";
        }
        base_ = fs::temp_directory_path() / fs::unique_path("kevra-safe-dir-%%%%%%%%");
        fs::create_directories(base_);
        ::chmod(base_.c_str(), 0755);
        const std::string tmp = fs::temp_directory_path().string();
        ASSERT_EQ(operation_directory_problem(tmp), "") << "the tests' TMPDIR itself must be safe";
    }
    void TearDown() override
    {
        if (!base_.empty()) {
            fs::remove_all(base_);
        }
    }
    std::string at(const std::string& name) const { return (base_ / name).string(); }
    void directory(const std::string& name, mode_t mode, uid_t uid = 0)
    {
        fs::create_directories(at(name));
        ASSERT_EQ(::chmod(at(name).c_str(), mode), 0);
        ASSERT_EQ(::chown(at(name).c_str(), uid, uid), 0);
    }
    static mode_t mode_of(const std::string& path)
    {
        struct stat status {};
        return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
    }

    fs::path base_;
};

TEST_F(SafeDirectoryWalk, RefusesAnUnsafeDirectoryAnywhereOnThePath)
{
    directory("open", 0777);
    directory("open/op", 0755);
    directory("theirs", 0755, kOther);
    directory("sticky", 01777);
    directory("sticky/op", 0755);
    EXPECT_EQ(operation_directory_problem(at("open/op")),
              at("open") + " is writable by other users and has no sticky bit");
    EXPECT_EQ(operation_directory_problem(at("open")), at("open") + " is writable by other users and has no sticky bit");
    EXPECT_EQ(operation_directory_problem(at("theirs")), at("theirs") + " is owned by uid 4242, not by root");
    EXPECT_EQ(operation_directory_problem(at("sticky/op")), "");
    EXPECT_EQ(operation_directory_problem(at("sticky")), "");
    // ".." is taken as the kernel takes it, from the directory reached.
    EXPECT_EQ(operation_directory_problem(at("sticky/op/../../open/op")),
              at("open") + " is writable by other users and has no sticky bit");
    EXPECT_EQ(operation_directory_problem(at("missing")), at("missing") + ": it doesn't exist");
}

TEST_F(SafeDirectoryWalk, FollowsOnlyRootsLinksAboveTheDirectory)
{
    directory("real/op", 0755);
    directory("open", 0777);
    fs::create_symlink(at("real"), at("root-link"));
    fs::create_symlink("open", at("link-to-open"));
    fs::create_symlink(at("real"), at("their-link"));
    ASSERT_EQ(::lchown(at("their-link").c_str(), kOther, kOther), 0);
    fs::create_symlink("real/op", at("op-link"));

    EXPECT_EQ(operation_directory_problem(at("root-link/op")), "");
    // The target is checked as well: a link of root's to a directory others can write to.
    EXPECT_EQ(operation_directory_problem(at("link-to-open")), at("link-to-open") + ": a symbolic link stands there");
    EXPECT_EQ(operation_directory_problem(at("link-to-open/.")),
              at("open") + " is writable by other users and has no sticky bit");
    EXPECT_EQ(operation_directory_problem(at("their-link/op")),
              at("their-link") + " is a symbolic link owned by uid 4242, not by root");
    EXPECT_EQ(operation_directory_problem(at("op-link")), at("op-link") + ": a symbolic link stands there");
    fs::create_symlink("loop", at("loop"));
    EXPECT_NE(operation_directory_problem(at("loop/x")), "");
}

TEST_F(SafeDirectoryWalk, MakesMissingDirectoriesPrivateOnlyBelowSafeOnes)
{
    directory("sticky", 01777);
    directory("open", 0777);
    const mode_t mask = ::umask(0);
    bool created = false;
    EXPECT_EQ(make_operation_directory(at("sticky/a/op"), created), "");
    EXPECT_TRUE(created);
    EXPECT_EQ(mode_of(at("sticky/a")), 0700u);
    EXPECT_EQ(mode_of(at("sticky/a/op")), 0700u);
    EXPECT_EQ(make_operation_directory(at("sticky/a/op"), created), "");
    EXPECT_FALSE(created);

    EXPECT_EQ(make_operation_directory(at("open/op"), created),
              at("open") + " is writable by other users and has no sticky bit");
    EXPECT_FALSE(created);
    EXPECT_FALSE(fs::exists(at("open/op"))) << "nothing is made below an unsafe directory";
    ::umask(mask);
}

TEST_F(SafeDirectoryWalk, ReusesOnlyPrivateDirectoriesOfRootsAndLeavesOthersAsTheyAre)
{
    directory("mine", 0755);
    directory("theirs", 0700, kOther);
    directory("shared", 01777);
    std::ofstream(at("theirs/kept")) << "their file\n";
    fs::create_symlink(at("mine"), at("link"));
    const mode_t mask = ::umask(0);
    bool created = true;
    EXPECT_EQ(use_or_make_private_directory(at("mine"), created), "");
    EXPECT_FALSE(created);
    EXPECT_EQ(use_or_make_private_directory(at("theirs"), created), at("theirs") + " is owned by uid 4242, not by root");
    EXPECT_EQ(use_or_make_private_directory(at("shared"), created), at("shared") + " is writable by other users");
    EXPECT_EQ(use_or_make_private_directory(at("link"), created), at("link") + ": a symbolic link stands there");
    EXPECT_EQ(use_or_make_private_directory(at("new"), created), "");
    EXPECT_TRUE(created);
    EXPECT_EQ(mode_of(at("new")), 0700u);
    ::umask(mask);
    EXPECT_TRUE(fs::exists(at("theirs/kept")));
    EXPECT_EQ(mode_of(at("theirs")), 0700u);
}

}  // namespace
