// A template backed up by the real program and restored again in the sandbox:
// the new template under a free name, one new image per source image with the
// same data byte for byte in a datastore with room, and nothing of the run
// left in the operation directory or the safe directory.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::lines_of;
namespace fs = boost::filesystem;

class RestoreRoundTrip : public kevra_e2e::TemplateRestoreTest {};

TEST_F(RestoreRoundTrip, FileBlockAndCephImagesComeBackUnderAFreeNameWithTheirData)
{
    const auto tpl = declare_four_image_template();
    back_up("web");
    const auto result = restore();
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err << log();

    const auto out = lines_of(result.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front().rfind("MODULE PID:", 0), 0u) << out.front();
    EXPECT_TRUE(contains(result.out, "\nHXFD PID: "));
    EXPECT_TRUE(contains(result.out, "\nUnpacked: "));

    // "web" still exists, so the copy is "web-2", its images named after it.
    const std::vector<std::string> expected_images = {"web-2-disk-0", "web-2-disk-1", "web-2-disk-2",
                                                      "web-2-disk-3"};
    EXPECT_EQ(images_named("web-2"), expected_images);
    const std::string xml = template_xml("web-2");
    for (std::size_t i = 0; i < expected_images.size(); ++i) {
        const std::string& copy = expected_images[i];
        const std::string& source = tpl.image_ids[i];
        SCOPED_TRACE(copy);
        EXPECT_EQ(image_data(copy), image_data(source));
        EXPECT_EQ(platform_.image_field(copy, "state"), "1");
        EXPECT_EQ(platform_.image_field(copy, "datastore"), platform_.image_field(source, "datastore"));
        EXPECT_EQ(platform_.image_field(copy, "disk-type"), platform_.image_field(source, "disk-type"));
        EXPECT_EQ(platform_.image_field(copy, "type"), platform_.image_field(source, "type"));
        EXPECT_EQ(platform_.image_field(copy, "prefix"), platform_.image_field(source, "prefix"));
        EXPECT_TRUE(contains(xml, "<IMAGE><![CDATA[" + copy + "]]></IMAGE>")) << xml;
    }
    // The source template and its images are untouched.
    EXPECT_EQ(platform_names("templates"), (std::vector<std::string>{"web", "web-2"}));

    // The engine was given the record, the server, the task and its secret, the meta file and the restore directory.
    const auto engine = platform_.calls("hxfd");
    ASSERT_EQ(engine.size(), 1u);
    const std::string restore_directory = restore_dir_ + "/42.rest";
    EXPECT_TRUE(contains(engine[0], " -R 42 -M srv1 -T T1 -s /opt/kelvomar/var/tasks//task_secret_T1 -m " +
                                        restore_directory + "/bk1.snap_dir/bk1.meta -d " + restore_directory))
        << engine[0];

    // The restore directory and the handed-over files are gone.
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
    EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
    EXPECT_TRUE(contains(log(), "Template will be restored with the name: web-2"));
}

// The free-name rule for the template and for its images, and the new name.
struct NamingCase {
    const char* label;
    std::vector<std::string> taken_templates;  // declared before the restore
    std::vector<std::string> taken_images;     // declared before the restore
    bool delete_source;                        // the source template is deleted before the restore
    std::string params;
    std::string expected_template;
    std::vector<std::string> expected_images;  // disk order
};

void PrintTo(const NamingCase& c, std::ostream* out)
{
    *out << c.label;
}

class RestoreNaming : public kevra_e2e::TemplateRestoreTest, public ::testing::WithParamInterface<NamingCase> {};

