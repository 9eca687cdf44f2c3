// The members of a snapshot file: tar's two listings read into members, the
// rule which may be unpacked, and unpacking refused before anything is made.
#include "modules/snapshot_members.h"

#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"
#include "tests/support/path_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

namespace fs = boost::filesystem;
using kelvomar::module::read_snapshot_listing;
using kelvomar::module::snapshot_member;
using kelvomar::module::snapshot_member_refusal;
using ::testing::HasSubstr;

const char kTime[] = " 0/0               3 2026-12-11 00:00:50 ";

TEST(SnapshotListing, PairsTheTwoListingsLineByLine)
{
    const std::string names = "./\n./a.meta\n./sp ace -> x\n./sl\n./h\n./nl\\nname\n";
    const std::string long_listing = std::string("drwxr-xr-x") + kTime + "./\n" + "-rw-r--r--" + kTime + "./a.meta\n" +
                                     "-rw-r--r--" + kTime + "./sp ace -> x\n" + "lrwxrwxrwx" + kTime +
                                     "./sl -> /etc/passwd\n" + "hrw-r--r--" + kTime + "./h link to ./a.meta\n" +
                                     "-rw-r--r--" + kTime + " ./nl\\nname\n";
    std::vector<snapshot_member> members;
    ASSERT_TRUE(read_snapshot_listing(names, long_listing, members));
    ASSERT_EQ(members.size(), 6u);
    const std::string kinds = {members[0].kind, members[1].kind, members[2].kind,
                               members[3].kind, members[4].kind, members[5].kind};
    EXPECT_EQ(kinds, "d--lh-");
    EXPECT_EQ(members[2].name, "./sp ace -> x");
    EXPECT_EQ(members[5].name, "./nl\\nname");
    EXPECT_TRUE(read_snapshot_listing("", "", members));
    EXPECT_TRUE(members.empty());
}

TEST(SnapshotListing, ListingsThatDoNotPairUpAreRefused)
{
    const std::string file = std::string("-rw-r--r--") + kTime + "./a.meta\n";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"./a.meta\n./b\n", file},                       // another number of lines
        {"./other\n", file},                             // the line names another member
        {"\n", file},                                    // an empty name
        {"./a.meta\n", "\n"},                            // an empty long line
        {"./a.meta\n", "-./a.meta\n"},                   // no blank before the name
        {"./a.meta\n./a.meta\n", file + file.substr(0, 5) + "\n"},
    };
    for (const auto& c : cases) {
        std::vector<snapshot_member> members = {{'-', "kept"}};
        EXPECT_FALSE(read_snapshot_listing(c.first, c.second, members)) << c.first << "|" << c.second;
        ASSERT_EQ(members.size(), 1u);
        EXPECT_EQ(members[0].name, "kept");
    }
}

TEST(SnapshotListing, OnlyPlainFilesAndDirectoriesInsideTheFolderMayBeUnpacked)
{
    const std::vector<std::pair<snapshot_member, std::string>> cases = {
        {{'-', "./a.meta"}, ""},
        {{'d', "./sub/"}, ""},
        {{'-', "./a..b/c.."}, ""},
        {{'-', "a"}, ""},
        {{'l', "./sl"}, "is a symbolic link"},
        {{'h', "./h"}, "is a hard link"},
        {{'c', "./null"}, "is a device"},
        {{'b', "./sda"}, "is a device"},
        {{'p', "./ff"}, "is a FIFO"},
        {{'s', "./sock"}, "is a socket"},
        {{'V', "label"}, "is not a plain file or directory (kind 'V')"},
        {{'-', "/tmp/abs.meta"}, "has an absolute name"},
        {{'-', "./../x.meta"}, "has the path piece '..' in its name"},
        {{'d', "a/../../"}, "has the path piece '..' in its name"},
        {{'-', ".."}, "has the path piece '..' in its name"},
        {{'-', ""}, "has an empty name"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(snapshot_member_refusal(c.first), c.second) << c.first.name;
    }
}

// Real snapshot files: one with a member that is refused is not unpacked at
// all, the file it links to stays as it is, and the run goes no further.
class SnapshotMemberRefusals : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = fs::temp_directory_path() / fs::unique_path("kevra-members-%%%%%%%%");
        fs::create_directories(root_ / "src");
        fs::create_directories(root_ / "op");
        kevra_test::write_file(root_ / "src" / "arch1.meta", "meta");
        kevra_test::write_file(root_ / "secret", "secret");
        module_.opts().tmp_operation_directory = (root_ / "op").string();
    }
    void TearDown() override { fs::remove_all(root_); }

    engine_test::LogCapture log_;
    fs::path root_;
    engine_test::EngineTestModule module_;
};

TEST_F(SnapshotMemberRefusals, RefusedMembersStopTheUnpackingBeforeAnythingIsMade)
{
    struct Case {
        const char* label;
        std::string make;  // run in src
        std::string pack;  // tar -P arguments, run in src
        std::string logged;
    };
    const std::string secret = (root_ / "secret").string();
    const std::vector<Case> cases = {
        {"symbolic link", "ln -s '" + secret + "' link.meta", ".", "' of the snapshot file "},
        {"hard link", "ln arch1.meta second", ".", " is a hard link; nothing is unpacked from it"},
        {"parent piece", "true", "arch1.meta ../secret", "'../secret' of the snapshot file "},
        {"absolute name", "true", ". '" + secret + "'", secret + "' of the snapshot file "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const fs::path file = root_ / "arch1.snap";
        fs::remove(file);
        const std::string command = "cd '" + (root_ / "src").string() + "' && " + c.make + " && /bin/tar czPf '" +
                                    file.string() + "' " + c.pack;
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_EQ(module_.unpack_snapshot_file(file.string()), 12);
        EXPECT_THAT(log_.text(), HasSubstr(c.logged));
        EXPECT_FALSE(fs::exists(root_ / "op" / "arch1.snap_dir"));
        EXPECT_TRUE(fs::exists(file));
        EXPECT_EQ(kevra_test::read_file(secret), "secret");
        fs::remove(root_ / "src" / "link.meta");
        fs::remove(root_ / "src" / "second");
    }
}

// The snapshot file itself is read only as a regular file that is not a link.
TEST_F(SnapshotMemberRefusals, SnapshotFileThatIsALinkIsRefused)
{
    const fs::path real = root_ / "real.snap";
    ASSERT_EQ(std::system(("/bin/tar czf '" + real.string() + "' -C '" + (root_ / "src").string() + "' .").c_str()),
              0);
    fs::create_symlink(real, root_ / "arch1.snap");
    EXPECT_EQ(module_.unpack_snapshot_file((root_ / "arch1.snap").string()), 12);
    EXPECT_THAT(log_.text(), HasSubstr(": the snapshot file " + (root_ / "arch1.snap").string() +
                                       " is a symbolic link"));
    EXPECT_FALSE(fs::exists(root_ / "op" / "arch1.snap_dir"));
    EXPECT_TRUE(fs::exists(real));
}

}  // namespace
