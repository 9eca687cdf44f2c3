// What a run hands on carries only the permissions it chose: a restored file
// reaches `oneimage create` owned by oneadmin with mode 0600 whatever mode it
// had in the archive (0666, 2664, 4755 ...), a replica's restored files stay
// root's alone, and every file a backup stages for the engine, the exported
// Ceph image among them, and the snapshot file can be read by root only, even
// when the agent starts the program with an empty file-creation mask.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/restore_e2e_support.h"
#include "tests/support/platform_fixture.h"

namespace {

using kevra_e2e::contains;
using kevra_e2e::lines_of;
namespace fs = boost::filesystem;

const char* const kOneadmin = "9869:9869";
const char* const kTemplateXml =
    "<TEMPLATE><NAME><![CDATA[solo]]></NAME><DISK><IMAGE><![CDATA[bk9-disk-0]]></IMAGE>"
    "<IMAGE_UNAME><![CDATA[oneadmin]]></IMAGE_UNAME></DISK></TEMPLATE>\n";

// One line of a stand-in's record of what it was handed: "<path> <mode> <uid>:<gid>".
struct Handed {
    std::string path;
    std::string mode;
    std::string owner;
};

std::vector<Handed> handed_files(const std::string& log_name)
{
    const char* state = std::getenv("KEVRA_PLATFORM_STATE");
    std::vector<Handed> files;
    if (state == nullptr) {
        ADD_FAILURE() << "KEVRA_PLATFORM_STATE is not set";
        return files;
    }
    for (const std::string& line : lines_of(kevra_test::read_file(std::string(state) + "/calls/" + log_name))) {
        std::istringstream words(line);
        Handed handed;
        words >> handed.path >> handed.mode >> handed.owner;
        files.push_back(handed);
    }
    return files;
}

std::string octal(mode_t mode)
{
    std::ostringstream text;
    text.width(4);
    text.fill('0');
    text << std::oct << (mode & 07777);
    return text.str();
}

// Mode (four octal digits) and owner of `path` as the stand-ins write them.
Handed status_of(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        ADD_FAILURE() << "can't examine " << path;
        return {path, "", ""};
    }
    return {path, octal(status.st_mode), std::to_string(status.st_uid) + ":" + std::to_string(status.st_gid)};
}

class HandedFileModes : public kevra_e2e::TemplateRestoreTest {
protected:
    // An archive of one FILE image in `datastore` whose data file had `mode`
    // when it was archived; returns its meta file.
    std::string archive_with_data_mode(const std::string& datastore, mode_t mode)
    {
        const std::string sources = kevra_test::scratch_dir("archive-modes");
        const std::map<std::string, std::string> entries = {
            {"template.xml", kTemplateXml},
            {"template_image_list", "TEMPLATE CLONE NAME:bk9\n7:bk9-disk-0:" + datastore + ":vd::0:0:0\n"},
            {"vd-disk-0", kData}};
        std::vector<std::string> args = {"make-archive", "bk9", "--server", kServer, "--task", kTask};
        for (const auto& entry : entries) {
            const std::string file = sources + "/" + entry.first;
            kevra_test::write_file(file, entry.second);
            args.push_back("--entry=" + entry.first + "=" + file);
        }
        EXPECT_EQ(::chmod((sources + "/vd-disk-0").c_str(), mode), 0);
        const std::string meta = kevra_test::scratch_dir("meta") + "/bk9.meta";
        args.push_back("--meta");
        args.push_back(meta);
        platform_.fixture(args);
        return meta;
    }

    static constexpr const char* kData = "restored data\n";
};

struct RestoreModeCase {
    const char* label;
    mode_t archived;  // the data file's mode in the archive
    bool same_file_system;  // the safe directory lies beside the restore directory: the file is renamed
};

void PrintTo(const RestoreModeCase& c, std::ostream* out)
{
    *out << c.label;
}

class RestoredFileMode : public HandedFileModes, public ::testing::WithParamInterface<RestoreModeCase> {};

