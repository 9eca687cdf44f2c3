// Replicas made by the real program (create-replica) and applied in the
// sandbox (apply-replica): onto a template name that is free the template is
// restored anew with copies of the data; onto an existing template the data is
// written over the images that stand for the archived ones, and the template
// is left as it is. Failures end with 7 and write nothing.
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

class ReplicaApply : public kevra_e2e::TemplateRestoreTest {
protected:
    // Template "src": a FILE image, a BLOCK image and a CD-ROM (no data), replicated as rep1.
    void replicate_source()
    {
        const std::string files = files_datastore();
        const std::string lvm = platform_.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
        const std::string cdroms = platform_.datastore({"--name", "cdroms", "--disk-type", "1"});
        const std::string os =
            platform_.image({"--name", "src-os", "--datastore", files, "--prefix", "vd", "--content", kOs});
        const std::string block = platform_.image(
            {"--name", "src-lv", "--datastore", lvm, "--prefix", "sd", "--type", "DATABLOCK", "--content", kBlock});
        const std::string iso = platform_.image(
            {"--name", "src-iso", "--datastore", cdroms, "--prefix", "hd", "--type", "CDROM", "--content", "iso"});
        platform_.vm_template(
            {"--name", "src", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + block, "--disk", "IMAGE_ID=" + iso});
        back_up("src", "rep1", true);
    }

    // Replaces an image's data by as many bytes of garbage.
    void spoil(const std::string& image) const
    {
        const std::string path = platform_.image_field(image, "data-path");
        kevra_test::write_file(path, std::string(kevra_test::read_file(path).size(), '#'));
    }

    static constexpr const char* kOs = "replicated operating system";
    static constexpr const char* kBlock = "replicated logical volume";
};

TEST_F(ReplicaApply, FirstApplicationRestoresAnewLaterOnesWriteOverTheImages)
{
    replicate_source();
    const auto first = apply_replica("new_name:copy");
    ASSERT_EQ(first.exit_status, 0) << first.out << log();
    EXPECT_EQ(first.out.rfind("MODULE PID:", 0), 0u);
    EXPECT_EQ(images_named("copy"), (std::vector<std::string>{"copy-disk-0", "copy-disk-1"}));
    EXPECT_EQ(image_data("copy-disk-0"), kOs);
    EXPECT_EQ(image_data("copy-disk-1"), kBlock);
    const std::string xml = template_xml("copy");
    EXPECT_TRUE(contains(xml, "<IMAGE><![CDATA[src-iso]]></IMAGE>")) << xml;
    // The engine ran in replica mode, in the run's own directory, which goes
    // with the copies of the restored files when the run ends.
    const auto engine = platform_.calls("hxfd");
    ASSERT_EQ(engine.size(), 1u);
    EXPECT_TRUE(contains(engine[0], " -d " + replica_dir_ + "/42.rest -E")) << engine[0];
    EXPECT_EQ(tree(replica_dir_), std::vector<std::string>{});
    EXPECT_EQ(tree("/var/tmp"), std::vector<std::string>{});

    spoil("copy-disk-0");
    spoil("copy-disk-1");
    const auto images_before = platform_names("images");
    const auto second = apply_replica("new_name:copy,dd_block_size:16");
    ASSERT_EQ(second.exit_status, 0) << second.out << log();
    EXPECT_EQ(image_data("copy-disk-0"), kOs);
    EXPECT_EQ(image_data("copy-disk-1"), kBlock);
    EXPECT_EQ(template_xml("copy"), xml);
    EXPECT_EQ(platform_names("images"), images_before);
    EXPECT_EQ(platform_names("templates"), (std::vector<std::string>{"copy", "src"}));
    const std::string records = log();
    for (const std::string image : {"copy-disk-0", "copy-disk-1"}) {
        const std::string source = platform_.image_field(image, "source");
        // dd reads the restored file that was checked and writes the image's
        // data as it was opened, both through open descriptors.
        EXPECT_TRUE(contains(records, "(" + replica_dir_ +
                                          (image == "copy-disk-0" ? "/42.rest/vd-disk-0" : "/42.rest/sd-disk-1") +
                                          ") was written over the image '" + image + "' (" + source +
                                          "): /bin/dd if=/proc/self/fd/"))
            << records;
        EXPECT_FALSE(contains(records, " of=" + source)) << records;
        EXPECT_TRUE(contains(records, " of=/proc/self/fd/")) << records;
        EXPECT_TRUE(contains(records, " bs=16M")) << records;
    }
}

// restore_only_config does not apply to a replica: the template comes with its images.
TEST_F(ReplicaApply, RestoreOnlyConfigIsNotTakenIntoAccount)
{
    replicate_source();
    const auto result = apply_replica("new_name:copy,restore_only_config:yes");
    ASSERT_EQ(result.exit_status, 0) << log();
    EXPECT_TRUE(contains(log(), "Option 'restore_only_config' is set, but it won't be taken into account"));
    EXPECT_EQ(image_data("copy-disk-0"), kOs);
    EXPECT_EQ(image_data("copy-disk-1"), kBlock);
}

// Existing templates that the replica cannot be applied onto: each ends with 7
// and leaves every image's data as it was.
struct TargetCase {
    const char* label;
    std::vector<std::vector<std::string>> images;  // fixture image options (datastore added)
    std::vector<std::string> template_disks;       // image names of the template "copy"
    std::vector<std::string> after;                // fixture commands run after declaring
    std::string record;
};

