// A template with two FILE images, one BLOCK image and one RBD image backed up
// in the sandbox against the platform and engine stand-ins: what the agent
// reads on standard output, what the engine's store and the snapshot file hold
// afterwards, and that the clone is gone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <boost/filesystem.hpp>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/backup_e2e_support.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::lines_of;
namespace fs = boost::filesystem;

// The lines of standard output that are meant for the agent (log records also reach standard output).
std::vector<std::string> protocol_lines(const std::string& out)
{
    static const std::vector<std::string> prefixes = {"MODULE PID:", "HXFD PID: ", "Packed: ", "Transferred: ",
                                                      "MAIN ", "SET BACKUP TYPE TO FULL"};
    std::vector<std::string> lines;
    for (const std::string& line : lines_of(out)) {
        for (const std::string& prefix : prefixes) {
            if (line.compare(0, prefix.size(), prefix) == 0) {
                lines.push_back(line);
                break;
            }
        }
    }
    return lines;
}

bool any_call_contains(const std::vector<std::string>& calls, const std::string& piece)
{
    for (const std::string& call : calls) {
        if (contains(call, piece)) {
            return true;
        }
    }
    return false;
}

class FourImageBackup : public kevra_e2e::TemplateBackupTest {
protected:
    // The image list that a backup of the four-image template under clone bk1 writes.
    std::string expected_image_list(const kevra_e2e::FourImageTemplate& tpl) const
    {
        std::string list = "TEMPLATE CLONE NAME:bk1\n";
        for (std::size_t i = 0; i < tpl.image_ids.size(); ++i) {
            const std::string& id = tpl.image_ids[i];
            list += id + ":bk1-disk-" + std::to_string(i) + ":" + platform_.image_field(id, "datastore") + ":" +
                    platform_.image_field(id, "prefix") + ":" + platform_.image_field(id, "driver") + ":" +
                    platform_.image_field(id, "type") + ":" + platform_.image_field(id, "disk-type") + ":0\n";
        }
        return list;
    }

    const std::vector<std::string> stems_ = {"vd-disk-0", "vd-disk-1", "sd-disk-2", "vd-disk-3"};
};

