// Restores that fail in the sandbox: the exit status, a clear record in the
// log, and nothing of the run left behind: no new template, no new image, no
// file in the safe directory, no restore directory.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/entity_bomb.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_e2e::contains;
namespace fs = boost::filesystem;

class RestoreFailure : public kevra_e2e::TemplateRestoreTest {
protected:
    // Backs up the four-image template and remembers the platform as it was.
    void back_up_web()
    {
        declare_four_image_template();
        back_up("web");
        templates_before_ = platform_names("templates");
        images_before_ = platform_names("images");
    }

    // The platform, the safe directory and the operation directory are as before the restore.
    void expect_nothing_created() const
    {
        EXPECT_EQ(platform_names("templates"), templates_before_);
        EXPECT_EQ(platform_names("images"), images_before_);
        EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
        EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
    }

    std::vector<std::string> templates_before_;
    std::vector<std::string> images_before_;
};

// One platform or engine fault per case: the exit status and the record that names the cause.
struct FaultCase {
    const char* label;
    std::vector<std::string> fault;  // fixture arguments
    std::string record;              // expected in the log
};

void PrintTo(const FaultCase& c, std::ostream* out)
{
    *out << c.label;
}

class RestoreFault : public RestoreFailure, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(RestoreFault, EndsWithSevenAndRemovesWhatTheRunMade)
{
    back_up_web();
    platform_.fixture(GetParam().fault);
    const auto result = restore();
    EXPECT_EQ(result.exit_status, 7) << result.out;
    EXPECT_TRUE(contains(log(), GetParam().record)) << log();
    expect_nothing_created();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreFault,
    ::testing::Values(
        FaultCase{"EngineExitsOne",
                  {"fault", "hxfd", "restore", "--exit", "1", "--stdout", "media server unreachable"},
                  "hxfd out: media server unreachable"},
        FaultCase{"EngineKilled", {"fault", "hxfd", "restore", "--signal", "KILL"}, "hxfd out: "},
        FaultCase{"FirstImageCreateFails",
                  {"fault", "oneimage", "create", "--exit", "255", "--stderr", "[one.image.allocate] refused"},
                  ": unable to create the image: [one.image.allocate] refused"},
        FaultCase{"ThirdImageCreateFails",
                  {"fault", "oneimage", "create", "--skip-first", "2", "--exit", "255", "--stderr", "no more"},
                  ": can't create an image in OpenNebula using the restored file: "},
        FaultCase{"ImageGoesToError",
                  {"fault", "image-fate", "--name-glob", "web-2-disk-1", "--then-state", "5"},
                  ": image: 'web-2-disk-1' has state error"},
        FaultCase{"TemplateCreateFails",
                  {"fault", "onetemplate", "create", "--exit", "255", "--stderr", "[one.template.allocate] no"},
                  ": unable to create template from XML file"},
        FaultCase{"DatastoreCapacityUnreadable",
                  {"fault", "onedatastore", "show", "--malformed"},
                  ": can't get capacity of datastore with ID"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.label); });

// Without a datastore that has room, nothing is handed over and nothing is created.
TEST_F(RestoreFailure, NoDatastoreWithRoomCreatesNothing)
{
    const std::string tiny = platform_.datastore({"--name", "tiny", "--free-mb", "2"});
    platform_.datastore({"--name", "system", "--type", "system"});
    const std::string list = "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + tiny + ":vd::0:0:0\n";
    const std::string xml = "<TEMPLATE><NAME><![CDATA[big]]></NAME><DISK><IMAGE><![CDATA[bk9-disk-0]]></IMAGE>"
                            "<IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK></TEMPLATE>\n";
    const std::string meta = make_archive(
        "bk9", {{"template.xml", xml}, {"template_image_list", list}, {"vd-disk-0", std::string(3 << 20, 'b')}});

    const auto result = restore_from_meta(meta);
    EXPECT_EQ(result.exit_status, 7);
    EXPECT_TRUE(contains(log(), ": can't find suitable image datastore. Required capacity: 3 MiB")) << log();
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{});
    EXPECT_EQ(platform_names("images"), std::vector<std::string>{});
    EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
    EXPECT_EQ(platform_.fixture({"get", "datastore", tiny, "free-mb"}), "2");
}