TEST_P(RestoreNaming, TemplateAndImagesGetTheFirstFreeNames)
{
    const NamingCase& c = GetParam();
    const std::string files = files_datastore();
    const std::string os = platform_.image({"--name", "app-os", "--datastore", files, "--prefix", "vd",
                                            "--content", "app os"});
    const std::string data = platform_.image({"--name", "app-data", "--datastore", files, "--prefix", "vd",
                                              "--type", "DATABLOCK", "--content", "app data"});
    platform_.vm_template({"--name", "app", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + data});
    back_up("app");
    if (c.delete_source) {
        platform_.shell("/usr/bin/onetemplate delete app");
    }
    for (const std::string& name : c.taken_templates) {
        platform_.vm_template({"--name", name});
    }
    for (const std::string& name : c.taken_images) {
        platform_.image({"--name", name, "--datastore", files, "--content", "someone else's"});
    }

    const auto result = restore(c.params);
    ASSERT_EQ(result.exit_status, 0) << result.out << log();
    const std::string xml = template_xml(c.expected_template);
    ASSERT_EQ(c.expected_images.size(), 2u);
    EXPECT_EQ(image_data(c.expected_images[0]), "app os");
    EXPECT_EQ(image_data(c.expected_images[1]), "app data");
    for (const std::string& image : c.expected_images) {
        EXPECT_TRUE(contains(xml, "<IMAGE><![CDATA[" + image + "]]></IMAGE>")) << xml;
    }
    for (const std::string& name : c.taken_images) {
        EXPECT_EQ(image_data(name), "someone else's") << name;
    }
    const std::string candidate_log = log();
    for (const std::string& name : c.taken_templates) {
        EXPECT_TRUE(contains(candidate_log, "Template with name: " + name + " exists. ")) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoreNaming,
    ::testing::Values(
        NamingCase{"SourceGone", {}, {}, true, "last:true", "app", {"app-disk-0", "app-disk-1"}},
        NamingCase{"SourceThere", {}, {}, false, "last:true", "app-2", {"app-2-disk-0", "app-2-disk-1"}},
        NamingCase{"TwoTaken", {"app-2"}, {}, false, "last:true", "app-3", {"app-3-disk-0", "app-3-disk-1"}},
        NamingCase{"NewName", {}, {}, false, "last:true,new_name:fresh", "fresh", {"fresh-disk-0", "fresh-disk-1"}},
        NamingCase{"ImageNamesTaken",
                   {},
                   {"app-2-disk-0", "app-2-disk-0-2", "app-2-disk-1"},
                   false,
                   "last:true",
                   "app-2",
                   {"app-2-disk-0-3", "app-2-disk-1-2"}}),
    [](const ::testing::TestParamInfo<NamingCase>& info) { return std::string(info.param.label); });

// Which images are created persistent.
TEST_F(RestoreRoundTrip, PersistenceFollowsTheArchiveUnlessTheRestoreAsksForIt)
{
    const std::string files = files_datastore();
    const std::string plain = platform_.image({"--name", "db-os", "--datastore", files, "--content", "os"});
    const std::string kept = platform_.image(
        {"--name", "db-data", "--datastore", files, "--type", "DATABLOCK", "--persistent", "--content", "rows"});
    platform_.vm_template({"--name", "db", "--disk", "IMAGE_ID=" + plain, "--disk", "IMAGE_ID=" + kept});
    back_up("db");

    struct Case {
        std::string params, template_name, plain_persistent, kept_persistent;
    };
    const std::vector<Case> cases = {
        {"last:true", "db-2", "0", "1"},
        {"last:true,set_images_persistent:yes", "db-3", "1", "1"},
        {"last:true,set_images_persistent:TRUE", "db-4", "0", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        const auto result = restore(c.params);
        ASSERT_EQ(result.exit_status, 0) << log();
        EXPECT_EQ(platform_.image_field(c.template_name + "-disk-0", "persistent"), c.plain_persistent);
        EXPECT_EQ(platform_.image_field(c.template_name + "-disk-1", "persistent"), c.kept_persistent);
    }
}

// A restore of the configuration only creates the template from the source's
// own configuration, which refers to the source images; no image is made.
TEST_F(RestoreRoundTrip, ConfigurationOnlyRefersToTheSourceImages)
{
    const auto tpl = declare_four_image_template();
    back_up("web");
    const auto images_before = platform_names("images");
    const auto result = restore("last:true,restore_only_config:yes,new_name:conf");
    ASSERT_EQ(result.exit_status, 0) << log();
    EXPECT_EQ(platform_names("images"), images_before);
    const std::string xml = template_xml("conf");
    for (const std::string& name : tpl.image_names) {
        EXPECT_TRUE(contains(xml, "<IMAGE><![CDATA[" + name + "]]></IMAGE>")) << name << "\n" << xml;
    }
    EXPECT_TRUE(contains(log(), "Restore only template's config"));
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
    EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});
}

