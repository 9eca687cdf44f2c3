// A replica application and another local user (intruder, uid 4242), run in
// the sandbox. The engine unpacks the replica into a directory that the run
// makes new inside the operation directory (root's, 0700) and removes at the
// end: while the members still have the archive's modes (0666 here) the user
// can neither list, read, keep open nor replace any of them, whether the
// operation directory is sticky or root's. Whatever stands at that name
// beforehand is refused before the engine starts. The images' data is written
// and read only as the file or device that stands at SOURCE itself: a link
// there, or on the way below the datastore's base path, is refused by a
// replica application (7) and by a backup (6), and the host file it leads to
// stays as it was.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::state_of;
namespace fs = boost::filesystem;

const uid_t kOneadmin = 9869;
const char* const kTemplateXml =
    "<TEMPLATE><NAME><![CDATA[copy]]></NAME><DISK><IMAGE><![CDATA[rp1-disk-0]]></IMAGE>"
    "<IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK></TEMPLATE>\n";
const char* const kDiskData = "replica disk bytes\n";

// A new directory `path` of root's with exactly `mode`.
void make_directory(const std::string& path, mode_t mode)
{
    fs::create_directories(path);
    ASSERT_EQ(::chown(path.c_str(), 0, 0), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

// Replaces whatever stands at `path` by a symbolic link to `target` owned by `owner`.
void plant_link(const std::string& path, const std::string& target, uid_t owner)
{
    fs::remove_all(path);
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
    ASSERT_EQ(::lchown(path.c_str(), owner, owner), 0) << path;
}

class ReplicaPrivateDirectory : public kevra_e2e::TemplateRestoreTest {
protected:
    void SetUp() override
    {
        TemplateRestoreTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        // A root-only host directory with a root-only file in it.
        decoy_ = kevra_test::scratch_dir("decoy");
        ::chmod(decoy_.c_str(), 0700);
        decoy_file_ = decoy_ + "/secret";
        kevra_test::write_file(decoy_file_, std::string(std::string(kDiskData).size(), 'S'));
        ::chmod(decoy_file_.c_str(), 0600);
    }

    // An archive as a replica of one FILE image leaves it, every member of
    // mode 0666; returns its meta file.
    std::string world_writable_replica()
    {
        const std::string sources = kevra_test::scratch_dir("replica-members");
        const std::map<std::string, std::string> entries = {
            {"template.xml", kTemplateXml},
            {"template_image_list", "TEMPLATE CLONE NAME:rp1\n7:rp1-disk-0:" + files_datastore() + ":vd::0:0:0\n"},
            {"vd-disk-0", kDiskData}};
        std::vector<std::string> args = {"make-archive", "rp1", "--server", kServer, "--task", kTask};
        for (const auto& entry : entries) {
            const std::string file = sources + "/" + entry.first;
            kevra_test::write_file(file, entry.second);
            EXPECT_EQ(::chmod(file.c_str(), 0666), 0);
            args.push_back("--entry=" + entry.first + "=" + file);
        }
        const std::string meta = kevra_test::scratch_dir("meta") + "/rp1.meta";
        args.push_back("--meta");
        args.push_back(meta);
        platform_.fixture(args);
        return meta;
    }

    // apply-replica of record 42 in `directory` from the meta file `meta`.
    kevra_test::ProgramResult apply_in(const std::string& directory, const std::string& meta,
                                       const std::string& params = "new_name:copy")
    {
        return run_module({"-R", kRecord, "-d", directory, "-m", kServer, "-T", kTask, "-M", meta, "-e", params});
    }

    // What the user's hook runs left, "" when they never ran.
    static std::string user_log()
    {
        return kevra_test::read_file(std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/as-user.log");
    }

    std::string decoy_;
    std::string decoy_file_;
};

// --- the other user while the engine unpacks ----------------------------------

struct RaceCase {
    const char* label;
    mode_t directory_mode;  // of the operation directory, root's
    const char* attempt;    // the user's shell command; {d} stands for the operation directory
};

void PrintTo(const RaceCase& c, std::ostream* out)
{
    *out << c.label;
}

std::string with_directory(std::string text, const std::string& directory)
{
    for (std::string::size_type at = text.find("{d}"); at != std::string::npos; at = text.find("{d}")) {
        text.replace(at, 3, directory);
    }
    return text;
}

class ReplicaRace : public ReplicaPrivateDirectory, public ::testing::WithParamInterface<RaceCase> {};

TEST_P(ReplicaRace, TheUserReadsAndChangesNothingAndTheReplicaIsApplied)
{
    const RaceCase& c = GetParam();
    const std::string meta = world_writable_replica();
    const std::string directory = kevra_test::scratch_dir(std::string("op-") + c.label);
    make_directory(directory, c.directory_mode);
    // Right after the engine has unpacked every member, before it answers;
    // then root looks at the modes there.
    platform_.fixture({"fault", "hxfd", "restore", "--as-user", "intruder", "--run",
                       with_directory(c.attempt, directory), "--after"});

    const auto result = apply_in(directory, meta);
    ASSERT_EQ(result.exit_status, 0) << result.out << result.err << log();
    const std::string attempt = user_log();
    EXPECT_EQ(attempt.rfind("hxfd restore after exit ", 0), 0u) << attempt;
    EXPECT_FALSE(contains(attempt, "after exit 0")) << attempt;
    EXPECT_TRUE(contains(attempt, "Permission denied")) << attempt;
    EXPECT_FALSE(contains(attempt, "replica disk bytes")) << attempt;
    EXPECT_FALSE(contains(attempt, "CDATA")) << attempt;

    // The template and the disk hold the archive's bytes.
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{"copy"});
    EXPECT_EQ(image_data("copy-disk-0"), kDiskData);
    const std::string xml = template_xml("copy");
    EXPECT_FALSE(contains(xml, "START_SCRIPT")) << xml;
    EXPECT_TRUE(contains(xml, "copy-disk-0")) << xml;
    const auto engine = platform_.calls("hxfd");
    ASSERT_EQ(engine.size(), 1u);
    EXPECT_TRUE(contains(engine[0], " -d " + directory + "/42.rest ")) << engine[0];
    EXPECT_FALSE(fs::exists(fs::symlink_status(directory + "/42.rest")));
    struct stat status {};
    ASSERT_EQ(::lstat(directory.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, c.directory_mode);
}

const RaceCase kRaceCases[] = {
    {"StickyListsTheMembers", 01777, "ls {d}/42.rest"},
    {"StickyReadsTheTemplate", 01777, "cat {d}/42.rest/template.xml"},
    {"StickyKeepsTheDiskOpen", 01777, "exec 3<>{d}/42.rest/vd-disk-0 && sleep 1 && echo user >&3"},
    {"StickyReplacesTheTemplate", 01777,
     "echo \"<TEMPLATE><START_SCRIPT>user</START_SCRIPT></TEMPLATE>\" > {d}/t && mv -f {d}/t {d}/42.rest/template.xml"},
    {"StickyWritesTheDisk", 01777, "echo user > {d}/42.rest/vd-disk-0"},
    {"RootOwnedListsTheMembers", 0755, "ls {d}/42.rest"},
    {"RootOwnedReadsTheImageList", 0755, "cat {d}/42.rest/template_image_list"},
    {"RootOwnedKeepsTheDiskOpen", 0755, "exec 3<>{d}/42.rest/vd-disk-0 && sleep 1 && echo user >&3"},
    {"RootOwnedWritesTheTemplate", 0755, "echo \"<TEMPLATE/>\" > {d}/42.rest/template.xml"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReplicaRace, ::testing::ValuesIn(kRaceCases),
                         [](const ::testing::TestParamInfo<RaceCase>& info) { return info.param.label; });

// --- what stands at the replica's directory name beforehand --------------------

TEST_F(ReplicaPrivateDirectory, ALinkAtTheDirectoryNameIsRefusedBeforeTheEngineStarts)
{
    const std::string meta = world_writable_replica();
    const std::string directory = kevra_test::scratch_dir("sticky-op");
    make_directory(directory, 01777);
    const std::string planted = directory + "/42.rest";
    // The user's link to a root-only host directory, as the user can make it in a sticky directory.
    ASSERT_EQ(platform_.shell("setpriv --reuid=4242 --regid=4242 --clear-groups ln -s " + decoy_ + " " + planted)
                  .exit_status,
              0);
    const std::string decoy_before = state_of(decoy_);
    const std::string before = state_of(directory);

    const auto result = apply_in(directory, meta);
    EXPECT_EQ(result.exit_status, 7) << result.out << result.err << log();
    EXPECT_TRUE(contains(log(), "virtual int HxModuleUniversal::define_restore_directory(): can't use the replica "
                                "directory " +
                                    planted + ": something already stands there; a replica is applied only in a "
                                              "directory that the run makes new; remove what stands there"))
        << log();
    EXPECT_EQ(engine_calls(), 0u);
    EXPECT_EQ(state_of(decoy_), decoy_before);
    EXPECT_EQ(state_of(directory), before);
    EXPECT_EQ(platform_names("templates"), std::vector<std::string>{});
}

// --- a link at an image's SOURCE -----------------------------------------------

// The template "copy" made by a first application of a replica of "src" (a
// FILE image and a BLOCK image), which the next application writes over.
class ImageSourceLink : public ReplicaPrivateDirectory {
protected:
    void replicate_and_apply_once()
    {
        const std::string lvm = platform_.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"});
        const std::string os = platform_.image(
            {"--name", "src-os", "--datastore", files_datastore(), "--prefix", "vd", "--content", kDiskData});
        const std::string block = platform_.image({"--name", "src-lv", "--datastore", lvm, "--prefix", "sd", "--type",
                                                   "DATABLOCK", "--content", kDiskData});
        platform_.vm_template({"--name", "src", "--disk", "IMAGE_ID=" + os, "--disk", "IMAGE_ID=" + block});
        back_up("src", "rep1", true);
        ASSERT_EQ(apply_replica("new_name:copy").exit_status, 0) << log();
    }
};

struct SourceLinkCase {
    const char* label;
    const char* image;  // the image of "copy" whose SOURCE is planted
    // Plants the link at or above `source`, leading to the decoy file `decoy` in
    // the directory `decoy_directory`; returns the path named in the record.
    std::string (*plant)(const std::string& source, const std::string& decoy, const std::string& decoy_directory);
    const char* why;  // the refusal after that path
};

void PrintTo(const SourceLinkCase& c, std::ostream* out)
{
    *out << c.label;
}

std::string link_at_source(const std::string& source, const std::string& decoy, const std::string&)
{
    plant_link(source, decoy, kOneadmin);
    return source;
}

std::string root_link_at_source(const std::string& source, const std::string& decoy, const std::string&)
{
    plant_link(source, decoy, 0);
    return source;
}

// The directory that holds SOURCE becomes the user's link to a host
// directory holding a file of SOURCE's name.
std::string link_above_source(const std::string& source, const std::string& decoy, const std::string& decoy_directory)
{
    const fs::path path(source);
    const std::string host_directory = decoy_directory + "/volumes";
    fs::create_directories(host_directory);
    fs::copy_file(decoy, host_directory + "/" + path.filename().string());
    plant_link(path.parent_path().string(), host_directory, kOneadmin);
    return path.parent_path().string();
}

std::string hard_link_at_source(const std::string& source, const std::string& decoy, const std::string&)
{
    fs::remove(source);
    if (::link(decoy.c_str(), source.c_str()) != 0) {
        ADD_FAILURE() << "can't link " << decoy << " at " << source;
    }
    return source;
}

class SourceLinkAtReplica : public ImageSourceLink, public ::testing::WithParamInterface<SourceLinkCase> {};

TEST_P(SourceLinkAtReplica, IsRefusedAndTheHostFileStays)
{
    const SourceLinkCase& c = GetParam();
    replicate_and_apply_once();
    const std::string source = platform_.image_field(c.image, "source");
    const std::string named = c.plant(source, decoy_file_, decoy_);
    const std::string decoy_before = state_of(decoy_);

    const auto result = apply_replica("new_name:copy");
    EXPECT_EQ(result.exit_status, 7) << result.out << log();
    const std::string record = "bool HxModuleKevraTemplate::replace_template_images(const std::string&): the data "
                               "of the image '" +
                               std::string(c.image) + "' can't be written: " + named + c.why;
    EXPECT_TRUE(contains(log(), record)) << "expected record: " << record << "\nlog:\n" << log();
    EXPECT_FALSE(contains(log(), "was written over the image '" + std::string(c.image) + "'")) << log();
    EXPECT_EQ(state_of(decoy_), decoy_before);
    EXPECT_EQ(tree(replica_dir_), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceLinkAtReplica,
    ::testing::Values(SourceLinkCase{"FileImageLinkOfTheServiceAccount", "copy-disk-0", link_at_source,
                                     " is a symbolic link"},
                      SourceLinkCase{"FileImageLinkOfRoot", "copy-disk-0", root_link_at_source, " is a symbolic link"},
                      SourceLinkCase{"FileImageHardLink", "copy-disk-0", hard_link_at_source,
                                     " is a file with more than one link"},
                      SourceLinkCase{"BlockImageLink", "copy-disk-1", link_at_source,
                                     " is a symbolic link that another user can change"},
                      SourceLinkCase{"BlockImageDirectoryLink", "copy-disk-1", link_above_source,
                                     " is a symbolic link that another user can change"}),
    [](const ::testing::TestParamInfo<SourceLinkCase>& info) { return std::string(info.param.label); });

// A block device's path is often root's link in a directory only root can
// change (/dev/<group>/<volume>): that one is followed, and the data written
// where it leads.
TEST_F(ImageSourceLink, RootsLinkInARootOnlyDirectoryIsFollowedForABlockImage)
{
    replicate_and_apply_once();
    const std::string source = platform_.image_field("copy-disk-1", "source");
    const std::string volume = source + ".volume";
    fs::rename(source, volume);
    plant_link(source, fs::path(volume).filename().string(), 0);
    ASSERT_EQ(::chmod(fs::path(source).parent_path().c_str(), 0755), 0);
    kevra_test::write_file(volume, std::string(std::string(kDiskData).size(), '#'));

    const auto result = apply_replica("new_name:copy");
    ASSERT_EQ(result.exit_status, 0) << result.out << log();
    EXPECT_EQ(kevra_test::read_file(volume), kDiskData);
    EXPECT_TRUE(fs::is_symlink(source));
}

// --- a link at an image's SOURCE when a backup stages it ----------------------

struct BackupPlantCase {
    const char* label;
    bool block;        // a BLOCK image (else a FILE image)
    const char* plant; // run by root right after the clone: {o} the source image's file name, {x} the decoy
    const char* why;   // the refusal after the clone image's SOURCE
};

void PrintTo(const BackupPlantCase& c, std::ostream* out)
{
    *out << c.label;
}

std::string with_names(std::string text, const std::string& original, const std::string& decoy)
{
    for (std::string::size_type at = text.find("{o}"); at != std::string::npos; at = text.find("{o}")) {
        text.replace(at, 3, original);
    }
    for (std::string::size_type at = text.find("{x}"); at != std::string::npos; at = text.find("{x}")) {
        text.replace(at, 3, decoy);
    }
    return text;
}

class SourceLinkAtBackup : public ReplicaPrivateDirectory, public ::testing::WithParamInterface<BackupPlantCase> {};

TEST_P(SourceLinkAtBackup, FailsTheBackupAndNothingOfTheTargetIsArchived)
{
    const BackupPlantCase& c = GetParam();
    const std::string datastore =
        c.block ? platform_.datastore({"--name", "lvm", "--tm-mad", "lvm_lvm"}) : files_datastore();
    const std::string image = platform_.image({"--name", "web-disk", "--datastore", datastore, "--prefix", "vd",
                                               "--type", "DATABLOCK", "--content", kDiskData});
    platform_.vm_template({"--name", "web", "--disk", "IMAGE_ID=" + image});
    // The clone's image has a SOURCE of its own beside the source image's:
    // whatever else stands in that directory right after the clone is replaced.
    const fs::path source(platform_.image_field(image, "source"));
    const std::string plant = "cd " + source.parent_path().string() + " && for f in *; do [ \"$f\" = " +
                              source.filename().string() + " ] || { rm -f \"$f\"; " +
                              with_names(c.plant, source.filename().string(), decoy_file_) + "; }; done";
    platform_.fixture({"fault", "onetemplate", "clone", "--as-user", "root", "--run", plant, "--after"});
    const std::string decoy_content = kevra_test::read_file(decoy_file_);

    const auto result = backup("web", "bk1");
    EXPECT_EQ(result.exit_status, 6) << result.out << log();
    const std::string attempt = user_log();
    EXPECT_EQ(attempt, "onetemplate clone after exit 0\n");
    const std::string record = "virtual bool HxModuleKevraTemplate::prepare_resource_before_backup(const bool&): the "
                               "data of the image ";
    EXPECT_TRUE(contains(log(), record)) << log();
    EXPECT_TRUE(contains(log(), c.why)) << log();
    EXPECT_EQ(engine_calls(), 0u);
    EXPECT_FALSE(contains(result.out, "MAIN ARCHIVE FILENAME:"));
    EXPECT_EQ(kevra_test::read_file(decoy_file_), decoy_content);
    struct stat status {};
    ASSERT_EQ(::lstat(decoy_file_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode, static_cast<mode_t>(S_IFREG | 0600));
    EXPECT_EQ(status.st_uid, 0u);
    expect_nothing_left("bk1");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SourceLinkAtBackup,
    ::testing::Values(BackupPlantCase{"FileImageLink", false, "ln -s {x} \"$f\" && chown -h 9869:9869 \"$f\"",
                                      " is a symbolic link; a backup reads only"},
                      BackupPlantCase{"FileImageHardLink", false, "ln {x} \"$f\"",
                                      " is a file with more than one link; a backup reads only"},
                      BackupPlantCase{"BlockImageLink", true, "ln -s {x} \"$f\" && chown -h 9869:9869 \"$f\"",
                                      " is a symbolic link that another user can change; a backup reads only"}),
    [](const ::testing::TestParamInfo<BackupPlantCase>& info) { return std::string(info.param.label); });

}  // namespace