// The snapshot file that the agent names must exist and carry a meta file.
TEST_F(RestoreFailure, MissingSnapshotFileOrOneWithoutMetaFileEndsWithTwo)
{
    back_up_web();
    struct Case {
        std::string label, snapshot, record;
    };
    const std::string empty_snapshot = kevra_test::scratch_dir("bad") + "/nometa.snap";
    const std::string content = kevra_test::scratch_dir("bad-content");
    kevra_test::write_file(content + "/notes.txt", "no meta here");
    ASSERT_EQ(platform_.shell("/bin/tar czf " + empty_snapshot + " -C " + content + " .").exit_status, 0);
    const std::vector<Case> cases = {
        {"missing", restore_dir_ + "/gone.snap", "Unable to unpack snapshot file: \"" + restore_dir_ + "/gone.snap\"."},
        {"no meta", empty_snapshot, "Snapshot doesn't contain any metafile!"},
        {"wrong extension", restore_dir_ + "/bk1.tar", "Invalid snapshot file extension: "},
    };
    const std::vector<std::string> operation_directory_before = tree(restore_dir_);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const auto result = run_module({"-r", kRecord, "-d", restore_dir_, "-m", kServer, "-T", kTask, "-M",
                                        c.snapshot, "-e", "last:true"});
        EXPECT_EQ(result.exit_status, 2);
        EXPECT_TRUE(contains(log(), c.record)) << log();
        // Neither the restore directory nor anything unpacked into it stays behind.
        EXPECT_EQ(tree(restore_dir_), operation_directory_before);
        EXPECT_EQ(platform_names("templates"), templates_before_);
        EXPECT_EQ(platform_names("images"), images_before_);
        EXPECT_EQ(engine_calls(), 0u);
    }
}

// A later archive of a chain is restored into the directory of the earlier
// ones (the archive to patch): when that run fails, the directory and what
// the earlier archives put there stay for the next attempt.
TEST_F(RestoreFailure, FailedRestoreIntoTheDirectoryOfEarlierArchivesKeepsIt)
{
    back_up_web();
    const auto first = restore("last:false");
    ASSERT_EQ(first.exit_status, 0) << log();
    const std::string chain_dir = restore_dir_ + "/" + kRecord + ".rest";
    const std::vector<std::string> chain = tree(chain_dir);
    ASSERT_FALSE(chain.empty());

    const auto result = run_module({"-r", "43", "-i", kRecord, "-d", restore_dir_, "-m", kServer, "-T", kTask,
                                    "-M", restore_dir_ + "/gone.snap", "-e", "last:true"});
    EXPECT_EQ(result.exit_status, 2);
    EXPECT_TRUE(contains(log(), "Unable to unpack snapshot file: ")) << log();
    EXPECT_EQ(tree(chain_dir), chain);
    EXPECT_EQ(platform_names("templates"), templates_before_);
    EXPECT_EQ(platform_names("images"), images_before_);
}

// A record id or archive to patch that would put the restore directory (which
// is removed with everything in it) outside the operation directory is refused
// before anything is made.
TEST_F(RestoreFailure, RecordOrPatchNamesThatLeaveTheOperationDirectoryAreRefused)
{
    back_up_web();
    const std::string outside = kevra_test::scratch_dir("outside");
    fs::create_directories(outside + "/keep.rest");
    kevra_test::write_file(outside + "/keep.rest/precious", "keep me");
    struct Case {
        std::string record;
        std::vector<std::string> extra;
    };
    const std::vector<Case> cases = {
        {"../outside/keep", {}}, {"..", {}}, {"a/b", {}}, {"x..", {}},
        {"42", {"-i", "../outside/keep"}}, {"42", {"-i", ".."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record + (c.extra.empty() ? "" : " -i " + c.extra[1]));
        const auto result = restore("last:true", c.record, c.extra);
        EXPECT_EQ(result.exit_status, 7);
        EXPECT_TRUE(contains(log(), "can't name a directory inside the operation directory")) << log();
        EXPECT_EQ(engine_calls(), 0u);
        EXPECT_EQ(kevra_test::read_file(outside + "/keep.rest/precious"), "keep me");
        // Only the copy of the snapshot file that the test put there.
        EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{"bk1.snap"});
        fs::remove(restore_dir_ + "/bk1.snap");
    }
    EXPECT_EQ(platform_names("templates"), templates_before_);
    EXPECT_EQ(platform_names("images"), images_before_);
}

// The restored file is handed over under a name of this run's own: files and
// directories of the same bare name in the safe directory are neither used
// nor overwritten nor removed, whether the restore succeeds or fails.
TEST_F(RestoreFailure, FilesOfOthersInTheSafeDirectoryStayUntouched)
{
    back_up_web();
    kevra_test::write_file("/var/tmp/vd-disk-0", "another restore's file");
    fs::create_directories("/var/tmp/vd-disk-1");
    kevra_test::write_file("/var/tmp/vd-disk-1/inside", "another run's directory");
    const std::vector<std::string> others = {"vd-disk-0", "vd-disk-1", "vd-disk-1/inside"};

    platform_.fixture({"fault", "oneimage", "create", "--skip-first", "1", "--times", "1", "--exit", "255"});
    const auto failed = restore();
    EXPECT_EQ(failed.exit_status, 7);
    EXPECT_EQ(tree("/var/tmp"), others);
    EXPECT_EQ(platform_names("images"), images_before_);

    const auto result = restore();
    ASSERT_EQ(result.exit_status, 0) << log();
    EXPECT_EQ(tree("/var/tmp"), others);
    EXPECT_EQ(kevra_test::read_file("/var/tmp/vd-disk-0"), "another restore's file");
    EXPECT_EQ(kevra_test::read_file("/var/tmp/vd-disk-1/inside"), "another run's directory");
    EXPECT_EQ(image_data("web-2-disk-0"), "operating system bytes\n");
    EXPECT_EQ(image_data("web-2-disk-1"), std::string("data\0with\0zeros", 15));
}