// With the marker of the backup, every source image must still be there.
TEST_F(RestoreRoundTrip, ConfigurationOnlyFailsWhenASourceImageIsGone)
{
    const auto tpl = declare_four_image_template();
    back_up("web");
    platform_.shell("/usr/bin/oneimage delete " + tpl.image_ids[1]);
    const auto result = restore("last:true,restore_only_config:yes,new_name:conf");
    EXPECT_EQ(result.exit_status, 7);
    EXPECT_TRUE(contains(log(), ": image: " + tpl.image_ids[1] + " doesn't exist")) << log();
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
}

// An archive made with backup_only_config restores its configuration, with the
// template's own images, when the restore asks for the configuration only.
TEST_F(RestoreRoundTrip, ConfigurationBackupRestoresWithTheOwnImages)
{
    const auto tpl = declare_four_image_template();
    back_up("web", "cfg1", false, {"-e", "backup_only_config:yes"});
    const auto images_before = platform_names("images");

    const auto refused = restore("last:true,backup_only_config:yes");
    EXPECT_EQ(refused.exit_status, 7);
    EXPECT_TRUE(contains(log(), "flag 'restore_only_config' is not set, but flag 'backup_only_config' was set"));

    const auto result = restore("last:true,backup_only_config:yes,restore_only_config:yes");
    ASSERT_EQ(result.exit_status, 0) << log();
    EXPECT_EQ(platform_names("images"), images_before);
    const std::string xml = template_xml("web-2");
    for (const std::string& name : tpl.image_names) {
        EXPECT_TRUE(contains(xml, name)) << name << "\n" << xml;
    }
}

// A restore that is not the last of its chain, and one without deployment,
// only unpack: no template, no image; the unpacked snapshot directory goes,
// the restore directory stays for the next archive.
TEST_F(RestoreRoundTrip, IntermediateArchivesAndRestoresWithoutDeploymentOnlyUnpack)
{
    declare_four_image_template();
    back_up("web");
    for (const std::string params : {"", "last:false", "last:true,without_deployment_restore:yes"}) {
        SCOPED_TRACE(params);
        fs::remove_all(restore_dir_ + "/42.rest");
        const auto result = restore(params);
        ASSERT_EQ(result.exit_status, 0) << log();
        EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
        const auto left = tree(restore_dir_ + "/42.rest");
        EXPECT_NE(std::find(left.begin(), left.end(), "vd-disk-0"), left.end());
        EXPECT_NE(std::find(left.begin(), left.end(), "template.xml"), left.end());
        EXPECT_EQ(std::find(left.begin(), left.end(), "bk1.snap_dir"), left.end());
    }
}

// Images without data (here a CD-ROM) are not re-created: the new template's
// disk refers to the source image.
TEST_F(RestoreRoundTrip, ImagesWithoutDataAreSkippedAndReferToTheSourceImage)
{
    const std::string files = files_datastore();
    const std::string cdroms = platform_.datastore({"--name", "cdroms", "--disk-type", "1"});
    const std::string os = platform_.image({"--name", "vm-os", "--datastore", files, "--content", "os bytes"});
    const std::string iso = platform_.image(
        {"--name", "vm-iso", "--datastore", cdroms, "--prefix", "hd", "--type", "CDROM", "--content", "iso"});
    platform_.vm_template({"--name", "vm", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + iso});
    back_up("vm");
    const auto result = restore();
    ASSERT_EQ(result.exit_status, 0) << log();
    EXPECT_EQ(images_named("vm-2"), std::vector<std::string>{"vm-2-disk-0"});
    EXPECT_EQ(image_data("vm-2-disk-0"), "os bytes");
    const std::string xml = template_xml("vm-2");
    EXPECT_TRUE(contains(xml, "<IMAGE><![CDATA[vm-iso]]></IMAGE>")) << xml;
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
}