TEST_P(RestoredFileMode, ReachesThePlatformAsOneadminsAloneWithItsContent)
{
    const RestoreModeCase& c = GetParam();
    std::string safe = "/var/tmp";
    std::string datastore = files_datastore();
    if (c.same_file_system) {
        safe = kevra_test::scratch_dir("safe");
        datastore = platform_.datastore({"--name", "near", "--safe-dirs", safe});
    }
    const std::string meta = archive_with_data_mode(datastore, c.archived);

    const auto result = restore_from_meta(meta);
    ASSERT_EQ(result.exit_status, 0) << result.out << log();
    const std::vector<Handed> handed = handed_files("oneimage.paths");
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed[0].path.rfind(safe + "/vd-disk-0.restore-", 0), 0u) << handed[0].path;
    EXPECT_EQ(handed[0].mode, "0600") << handed[0].path;
    EXPECT_EQ(handed[0].owner, kOneadmin) << handed[0].path;
    EXPECT_EQ(image_data("solo-disk-0"), kData);
    EXPECT_EQ(platform_.image_field("solo-disk-0", "datastore"), datastore);
    EXPECT_EQ(tree(safe), std::vector<std::string>{});
    EXPECT_EQ(tree(restore_dir_), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestoredFileMode,
    ::testing::Values(RestoreModeCase{"WorldWritableCopied", 0666, false},
                      RestoreModeCase{"SetGroupIdGroupWritableCopied", 02664, false},
                      RestoreModeCase{"SetUserIdExecutableCopied", 04755, false},
                      RestoreModeCase{"EveryBitCopied", 07777, false},
                      RestoreModeCase{"WorldWritableRenamed", 0666, true},
                      RestoreModeCase{"SetGroupIdGroupWritableRenamed", 02664, true},
                      RestoreModeCase{"SetUserIdExecutableRenamed", 04755, true},
                      RestoreModeCase{"EveryBitRenamed", 07777, true}),
    [](const ::testing::TestParamInfo<RestoreModeCase>& info) { return std::string(info.param.label); });