TEST_F(FourImageBackup, ArchivesTemplateFilesImageListAndEveryImagesDataThenDeletesTheClone)
{
    const auto tpl = declare_four_image_template();
    const auto result = backup("web", "bk1");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;

    // Standard output: the module's pid first, the engine's lines, then the three result lines.
    const auto out = lines_of(result.out);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.front().rfind("MODULE PID:", 0), 0u) << out.front();
    const auto protocol = protocol_lines(result.out);
    ASSERT_GE(protocol.size(), 6u);
    EXPECT_EQ(protocol[1].rfind("HXFD PID: ", 0), 0u);
    EXPECT_TRUE(any_call_contains(protocol, "Packed: "));
    const std::vector<std::string> last(protocol.end() - 3, protocol.end());
    EXPECT_EQ(last, (std::vector<std::string>{"MAIN ARCHIVE FILENAME:" + op_dir_ + "/bk1.snap",
                                              "MAIN SNAPSHOT FILENAME:" + op_dir_ + "/bk1.snap",
                                              "MAIN ARCHIVE SIGN FILENAME:" + op_dir_ + "/bk1.signature"}));
    EXPECT_FALSE(contains(result.out, "SET BACKUP TYPE TO FULL")) << "a full backup is not re-typed";

    // The engine's store: template files, the image list, each image's description and data.
    std::vector<std::string> expected = {"orig_template.xml", "template.xml", "template_image_list"};
    for (const std::string& stem : stems_) {
        expected.push_back(stem);
        expected.push_back(stem + ".xml");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(store_entries("bk1"), expected);
    EXPECT_EQ(store_entry("bk1", "template_image_list"), expected_image_list(tpl));
    for (std::size_t i = 0; i < stems_.size(); ++i) {
        EXPECT_EQ(store_entry("bk1", stems_[i]), image_data(tpl.image_ids[i])) << stems_[i];
    }
    const std::string clone_file = store_entry("bk1", "template.xml");
    EXPECT_TRUE(contains(clone_file, "<IMAGE>bk1-disk-3</IMAGE>")) << clone_file;
    EXPECT_TRUE(contains(clone_file, "<NAME>web</NAME>")) << clone_file;
    const std::string source_file = store_entry("bk1", "orig_template.xml");
    EXPECT_TRUE(contains(source_file, "<IMAGE>web-os</IMAGE>")) << source_file;
    EXPECT_TRUE(contains(source_file, "<NAME>web</NAME>")) << source_file;

    // The snapshot file: the marker and the source images' descriptions without their VMS.
    std::vector<std::string> members = {"bk1.meta", "template_image_ids_marker"};
    for (const std::string& stem : stems_) {
        members.push_back(stem + ".xml");
    }
    std::sort(members.begin(), members.end());
    EXPECT_EQ(snapshot_members("bk1"), members);
    EXPECT_EQ(snapshot_member("bk1", "template_image_ids_marker"), "");
    for (std::size_t i = 0; i < stems_.size(); ++i) {
        const std::string xml = snapshot_member("bk1", stems_[i] + ".xml");
        EXPECT_TRUE(contains(xml, "<ID>" + tpl.image_ids[i] + "</ID>")) << xml;
        EXPECT_TRUE(contains(xml, "<NAME>" + tpl.image_names[i] + "</NAME>")) << xml;
        EXPECT_FALSE(contains(xml, "<VMS")) << xml;
        EXPECT_EQ(store_entry("bk1", stems_[i] + ".xml"), xml);
    }

    // The platform as before the run; the Ceph image was exported into the staging directory.
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
    std::vector<std::string> sources = tpl.image_names;
    std::sort(sources.begin(), sources.end());
    EXPECT_EQ(platform_names("images"), sources);
    expect_nothing_left("bk1");
    const auto onetemplate = platform_.calls("onetemplate");
    // The source and the clone are named by their IDs: web is 0, the clone 1.
    EXPECT_TRUE(any_call_contains(onetemplate, "/usr/bin/onetemplate clone 0 bk1 --recursive"));
    EXPECT_TRUE(any_call_contains(onetemplate, "/usr/bin/onetemplate delete 1 --recursive"));
    EXPECT_TRUE(any_call_contains(platform_.calls("rbd"), " export one/one-"));
    EXPECT_TRUE(any_call_contains(platform_.calls("rbd"), " " + op_dir_ + "/bk1/vd-disk-3 --id libvirt"));
    EXPECT_TRUE(contains(log(), "The task to make a full backup of resource 'web' completed successfully"));
}

class ReTypedBackup : public FourImageBackup, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReTypedBackup, IsMadeAsAFullBackupWithoutReferenceMeta)
{
    const auto tpl = declare_four_image_template();
    ASSERT_EQ(backup("web", "bk1").exit_status, 0);
    const std::string reference = op_dir_ + "/bk1.snap";
    ASSERT_TRUE(fs::exists(reference));
    platform_.fixture({"calls", "hxfd", "--clear"});

    const auto result = backup("web", "bk2", {"-s", reference}, GetParam());
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    const auto protocol = protocol_lines(result.out);
    EXPECT_EQ(std::count(protocol.begin(), protocol.end(), "SET BACKUP TYPE TO FULL"), 1);
    const auto engine = platform_.calls("hxfd");
    ASSERT_EQ(engine.size(), 1u);
    EXPECT_FALSE(contains(engine[0], " -S ")) << engine[0];
    EXPECT_EQ(store_entries("bk2").size(), 11u);
    EXPECT_EQ(store_entry("bk2", "vd-disk-0"), image_data(tpl.image_ids[0]));
    EXPECT_TRUE(contains(log(), "The task to make a full backup of resource 'web' completed successfully"));
    expect_nothing_left("bk2");
}

INSTANTIATE_TEST_SUITE_P(IncrementalAndDifferential, ReTypedBackup, ::testing::Values("-2", "-3"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param) == "-2" ? "Incremental" : "Differential";
                         });