// The engine's report of possibly incomplete data: the restore is carried out
// and ends with 100 and the Warning.
TEST_F(RestoreRoundTrip, EngineReportOfIncompleteDataEndsWithOneHundred)
{
    declare_four_image_template();
    back_up("web");
    platform_.fixture({"fault", "hxfd", "restore", "--exit", "100"});
    const auto result = restore();
    EXPECT_EQ(result.exit_status, 100) << log();
    EXPECT_EQ(images_named("web-2").size(), 4u);
    EXPECT_TRUE(contains(log(), "The work of the module is completed without a guarantee of completeness"));
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
}

// An autonomous restore takes its archive file from the command line and
// names its restore directory after the archive's name.
TEST_F(RestoreRoundTrip, AutonomousRestoreUnpacksTheArchiveFile)
{
    const std::string files = files_datastore();
    const std::string list = "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + files + ":vd::0:0:0\n";
    const std::string xml = "<TEMPLATE><NAME><![CDATA[solo]]></NAME><DISK><IMAGE><![CDATA[bk9-disk-0]]></IMAGE>"
                            "<IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK></TEMPLATE>\n";
    const std::string sources = kevra_test::scratch_dir("auto");
    kevra_test::write_file(sources + "/xml", xml);
    kevra_test::write_file(sources + "/list", list);
    kevra_test::write_file(sources + "/data", "autonomous bytes");
    const std::string archive = sources + "/web_full_2024.hxfd";
    platform_.fixture({"make-archive", "web_full_2024", "--entry", "template.xml=" + sources + "/xml", "--entry",
                       "template_image_list=" + sources + "/list", "--entry", "vd-disk-0=" + sources + "/data",
                       "--archive-file", archive});

    const auto result = run_module({"-r", "r1", "--autonomous", "--client-archive", archive, "-d", restore_dir_,
                                    "-e", "last:true"});
    ASSERT_EQ(result.exit_status, 0) << result.out << log();
    EXPECT_EQ(image_data("solo-disk-0"), "autonomous bytes");
    const auto engine = platform_.calls("hxfd");
    ASSERT_EQ(engine.size(), 1u);
    EXPECT_TRUE(contains(engine[0], " -r " + archive + " -d " + restore_dir_ + "/2024.rest")) << engine[0];
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(archive));
}

