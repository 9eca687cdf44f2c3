// Archives and snapshot files that came back altered: a restored file that is
// a link (absolute or relative, to a file or a directory), a hard link, a
// directory or a FIFO, and snapshot members that are links or leave their
// folder. Each restore fails with its status and a record that names the
// file, sends nothing to the platform, and leaves the host file or directory
// behind the link with its owner, mode and content.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_e2e::contains;
namespace fs = boost::filesystem;

const char* const kTemplateXml =
    "<TEMPLATE><NAME><![CDATA[solo]]></NAME><DISK><IMAGE><![CDATA[bk9-disk-0]]></IMAGE>"
    "<IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK></TEMPLATE>\n";
const char* const kHostXml =
    "<TEMPLATE><NAME><![CDATA[host-template]]></NAME><CPU><![CDATA[1]]></CPU></TEMPLATE>\n";

class UntrustedRestoreFiles : public kevra_e2e::TemplateRestoreTest {
protected:
    void SetUp() override
    {
        TemplateRestoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        // Host files that a planted link or hard link points at: root's own, mode 0600.
        decoys_ = kevra_test::scratch_dir("decoy");
        kevra_test::write_file(decoys_ + "/secret", "root only\n");
        kevra_test::write_file(decoys_ + "/host.xml", kHostXml);
        fs::create_directories(decoys_ + "/folder");
        kevra_test::write_file(decoys_ + "/folder/inside", "kept\n");
        for (const std::string name : {"secret", "host.xml", "folder/inside"}) {
            ASSERT_EQ(::chmod((decoys_ + "/" + name).c_str(), 0600), 0);
        }
        ASSERT_EQ(::chmod((decoys_ + "/folder").c_str(), 0700), 0);
        passwd_ = kevra_test::read_file("/etc/passwd");
        ASSERT_FALSE(passwd_.empty());
    }

    // An archive of one FILE image as a backup leaves it; returns its meta file.
    std::string one_image_archive()
    {
        const std::string list = "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + files_datastore() + ":vd::0:0:0\n";
        return make_archive("bk9", {{"template.xml", kTemplateXml},
                                    {"orig_template.xml", kTemplateXml},
                                    {"template_image_list", list},
                                    {"vd-disk-0", "restored data\n"}});
    }

    // Owner, group, mode and content of each decoy are as SetUp made them.
    void expect_decoys_untouched() const
    {
        struct Expected {
            std::string name;
            mode_t mode;
            std::string content;
        };
        const std::vector<Expected> expected = {{"secret", S_IFREG | 0600, "root only\n"},
                                                {"host.xml", S_IFREG | 0600, kHostXml},
                                                {"folder", S_IFDIR | 0700, ""},
                                                {"folder/inside", S_IFREG | 0600, "kept\n"}};
        for (const Expected& e : expected) {
            struct stat status {};
            const std::string path = decoys_ + "/" + e.name;
            ASSERT_EQ(::lstat(path.c_str(), &status), 0) << path;
            EXPECT_EQ(status.st_uid, 0u) << path;
            EXPECT_EQ(status.st_gid, 0u) << path;
            EXPECT_EQ(status.st_mode, e.mode) << path;
            EXPECT_EQ(status.st_nlink, S_ISDIR(e.mode) ? 2u : 1u) << path;
            if (S_ISREG(e.mode)) {
                EXPECT_EQ(kevra_test::read_file(path), e.content) << path;
            }
        }
        EXPECT_EQ(kevra_test::list_tree(decoys_), (std::vector<std::string>{"folder", "folder/inside", "host.xml",
                                                                            "secret"}));
    }

    // No image and no template was created or handed over.
    void expect_nothing_sent() const
    {
        for (const std::string tool : {"oneimage", "onetemplate"}) {
            for (const std::string& call : platform_.calls(tool)) {
                EXPECT_FALSE(contains(call, " create ")) << call;
            }
        }
        EXPECT_EQ(platform_names("templates"), std::vector<std::string>{});
        EXPECT_EQ(platform_names("images"), std::vector<std::string>{});
        EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
    }

