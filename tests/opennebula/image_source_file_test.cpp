// Opening an image's SOURCE without following a link that someone other than
// root could have put there: below the datastore's base path no link at all,
// elsewhere only root's links in directories only root can change; only a
// regular file with one link, or a block device where allowed, and never a
// FIFO or a character device is opened.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>

#include "opennebula/image_source_file.h"
#include "tests/opennebula/log_capture.h"

namespace {

namespace fs = boost::filesystem;

// Where the opener is pointed, and what it should find.
struct Place {
    std::string source;
    std::string base;
};

struct SourceCase {
    const char* label;
    // Lays out the files below `root` (root's, mode 0755); says where to look.
    std::function<Place(const std::string& root)> lay_out;
    bool block_device_allowed;
    // Empty: opened, and the file holds "image data". Else the end of the refusal,
    // after the path that `lay_out` put first in `refused`.
    const char* refusal;
    const char* refused;  // below root
};

void PrintTo(const SourceCase& c, std::ostream* out)
{
    *out << c.label;
}

void file(const std::string& path, const std::string& content = "image data")
{
    fs::create_directories(fs::path(path).parent_path());
    kevra_test::write_file(path, content);
}

void link(const std::string& target, const std::string& path, uid_t owner = 0)
{
    fs::create_directories(fs::path(path).parent_path());
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0) << path;
    ASSERT_EQ(::lchown(path.c_str(), owner, owner), 0) << path;
}

void directory(const std::string& path, mode_t mode)
{
    fs::create_directories(path);
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

const SourceCase kCases[] = {
    {"RegularFileBelowTheBase",
     [](const std::string& r) {
         file(r + "/ds/1/img");
         return Place{r + "/ds//1/img", r + "/ds/1/"};
     },
     false, "", ""},
    {"BaseReachedThroughALink",
     [](const std::string& r) {
         file(r + "/mount/img");
         link(r + "/mount", r + "/ds/1", 4242);
         return Place{r + "/ds/1/img", r + "/ds/1"};
     },
     false, "", ""},
    {"LinkAtTheSourceBelowTheBaseEvenRoots",
     [](const std::string& r) {
         file(r + "/host/secret");
         link(r + "/host/secret", r + "/ds/1/img");
         return Place{r + "/ds/1/img", r + "/ds/1"};
     },
     false, " is a symbolic link", "/ds/1/img"},
    {"LinkOnTheWayBelowTheBase",
     [](const std::string& r) {
         file(r + "/host/img");
         link(r + "/host", r + "/ds/1/sub");
         return Place{r + "/ds/1/sub/img", r + "/ds/1"};
     },
     false, " is a symbolic link", "/ds/1/sub"},
    {"RootsLinkInARootOnlyDirectoryForABlockImage",
     [](const std::string& r) {
         file(r + "/dev/dm-3");
         link("../dm-3", r + "/dev/vg/lv");
         return Place{r + "/dev/vg/lv", ""};
     },
     true, "", ""},
    {"LinkOfAnotherUserOutsideTheBase",
     [](const std::string& r) {
         file(r + "/host/secret");
         link(r + "/host/secret", r + "/dev/vg/lv", 4242);
         return Place{r + "/dev/vg/lv", r + "/ds/1"};
     },
     true, " is a symbolic link that another user can change", "/dev/vg/lv"},
    {"RootsLinkInADirectoryOthersCanWrite",
     [](const std::string& r) {
         file(r + "/host/secret");
         link(r + "/host/secret", r + "/open/lv");
         directory(r + "/open", 0777);
         return Place{r + "/open/lv", ""};
     },
     true, " is a symbolic link that another user can change", "/open/lv"},
    {"RootsLinkInAStickyDirectory",
     [](const std::string& r) {
         file(r + "/vol");
         link(r + "/vol", r + "/sticky/lv");
         directory(r + "/sticky", 01777);
         return Place{r + "/sticky/lv", ""};
     },
     true, "", ""},
    {"HardLinkToAHostFile",
     [](const std::string& r) {
         file(r + "/host/secret");
         fs::create_directories(r + "/ds/1");
         EXPECT_EQ(::link((r + "/host/secret").c_str(), (r + "/ds/1/img").c_str()), 0);
         return Place{r + "/ds/1/img", r + "/ds/1"};
     },
     false, " is a file with more than one link", "/ds/1/img"},
    {"FifoIsNeverOpened",
     [](const std::string& r) {
         fs::create_directories(r + "/ds/1");
         EXPECT_EQ(::mkfifo((r + "/ds/1/img").c_str(), 0600), 0);
         return Place{r + "/ds/1/img", r + "/ds/1"};
     },
     true, " is a FIFO, not a regular file or a block device", "/ds/1/img"},
    {"DirectoryAtTheSource",
     [](const std::string& r) {
         fs::create_directories(r + "/ds/1/img");
         return Place{r + "/ds/1/img", r + "/ds/1"};
     },
     false, " is a directory, not a regular file", "/ds/1/img"},
};

class ImageSourceFile : public opennebula_test::LogCapture, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(ImageSourceFile, OpensOnlyWhatStandsThereItself)
{
    if (::geteuid() != 0) {
        GTEST_SKIP() << "the owners of links and directories need root";
    }
    const SourceCase& c = GetParam();
    const std::string root = scratch_dir() + "/tree";
    directory(root, 0755);
    const Place place = c.lay_out(root);
    kelvomar::untrusted_files::descriptor opened;
    struct stat status {};
    std::string refusal;
    const bool ok = hx_opennebula_common::open_image_source(place.source, place.base, c.block_device_allowed,
                                                            O_RDONLY, opened, status, refusal);
    if (std::string(c.refusal).empty()) {
        ASSERT_TRUE(ok) << refusal;
        char buffer[32] = {};
        EXPECT_EQ(::pread(opened.get(), buffer, sizeof buffer, 0), 10);
        EXPECT_EQ(std::string(buffer), "image data");
        EXPECT_TRUE(S_ISREG(status.st_mode));
        return;
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(opened.valid());
    EXPECT_EQ(refusal, root + c.refused + c.refusal);
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageSourceFile, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<SourceCase>& info) { return info.param.label; });

TEST(ImageSourceFileDevices, ACharacterDeviceIsRefusedEvenWhereABlockDeviceIsTaken)
{
    kelvomar::untrusted_files::descriptor opened;
    struct stat status {};
    std::string refusal;
    EXPECT_FALSE(hx_opennebula_common::open_image_source("/dev/null", "", true, O_WRONLY, opened, status, refusal));
    EXPECT_EQ(refusal, "/dev/null is a character device, not a regular file or a block device");
    EXPECT_FALSE(hx_opennebula_common::open_image_source("dev/null", "", true, O_WRONLY, opened, status, refusal));
    EXPECT_EQ(refusal, "'dev/null' is not an absolute path");
}

}  // namespace