// The image-create command line: the driver only for platform versions whose
// tools take it, no prefix option for an empty prefix, persistence from the
// archive, every value one shell word.
TEST_F(RestoreRoundTrip, ImageCreateCommandLineFollowsThePlatformVersionAndTheRecord)
{
    struct Case {
        std::string version;
        bool driver;
    };
    // Versions outside the known table take the option only before major version 3, with a Warning.
    for (const Case& c : {Case{"3.3.1", false}, Case{"Kevra 2.7", true}, Case{"2.12", true}, Case{"3.4", false},
                          Case{"Kevra 2.8", true}}) {
        SCOPED_TRACE(c.version);
        platform_.fixture({"reset"});
        platform_.fixture({"task-secret", kTask});
        platform_.fixture({"system", "--kevra-version", c.version + "\n"});
        const std::string files = platform_.datastore({"--name", "files"});
        const std::string list = "TEMPLATE CLONE NAME:bk9\n"
                                 "7:bk9-disk-0:" + files + ":vd:qcow2:0:0:0\n"
                                 "8:bk9-disk-1:" + files + "::raw:2:0:1\n";
        const std::string xml =
            "<TEMPLATE><NAME><![CDATA[it`s (1)]]></NAME>"
            "<DISK><IMAGE><![CDATA[bk9-disk-0]]></IMAGE><IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK>"
            "<DISK><IMAGE><![CDATA[bk9-disk-1]]></IMAGE><IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK>"
            "</TEMPLATE>\n";
        const std::string meta = make_archive(
            "bk9", {{"template.xml", xml}, {"template_image_list", list}, {"vd-disk-0", "os"}, {"-disk-1", "db"}});
        const auto result = restore_from_meta(meta);
        ASSERT_EQ(result.exit_status, 0) << log();
        std::vector<std::string> creates;
        for (const std::string& call : platform_.calls("oneimage")) {
            if (contains(call, " create ")) {
                creates.push_back(call);
            }
        }
        ASSERT_EQ(creates.size(), 2u);
        EXPECT_TRUE(contains(creates[0], "--name 'it`s (1)-disk-0'")) << creates[0];
        EXPECT_TRUE(contains(creates[0], " --prefix vd")) << creates[0];
        EXPECT_EQ(contains(creates[0], " --driver qcow2"), c.driver) << creates[0];
        EXPECT_TRUE(contains(creates[0], " --type OS --disk_type FILE")) << creates[0];
        EXPECT_FALSE(contains(creates[0], "--persistent")) << creates[0];
        EXPECT_FALSE(contains(creates[1], "--prefix")) << creates[1];
        EXPECT_EQ(contains(creates[1], " --driver raw"), c.driver) << creates[1];
        EXPECT_TRUE(contains(creates[1], " --type DATABLOCK --disk_type FILE --persistent")) << creates[1];
        EXPECT_EQ(image_data("it`s (1)-disk-0"), "os");
        EXPECT_EQ(image_data("it`s (1)-disk-1"), "db");
        EXPECT_EQ(platform_.image_field("it`s (1)-disk-1", "persistent"), "1");
        const bool known = c.version != "3.4" && c.version != "Kevra 2.8";
        EXPECT_EQ(contains(log(), "Warning: The Kevra version '" + c.version + "' is unknown: the image 'it`s (1)-disk-0' "
                                  "is created " + (c.driver ? "with" : "without") + " the option --driver"),
                  !known)
            << log();
    }
}

}  // namespace

namespace {

// A template name may hold a line break: in the records on standard output and
// in the log file it is written as \n, so it never starts a line the agent reads.
TEST_F(RestoreRoundTrip, ANameWithALineBreakStaysInItsRecord)
{
    const std::string files = files_datastore();
    const std::string name = "web\nSET BACKUP TYPE TO FULL";
    const std::string list = "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + files + ":vd::0:0:0\n";
    const std::string xml = "<TEMPLATE><NAME><![CDATA[" + name + "]]></NAME><DISK><IMAGE><![CDATA[bk9-disk-0]]>"
                            "</IMAGE><IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK></TEMPLATE>\n";
    const std::string meta =
        make_archive("bk9", {{"template.xml", xml}, {"template_image_list", list}, {"vd-disk-0", "os"}});

    const auto result = restore_from_meta(meta);
    ASSERT_EQ(result.exit_status, 0) << log();
    const std::string escaped = "Template will be restored with the name: web\\nSET BACKUP TYPE TO FULL\n";
    EXPECT_TRUE(contains(result.out, escaped)) << result.out;
    EXPECT_TRUE(contains(log(), escaped)) << log();
    EXPECT_TRUE(contains(log(), "Image will be restored with the name: web\\nSET BACKUP TYPE TO FULL-disk-0\n"));
    for (const std::string& line : lines_of(result.out)) {
        EXPECT_NE(line, "SET BACKUP TYPE TO FULL");
    }
    EXPECT_EQ(image_data(name + "-disk-0"), "os");
}

}  // namespace