void PrintTo(const TargetCase& c, std::ostream* out)
{
    *out << c.label;
}

class ReplicaTarget : public ReplicaApply, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(ReplicaTarget, EndsWithSevenAndWritesNothing)
{
    const TargetCase& c = GetParam();
    replicate_source();
    const std::string files = files_datastore();
    for (std::vector<std::string> options : c.images) {
        options.push_back("--datastore");
        options.push_back(files);
        platform_.image(options);
    }
    std::vector<std::string> tpl = {"--name", "copy"};
    for (const std::string& disk : c.template_disks) {
        tpl.push_back("--disk");
        tpl.push_back("IMAGE=" + disk + ",IMAGE_UNAME=oneadmin");
    }
    platform_.vm_template(tpl);
    if (!c.after.empty()) {
        platform_.fixture(c.after);
    }
    std::vector<std::string> data_before;
    for (const auto& options : c.images) {
        data_before.push_back(image_data(options[1]));
    }
    const auto images_before = platform_names("images");

    const auto result = apply_replica("new_name:copy");
    EXPECT_EQ(result.exit_status, 7) << result.out;
    EXPECT_TRUE(contains(log(), c.record)) << log();
    for (std::size_t i = 0; i < c.images.size(); ++i) {
        EXPECT_EQ(image_data(c.images[i][1]), data_before[i]) << c.images[i][1];
    }
    EXPECT_EQ(platform_names("images"), images_before);
    EXPECT_EQ(platform_names("templates"), (std::vector<std::string>{"copy", "src"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplicaTarget,
    ::testing::Values(
        TargetCase{"MatchesNone",
                   {{"--name", "other", "--content", "other"},
                    {"--name", "copy-disk-0", "--content", "not in the template"},
                    {"--name", "copy-disk-1", "--content", "not in it either"}},
                   {"other"},
                   {},
                   "none of the restored images matches an image of the template 'copy'; nothing was written"},
        TargetCase{"ImageMissing",
                   {{"--name", "copy-disk-0", "--content", "old os"}},
                   {"copy-disk-0"},
                   {},
                   "image with the name 'copy-disk-1' does not exist in Kevra."},
        TargetCase{"WrongSize",
                   {{"--name", "copy-disk-0", "--size-mb", "3"}, {"--name", "copy-disk-1", "--content", "old lv"}},
                   {"copy-disk-0", "copy-disk-1"},
                   {},
                   "image with the name 'copy-disk-0' unexpectedly has wrong size: 3145728"},
        TargetCase{"NotReady",
                   {{"--name", "copy-disk-0", "--content", "old os"}, {"--name", "copy-disk-1", "--content", "old lv"}},
                   {"copy-disk-0", "copy-disk-1"},
                   {"set-image", "copy-disk-0", "--state", "2"},
                   "image 'copy-disk-0' is not in 'ready' state"}),
    [](const ::testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.label); });

// A restored file that came back as a link to a root-only host file of the
// image's size is written nowhere: the host file and the images stay as they are.
TEST_F(ReplicaApply, RestoredFileThatIsALinkIsWrittenNowhere)
{
    replicate_source();
    ASSERT_EQ(apply_replica("new_name:copy").exit_status, 0) << log();
    spoil("copy-disk-0");
    const std::string spoiled = image_data("copy-disk-0");
    const std::string decoy = kevra_test::scratch_dir("decoy") + "/secret";
    const std::string secret(std::string(kOs).size(), 'S');
    kevra_test::write_file(decoy, secret);
    ASSERT_EQ(::chmod(decoy.c_str(), 0600), 0);
    platform_.fixture({"alter-archive", "rep1", "--link", "vd-disk-0=" + decoy});
    platform_.fixture({"calls", "all", "--clear"});

    const auto result = apply_replica("new_name:copy");
    EXPECT_EQ(result.exit_status, 7) << result.out;
    EXPECT_TRUE(contains(log(), "the restored file " + replica_dir_ + "/42.rest/vd-disk-0 is a symbolic link")) << log();
    EXPECT_FALSE(contains(log(), "was written over the image")) << log();
    EXPECT_EQ(image_data("copy-disk-0"), spoiled);
    EXPECT_EQ(image_data("copy-disk-1"), kBlock);
    struct stat status {};
    ASSERT_EQ(::lstat(decoy.c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
    EXPECT_EQ(status.st_gid, 0u);
    EXPECT_EQ(status.st_mode, static_cast<mode_t>(S_IFREG | 0600));
    EXPECT_EQ(kevra_test::read_file(decoy), secret);
    for (const std::string tool : {"oneimage", "onetemplate"}) {
        for (const std::string& call : platform_.calls(tool)) {
            EXPECT_FALSE(contains(call, " create ")) << call;
        }
    }
}

// A record id that climbs out of the operation directory is refused before the engine runs.
TEST_F(ReplicaApply, RecordIdsWithPathPiecesAreRefused)
{
    replicate_source();
    for (const std::string record : {"../x", "a/b", ".."}) {
        SCOPED_TRACE(record);
        const auto result = apply_replica("new_name:copy", record);
        EXPECT_EQ(result.exit_status, 7);
        EXPECT_TRUE(contains(log(), "can't name a directory inside the operation directory")) << log();
        EXPECT_EQ(engine_calls(), 0u);
        EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"src"});
        EXPECT_FALSE(fs::exists(replica_dir_ + "/rep1.snap_dir"));
    }
}

}  // namespace