// A replica's restored files stay in its own directory (0700) until the run
// ends: the first application copies them into new images, the next one
// writes them over the images with dd. Either way they are root's alone from
// before they are used, the copies handed on are oneadmin's with mode 0600,
// the images' own files keep their owner and mode, and nothing stays behind.
class ReplicaFileMode : public HandedFileModes, public ::testing::WithParamInterface<mode_t> {
protected:
    // The lines root's look at the replica's directory and file wrote, in order.
    static std::vector<std::string> looks()
    {
        std::vector<std::string> found;
        for (const std::string& line :
             lines_of(kevra_test::read_file(std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/as-user.log"))) {
            if (line.find(" exit ") == std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }
};

TEST_P(ReplicaFileMode, RestoredFilesStayRootsAloneAndTheImagesKeepTheirModes)
{
    const mode_t archived = GetParam();
    const std::string files = files_datastore();
    const std::string os = platform_.image({"--name", "src-os", "--datastore", files, "--prefix", "vd", "--content",
                                            "replicated operating system"});
    platform_.vm_template({"--name", "src", "--disk", "IMAGE_ID=" + os});
    ASSERT_EQ(::chmod(platform_.image_field(os, "data-path").c_str(), archived), 0);
    back_up("src", "rep1", true);
    // Root looks at the replica's directory and its restored file while the file is used.
    const std::string look = "cd " + replica_dir_ + " && stat -c \"%a %u:%g %n\" 42.rest 42.rest/vd-disk-0";
    platform_.fixture({"fault", "oneimage", "create", "--as-user", "root", "--run", look});

    const auto first = apply_replica("new_name:copy");
    ASSERT_EQ(first.exit_status, 0) << first.out << log();
    const std::vector<Handed> handed = handed_files("oneimage.paths");
    ASSERT_EQ(handed.size(), 1u);
    EXPECT_EQ(handed[0].path.rfind("/var/tmp/vd-disk-0.restore-", 0), 0u) << handed[0].path;
    EXPECT_EQ(handed[0].mode, "0600");
    EXPECT_EQ(handed[0].owner, kOneadmin);
    EXPECT_EQ(image_data("copy-disk-0"), "replicated operating system");
    EXPECT_EQ(looks(), (std::vector<std::string>{"700 0:0 42.rest", "600 0:0 42.rest/vd-disk-0"}));
    EXPECT_EQ(tree(replica_dir_), std::vector<std::string>{});

    // The restored file comes back with the archive's mode again; the image's
    // file is given a mode of its own, which the application must not change.
    // Root looks after every query of the image, the state query before dd the last.
    const std::string image_file = platform_.image_field("copy-disk-0", "data-path");
    kevra_test::write_file(image_file, std::string(std::string("replicated operating system").size(), '#'));
    ASSERT_EQ(::chmod(image_file.c_str(), 0640), 0);
    const Handed image_before = status_of(image_file);
    kevra_test::write_file(std::string(std::getenv("KEVRA_PLATFORM_STATE")) + "/calls/as-user.log", "");
    platform_.fixture({"fault", "oneimage", "show", "--with-arg", platform_.image_field("copy-disk-0", "id"),
                       "--as-user", "root", "--run", look, "--after"});
    const auto second = apply_replica("new_name:copy");
    ASSERT_EQ(second.exit_status, 0) << second.out << log();
    EXPECT_TRUE(contains(log(), "was written over the image 'copy-disk-0' (" +
                                    platform_.image_field("copy-disk-0", "source") + "): /bin/dd if=/proc/self/fd/"))
        << log();
    EXPECT_EQ(image_data("copy-disk-0"), "replicated operating system");
    const Handed image_after = status_of(image_file);
    EXPECT_EQ(image_after.mode, image_before.mode);
    EXPECT_EQ(image_after.owner, image_before.owner);
    const std::vector<std::string> seen = looks();
    ASSERT_GE(seen.size(), 2u);
    for (std::size_t i = 0; i < seen.size(); i += 2) {
        EXPECT_EQ(seen[i], "700 0:0 42.rest");
    }
    EXPECT_EQ(seen.back(), "600 0:0 42.rest/vd-disk-0");
    EXPECT_EQ(tree(replica_dir_), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Modes, ReplicaFileMode, ::testing::Values(0666, 02664, 04755),
                         [](const ::testing::TestParamInfo<mode_t>& info) { return "Mode" + octal(info.param); });

// Sets the process's file-creation mask for the scope, and the old one again after it.
class CreationMask {
public:
    explicit CreationMask(mode_t mask) : old_(::umask(mask)) {}
    ~CreationMask() { ::umask(old_); }
    CreationMask(const CreationMask&) = delete;
    CreationMask& operator=(const CreationMask&) = delete;

private:
    mode_t old_;
};

// A backup started with the mask 000: every file in the operation directory
// that the engine is given (the engine file list, the template files, the
// image list, the image descriptions and the exported Ceph image) is root's
// alone, mode 0600, and so is the snapshot file; the platform's own image
// files are given as they are.
TEST_F(HandedFileModes, EveryFileStagedForTheEngineIsRootsAlone)
{
    const auto tpl = declare_four_image_template();
    kevra_test::ProgramResult result;
    {
        const CreationMask open_mask(0);
        result = backup("web", "bk1");
    }
    ASSERT_EQ(result.exit_status, 0) << result.out << log();

    std::vector<std::string> staged;
    std::vector<std::string> elsewhere;
    for (const Handed& file : handed_files("hxfd.modes")) {
        if (file.path.rfind(op_dir_ + "/", 0) != 0) {
            elsewhere.push_back(file.path);
            continue;
        }
        staged.push_back(file.path.substr(op_dir_.size() + 1));
        EXPECT_EQ(file.mode, "0600") << file.path;
        EXPECT_EQ(file.owner, "0:0") << file.path;
    }
    EXPECT_EQ(staged, (std::vector<std::string>{"bk1.hxfd.list", "bk1.snap_dir/sd-disk-2.xml",
                                                "bk1.snap_dir/vd-disk-0.xml", "bk1.snap_dir/vd-disk-1.xml",
                                                "bk1.snap_dir/vd-disk-3.xml", "bk1/orig_template.xml",
                                                "bk1/template.xml", "bk1/template_image_list", "bk1/vd-disk-3"}));
    // Only the files of the clone's two FILE images and its BLOCK image lie
    // elsewhere: the platform's own, given as they are.
    EXPECT_EQ(elsewhere.size(), 3u);
    EXPECT_EQ(store_entry("bk1", "vd-disk-3"), image_data(tpl.image_ids[3]));

    const Handed snapshot = status_of(op_dir_ + "/bk1.snap");
    EXPECT_EQ(snapshot.mode, "0600");
    EXPECT_EQ(snapshot.owner, "0:0");
}

}  // namespace