    std::string decoys_;
    std::string passwd_;
};

// A safe directory on the restore directory's own file system takes the
// restored file by a rename of the checked file; the image gets its data and
// the file is gone from both places.
TEST_F(UntrustedRestoreFiles, SafeDirectoryOnTheSameFileSystemTakesTheFileByRename)
{
    const std::string safe = kevra_test::scratch_dir("safe");
    const std::string near = platform_.datastore({"--name", "near", "--safe-dirs", safe});
    const std::string list = "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + near + ":vd::0:0:0\n";
    const std::string meta = make_archive(
        "bk9", {{"template.xml", kTemplateXml}, {"template_image_list", list}, {"vd-disk-0", "restored data\n"}});

    const auto result = restore_from_meta(meta);
    ASSERT_EQ(result.exit_status, 0) << result.out << log();
    EXPECT_EQ(image_data("solo-disk-0"), "restored data\n");
    EXPECT_EQ(platform_.image_field("solo-disk-0", "datastore"), near);
    EXPECT_EQ(tree(safe), std::vector<std::string>{});
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
}

// One altered entry of the archive per case.
struct EntryCase {
    const char* label;
    std::vector<std::string> alteration;  // alter-archive options; "@" stands for the decoy folder
    std::string params;                   // module parameters of the restore
    std::string entry;                    // the restored file the record names
    std::string refusal;
};

void PrintTo(const EntryCase& c, std::ostream* out)
{
    *out << c.label;
}

class UntrustedArchiveEntry : public UntrustedRestoreFiles, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(UntrustedArchiveEntry, EndsWithSevenAndTouchesNothingBehindIt)
{
    const EntryCase& c = GetParam();
    const std::string meta = one_image_archive();
    std::vector<std::string> alter = {"alter-archive", "bk9"};
    for (std::string option : c.alteration) {
        const std::string::size_type at = option.find('@');
        if (at != std::string::npos) {
            option.replace(at, 1, decoys_);
        }
        alter.push_back(option);
    }
    platform_.fixture(alter);
    platform_.fixture({"calls", "all", "--clear"});

    const auto result = restore_from_meta(meta, c.params);
    EXPECT_EQ(result.exit_status, 7) << result.out;
    const std::string record = "the restored file " + restore_dir_ + "/" + kRecord + ".rest/" + c.entry + " " + c.refusal;
    EXPECT_TRUE(contains(log(), record)) << record << "\n" << log();
    EXPECT_EQ(engine_calls(), 1u);
    expect_nothing_sent();
    expect_decoys_untouched();
    EXPECT_EQ(kevra_test::read_file("/etc/passwd"), passwd_);
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UntrustedArchiveEntry,
    ::testing::Values(
        EntryCase{"DataLinkToFile", {"--link", "vd-disk-0=@/secret"}, "last:true", "vd-disk-0", "is a symbolic link"},
        EntryCase{"DataRelativeLinkToFile",
                  {"--link", "vd-disk-0=../../scratch-decoy/secret"},
                  "last:true",
                  "vd-disk-0",
                  "is a symbolic link"},
        EntryCase{"DataLinkToDirectory", {"--link", "vd-disk-0=@/folder"}, "last:true", "vd-disk-0",
                  "is a symbolic link"},
        EntryCase{"DataRelativeLinkToDirectory",
                  {"--link", "vd-disk-0=../../scratch-decoy/folder"},
                  "last:true",
                  "vd-disk-0",
                  "is a symbolic link"},
        EntryCase{"DataHardLink", {"--hard-link", "vd-disk-0=@/secret"}, "last:true", "vd-disk-0",
                  "has 2 hard links"},
        EntryCase{"DataDirectory", {"--directory", "vd-disk-0"}, "last:true", "vd-disk-0", "is a directory"},
        EntryCase{"DataFifo", {"--fifo", "vd-disk-0"}, "last:true", "vd-disk-0", "is a FIFO"},
        EntryCase{"TemplateFileLink", {"--link", "template.xml=@/host.xml"}, "last:true", "template.xml",
                  "is a symbolic link"},
        EntryCase{"OriginalTemplateFileLink",
                  {"--link", "orig_template.xml=@/host.xml"},
                  "last:true,restore_only_config:yes",
                  "orig_template.xml",
                  "is a symbolic link"},
        EntryCase{"ImageListLinkToPasswd", {"--link", "template_image_list=/etc/passwd"}, "last:true",
                  "template_image_list", "is a symbolic link"}),
    [](const ::testing::TestParamInfo<EntryCase>& info) { return std::string(info.param.label); });