TEST_F(FourImageBackup, NewNameIsTheNameInBothTemplateFiles)
{
    declare_four_image_template();
    const auto result = backup("web", "bk1", {"-e", "new_name:copy;1"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    for (const char* file : {"template.xml", "orig_template.xml"}) {
        const std::string xml = store_entry("bk1", file);
        EXPECT_TRUE(contains(xml, "<NAME>copy1</NAME>")) << file << "\n" << xml;
        EXPECT_FALSE(contains(xml, "<NAME>web</NAME>")) << file;
    }
}

TEST_F(FourImageBackup, TemplateGivenByIdIsClonedAndNamedByItsName)
{
    const auto tpl = declare_four_image_template();
    const auto result = backup("0", "bk1");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_TRUE(any_call_contains(platform_.calls("onetemplate"), "/usr/bin/onetemplate clone 0 bk1 --recursive"));
    EXPECT_TRUE(contains(store_entry("bk1", "template.xml"), "<NAME>web</NAME>"));
    EXPECT_EQ(store_entry("bk1", "template_image_list"), expected_image_list(tpl));
    expect_nothing_left("bk1");
}

// Names that the shell would read reach every tool as one word each.
TEST_F(FourImageBackup, NamesWithShellCharactersStayOneWord)
{
    const std::string tpl_name = "it`s web*";
    const std::string archive = "bk `touch x` 1";
    declare_four_image_template(tpl_name);
    const auto result = backup(tpl_name, archive);
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_TRUE(any_call_contains(platform_.calls("onetemplate"), "/usr/bin/onetemplate show 'it`s web*' -x"));
    EXPECT_TRUE(any_call_contains(platform_.calls("onetemplate"),
                                  "/usr/bin/onetemplate clone 0 'bk `touch x` 1' --recursive"));
    EXPECT_EQ(store_entry(archive, "vd-disk-3"), "ceph image bytes");
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{tpl_name});
    EXPECT_FALSE(fs::exists("x"));
    EXPECT_FALSE(fs::exists("/x"));
    expect_nothing_left(archive);
}

// A description left in the snapshot directory by an earlier run is replaced, not appended to.
TEST_F(FourImageBackup, StaleImageDescriptionIsReplaced)
{
    const auto tpl = declare_four_image_template();
    fs::create_directories(op_dir_ + "/bk1.snap_dir");
    ::chmod((op_dir_ + "/bk1.snap_dir").c_str(), 0700);  // private, as the run makes it
    kevra_test::write_file(op_dir_ + "/bk1.snap_dir/vd-disk-0.xml", "<IMAGE><ID>999</ID></IMAGE>\n");
    const auto result = backup("web", "bk1");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    const std::string xml = store_entry("bk1", "vd-disk-0.xml");
    EXPECT_TRUE(contains(xml, "<ID>" + tpl.image_ids[0] + "</ID>")) << xml;
    EXPECT_FALSE(contains(xml, "999")) << xml;
}

// A staging directory left by an earlier run that could not clean up is replaced:
// its files are not archived and its exported Ceph image does not block the export.
TEST_F(FourImageBackup, StagingDirectoryOfAnEarlierRunIsReplaced)
{
    declare_four_image_template();
    fs::create_directories(op_dir_ + "/bk1");
    ::chmod((op_dir_ + "/bk1").c_str(), 0700);  // private, as the run makes it
    kevra_test::write_file(op_dir_ + "/bk1/vd-disk-3", "stale export");
    kevra_test::write_file(op_dir_ + "/bk1/template_image_list", "TEMPLATE CLONE NAME:old\n");
    const auto result = backup("web", "bk1");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_EQ(store_entry("bk1", "vd-disk-3"), "ceph image bytes");
    EXPECT_EQ(lines_of(store_entry("bk1", "template_image_list")).front(), "TEMPLATE CLONE NAME:bk1");
    expect_nothing_left("bk1");
}

TEST_F(FourImageBackup, ConfigurationOnlyMakesNoCloneAndArchivesNoData)
{
    const auto tpl = declare_four_image_template();
    const auto result = backup("web", "bk1", {"-e", "backup_only_config:yes"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;

    const std::vector<std::string> stems = {"vdweb-os", "vdweb-data", "sdweb-block", "vdweb-ceph"};
    std::vector<std::string> expected = {"template.xml", "template_image_list"};
    for (const std::string& stem : stems) {
        expected.push_back(stem + ".xml");
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(store_entries("bk1"), expected);

    std::string list;
    for (std::size_t i = 0; i < tpl.image_ids.size(); ++i) {
        const std::string& id = tpl.image_ids[i];
        list += id + ":" + tpl.image_names[i] + ":" + platform_.image_field(id, "datastore") + ":" +
                platform_.image_field(id, "prefix") + "::" + platform_.image_field(id, "type") + ":" +
                platform_.image_field(id, "disk-type") + ":0\n";
    }
    EXPECT_EQ(store_entry("bk1", "template_image_list"), list);
    std::vector<std::string> members = {"bk1.meta"};
    for (const std::string& stem : stems) {
        members.push_back(stem + ".xml");
    }
    std::sort(members.begin(), members.end());
    EXPECT_EQ(snapshot_members("bk1"), members);

    const auto onetemplate = platform_.calls("onetemplate");
    EXPECT_FALSE(any_call_contains(onetemplate, " clone ")) << "no clone";
    EXPECT_FALSE(any_call_contains(onetemplate, " delete ")) << "no template deleted";
    EXPECT_TRUE(platform_.calls("rbd").empty() || !any_call_contains(platform_.calls("rbd"), " export "));
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"web"});
    expect_nothing_left("bk1");
}

TEST_F(FourImageBackup, ArchivingDeletesTheTemplateWithItsImages)
{
    declare_four_image_template();
    const auto result = backup("web", "bk1", {"-a"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_TRUE(platform_names("templates").empty());
    EXPECT_TRUE(platform_names("images").empty());
    EXPECT_TRUE(contains(log(), "The template 'web' has been removed"));
}

TEST_F(FourImageBackup, ArchivingAConfigurationOnlyBackupKeepsTheImages)
{
    const auto tpl = declare_four_image_template();
    const auto result = backup("web", "bk1", {"-a", "-e", "backup_only_config:true"});
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_TRUE(platform_names("templates").empty());
    std::vector<std::string> sources = tpl.image_names;
    std::sort(sources.begin(), sources.end());
    EXPECT_EQ(platform_names("images"), sources);
    EXPECT_TRUE(contains(log(), "its images are kept"));
    EXPECT_TRUE(any_call_contains(platform_.calls("onetemplate"), "/usr/bin/onetemplate delete 0"));
    EXPECT_FALSE(any_call_contains(platform_.calls("onetemplate"), "delete 0 --recursive"));
}

TEST_F(FourImageBackup, EngineReportingIncompleteDataEndsWithTheResultLinesAndAWarning)
{
    declare_four_image_template();
    platform_.fixture({"fault", "hxfd", "backup", "--exit", "100"});
    const auto result = backup("web", "bk1");
    EXPECT_EQ(result.exit_status, 100) << result.out << result.err;
    const auto protocol = protocol_lines(result.out);
    ASSERT_GE(protocol.size(), 3u);
    EXPECT_EQ(protocol.back(), "MAIN ARCHIVE SIGN FILENAME:" + op_dir_ + "/bk1.signature");
    EXPECT_TRUE(contains(log(), "Warning: The work of the module is completed without a guarantee of completeness "
                                "and consistency of the data"));
    expect_nothing_left("bk1");
}

// A disk type without data (here CDROM) is listed and described, and nothing of its data is archived.
TEST_F(FourImageBackup, ImageWithoutDataIsListedAndDescribedOnly)
{
    const std::string files = files_datastore();
    const std::string cdrom_ds = platform_.datastore({"--name", "cdroms", "--disk-type", "1"});
    const std::string os = platform_.image({"--name", "os", "--datastore", files, "--prefix", "vd", "--content", "os"});
    const std::string iso = platform_.image(
        {"--name", "iso", "--datastore", cdrom_ds, "--prefix", "hd", "--type", "CDROM", "--content", "iso bytes"});
    platform_.vm_template({"--name", "cd", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + iso});

    const auto result = backup("cd", "bk1");
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
    EXPECT_EQ(store_entries("bk1"),
              (std::vector<std::string>{"hd-disk-1.xml", "orig_template.xml", "template.xml", "template_image_list",
                                        "vd-disk-0", "vd-disk-0.xml"}));
    const auto list = lines_of(store_entry("bk1", "template_image_list"));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2], iso + ":bk1-disk-1:" + cdrom_ds + ":hd::1:1:0");
    EXPECT_TRUE(contains(snapshot_member("bk1", "hd-disk-1.xml"), "<NAME>iso</NAME>"));
    expect_nothing_left("bk1");
}

}  // namespace