// The space an image needs is its size in MiB rounded up: a file one MiB and
// three bytes long does not fit into a datastore with one MiB free.
TEST_F(RestoreFailure, NeededSpaceIsRoundedUp)
{
    const std::string tight = platform_.datastore({"--name", "tight", "--free-mb", "1"});
    const std::string spare = platform_.datastore({"--name", "spare"});
    const std::string data(1024 * 1024 + 3, 'x');
    const std::string list = "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + tight + ":vd::2:0:0\n";
    const std::string xml = "<TEMPLATE><NAME><![CDATA[solo]]></NAME><DISK><IMAGE><![CDATA[bk9-disk-0]]></IMAGE>"
                            "<IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK></TEMPLATE>\n";
    const std::string meta =
        make_archive("bk9", {{"template.xml", xml}, {"template_image_list", list}, {"vd-disk-0", data}});

    const auto result = restore_from_meta(meta);
    ASSERT_EQ(result.exit_status, 0) << log();
    EXPECT_TRUE(contains(log(), "There is not enough free space in the datastore with ID: " + tight +
                                    ". Required: 2 MiB"))
        << log();
    EXPECT_EQ(platform_.image_field("solo-disk-0", "datastore"), spare);
    EXPECT_EQ(image_data("solo-disk-0"), data);
}

// Image list records that could not be restored safely fail the restore.
TEST_F(RestoreFailure, HostileOrMalformedImageListsAreRefused)
{
    const std::string files = files_datastore();
    const std::string xml = "<TEMPLATE><NAME><![CDATA[evil]]></NAME><DISK><IMAGE><![CDATA[bk9-disk-0]]></IMAGE>"
                            "</DISK></TEMPLATE>\n";
    struct Case {
        std::string label, line, record;
    };
    const std::vector<Case> cases = {
        {"name climbs out", "7:bk9/../../../../etc/passwd:" + files + ":vd::0:0:0",
         "can't stand inside the restore directory"},
        {"type not a number", "7:bk9-disk-0:" + files + ":vd::OS:0:0", "wrong image type or disk type number"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::string meta = make_archive("bk9", {{"template.xml", xml},
                                                      {"template_image_list", "TEMPLATE CLONE NAME:bk9\n" + c.line + "\n"},
                                                      {"vd-disk-0", "data"}});
        const auto result = restore_from_meta(meta);
        EXPECT_EQ(result.exit_status, 7);
        EXPECT_TRUE(contains(log(), c.record)) << log();
        EXPECT_EQ(platform_names("templates"), std::vector<std::string>{});
        EXPECT_EQ(platform_names("images"), std::vector<std::string>{});
        EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
    }
}

// An archived template file that declares an entity (20 KB, referenced 5,000
// times: 100 MB once expanded) is refused as malformed at once, whichever step
// reads it first, with little memory and nothing created.
TEST_F(RestoreFailure, TemplateFileDeclaringEntitiesIsRefusedAsMalformed)
{
    const std::string files = files_datastore();
    const std::string list = "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + files + ":vd::0:0:0\n";
    struct Case {
        std::string params, record;
    };
    const std::vector<Case> cases = {
        {"last:true", "int hx_opennebula_common::get_template_name_from_file(const std::string&, std::string&): "
                      "document not parsed successfully: "},
        {"last:true,new_name:copy", "int hx_opennebula_common::change_name_in_template_xml(const std::string&, "
                                    "const std::string&): document not parsed successfully: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        const std::string meta = make_archive(
            "bk9", {{"template.xml", kevra_test::entity_bomb("TEMPLATE")}, {"template_image_list", list},
                    {"vd-disk-0", "data"}});
        const auto result = restore_from_meta(meta, c.params, kevra_test::ProgramLimits{10});
        EXPECT_FALSE(result.timed_out);
        EXPECT_EQ(result.exit_status, 7);
        EXPECT_LT(result.max_rss_kb, 64 * 1024);
        EXPECT_TRUE(contains(log(), c.record)) << log();
        EXPECT_EQ(platform_names("templates"), std::vector<std::string>{});
        EXPECT_EQ(platform_names("images"), std::vector<std::string>{});
        EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
        EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
    }
}

// A crypto algorithm without a usable key file stops the restore before the engine runs.
TEST_F(RestoreFailure, CryptoWithoutKeyFileIsRefusedBeforeTheEngineRuns)
{
    back_up_web();
    const std::vector<std::vector<std::string>> cases = {
        {"-C", "kuznyechik", "-k", "/opt/kelvomar/keys/none"},
        {"-C", "kuznyechik"},
    };
    const std::vector<std::string> records = {": there is no key file: /opt/kelvomar/keys/none",
                                              ": you must define key file"};
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(records[i]);
        const auto result = restore("last:true", kRecord, cases[i]);
        EXPECT_EQ(result.exit_status, 7);
        EXPECT_TRUE(contains(log(), "bool HxModuleUniversal::make_restore(const bool&)" + records[i])) << log();
        EXPECT_EQ(engine_calls(), 0u);
        expect_nothing_created();
    }
}

}  // namespace
