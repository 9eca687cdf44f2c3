// Directories that no other local user can change: the check of one
// directory's owner and mode, the walk from "/" with its links and missing
// directories, and the run's own private directories.
#include "common/safe_directory.h"

#include "tests/support/access_acl.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <boost/filesystem.hpp>

#include <cstring>
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
    directory_rule rule;
    bool acl;             // an access control list beyond the mode bits (the group bits are its mask)
    const char* problem;  // after "/d ", empty when safe
};

const directory_rule kOperation = directory_rule::operation;
const directory_rule kReused = directory_rule::reused;

const ModeCase kModeCases[] = {
    {"RootPrivate", 0, 0700, kOperation, false, ""},
    {"RootReadableByAll", 0, 0755, kOperation, false, ""},
    {"StickyWritableByAll", 0, 01777, kOperation, false, ""},
    {"StickyGroupWritable", 0, 01770, kOperation, false, ""},
    {"WritableByAll", 0, 0777, kOperation, false, "is writable by other users and has no sticky bit"},
    {"WritableByOthersOnly", 0, 0703, kOperation, false, "is writable by other users and has no sticky bit"},
    {"GroupWritable", 0, 0775, kOperation, false, "is writable by its group and has no sticky bit"},
    {"AclLettingOthersWrite", 0, 0775, kOperation, true,
     "has an access control list that lets other users write to it and has no sticky bit"},
    {"AclLettingOthersRead", 0, 0755, kOperation, true, ""},
    {"StickyWithAclLettingOthersWrite", 0, 01770, kOperation, true, ""},
    {"OwnedByAnotherUser", kOther, 0700, kOperation, false, "is owned by uid 4242, not by root"},
    {"OwnedByAnotherUserSticky", kOther, 01777, kOperation, false, "is owned by uid 4242, not by root"},
    {"ReusedPrivate", 0, 0700, kReused, false, ""},
    {"ReusedPrivateSticky", 0, 01700, kReused, false, ""},
    {"ReusedWithAclMaskingEveryoneOut", 0, 0700, kReused, true, ""},
    {"ReusedSticky", 0, 01777, kReused, false, "is writable by other users"},
    {"ReusedGroupWritableSticky", 0, 01770, kReused, false, "is writable by its group"},
    {"ReusedReadableByAll", 0, 0755, kReused, false, "can be listed by other users"},
    {"ReusedEnterableByOthers", 0, 0701, kReused, false, "can be entered by other users"},
    {"ReusedReadableByItsGroup", 0, 0750, kReused, false, "can be listed by its group"},
    {"ReusedEnterableByItsGroup", 0, 0710, kReused, false, "can be entered by its group"},
    {"ReusedWithAclForAnotherUser", 0, 0750, kReused, true,
     "has an access control list that gives other users access"},
    {"ReusedWithAclLettingOthersWrite", 0, 0770, kReused, true,
     "has an access control list that gives other users access"},
    {"ReusedWritableByAllWithAcl", 0, 0777, kReused, true, "is writable by other users"},
    {"ReusedOwnedByAnotherUser", kOther, 0700, kReused, false, "is owned by uid 4242, not by root"},
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
    EXPECT_EQ(directory_problem("/d", status, 0, c.rule, c.acl), expected);
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
    directory("mine", 0700);
    directory("listable", 0755);
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
    EXPECT_EQ(use_or_make_private_directory(at("listable"), created), at("listable") + " can be listed by other users");
    EXPECT_EQ(mode_of(at("listable")), 0755u) << "a refused directory is left as it is";
    EXPECT_EQ(use_or_make_private_directory(at("link"), created), at("link") + ": a symbolic link stands there");
    EXPECT_EQ(use_or_make_private_directory(at("new"), created), "");
    EXPECT_TRUE(created);
    EXPECT_EQ(mode_of(at("new")), 0700u);
    ::umask(mask);
    EXPECT_TRUE(fs::exists(at("theirs/kept")));
    EXPECT_EQ(mode_of(at("theirs")), 0700u);
}

TEST_F(SafeDirectoryWalk, NamesAnAccessControlListForAnotherUser)
{
    directory("op", 0700);
    directory("reused", 0700);
    if (!kevra_test::give_acl_entry(at("op"), kOther, 7) || !kevra_test::give_acl_entry(at("reused"), kOther, 5)) {
        GTEST_SKIP() << "the file system keeps no access control lists: " << std::strerror(errno);
    }
    EXPECT_TRUE(has_access_acl(at("op")));
    EXPECT_FALSE(has_access_acl(base_.string()));
    EXPECT_EQ(mode_of(at("op")), 0770u) << "the group bits show the list's mask";
    EXPECT_EQ(operation_directory_problem(at("op")),
              at("op") + " has an access control list that lets other users write to it and has no sticky bit");
    bool created = true;
    EXPECT_EQ(use_or_make_private_directory(at("reused"), created),
              at("reused") + " has an access control list that gives other users access");
    EXPECT_FALSE(created);
    // With the mask taken away the list grants nothing: private again.
    ASSERT_EQ(::chmod(at("reused").c_str(), 0700), 0);
    EXPECT_TRUE(has_access_acl(at("reused")));
    EXPECT_EQ(use_or_make_private_directory(at("reused"), created), "");
}

TEST_F(SafeDirectoryWalk, AdvisesTheRealPathForAnOperationDirectoryGivenAsALink)
{
    directory("real", 0755);
    fs::create_symlink(at("real"), at("link"));
    EXPECT_EQ(operation_directory_problem(at("link")), at("link") + ": a symbolic link stands there");
    EXPECT_EQ(operation_directory_advice(at("link")),
              "give the operation directory by its real path, not through a symbolic link");
    EXPECT_EQ(operation_directory_advice(at("link") + "/"), operation_directory_advice(at("link")));
    EXPECT_EQ(operation_directory_advice(at("real")), operation_directory_advice());
}

}  // namespace