// A snapshot file member that is not a plain file or directory, or that
// would leave its folder: nothing is unpacked, the engine never runs.
struct MemberCase {
    const char* label;
    std::string make;    // shell commands run in the member folder "src" (beside "outside"), "@" the decoys
    std::string tar;     // what tar packs, run in "src" with -P
    std::string member;  // the end of the member's name that the record gives
    std::string refusal;
};

void PrintTo(const MemberCase& c, std::ostream* out)
{
    *out << c.label;
}

class UntrustedSnapshotMember : public UntrustedRestoreFiles, public ::testing::WithParamInterface<MemberCase> {};

TEST_P(UntrustedSnapshotMember, EndsWithTwoAndUnpacksNothing)
{
    const MemberCase& c = GetParam();
    const std::string meta = one_image_archive();
    const std::string work = kevra_test::scratch_dir("member");
    fs::remove_all(work);
    fs::create_directories(work + "/src");
    fs::create_directories(work + "/outside");
    fs::copy_file(meta, work + "/src/bk9.meta");
    kevra_test::write_file(work + "/outside/escaped.xml", "from outside\n");
    const auto with_decoys = [&](std::string text) {
        for (std::string::size_type at; (at = text.find('@')) != std::string::npos;) {
            text.replace(at, 1, decoys_);
        }
        return text;
    };
    const std::string make = with_decoys(c.make);
    const std::string snapshot = restore_dir_ + "/bk9.snap";
    const auto packed = platform_.shell("cd " + work + "/src && " + make + " && /bin/tar czPf " + snapshot + " " + with_decoys(c.tar));
    ASSERT_EQ(packed.exit_status, 0) << packed.out << packed.err;
    platform_.fixture({"calls", "all", "--clear"});

    const auto result = run_module({"-r", kRecord, "-d", restore_dir_, "-m", kServer, "-T", kTask, "-M", snapshot,
                                    "-e", "last:true"});
    EXPECT_EQ(result.exit_status, 2) << result.out;
    const std::string record = with_decoys(c.member) + "' of the snapshot file " + snapshot + " " + c.refusal;
    EXPECT_TRUE(contains(log(), record)) << record << "\n" << log();
    EXPECT_EQ(engine_calls(), 0u);
    expect_nothing_sent();
    expect_decoys_untouched();
    // Nothing was unpacked: the restore directory holds no member.
    EXPECT_FALSE(fs::exists(fs::symlink_status(restore_dir_ + "/" + kRecord + ".rest/bk9.snap_dir/escaped.xml")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(restore_dir_ + "/" + kRecord + ".rest/escaped.xml")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(restore_dir_ + "/" + kRecord + ".rest/bk9.snap_dir/marker")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UntrustedSnapshotMember,
    ::testing::Values(
        MemberCase{"SymbolicLink", "ln -s @/secret template_image_ids_marker", ".",
                   "'./template_image_ids_marker", "is a symbolic link"},
        // Which of the two names tar stores as the link depends on the order it finds them in.
        MemberCase{"HardLink", "ln bk9.meta marker", ".", "", "is a hard link"},
        MemberCase{"ParentPiece", "true", "bk9.meta ../outside/escaped.xml", "'../outside/escaped.xml",
                   "has the path piece '..' in its name"},
        MemberCase{"AbsoluteName", "true", ". @/host.xml", "'@/host.xml", "has an absolute name"}),
    [](const ::testing::TestParamInfo<MemberCase>& info) { return std::string(info.param.label); });

}  // namespace
