// File, block-device and link sizes, and the answers for everything else.

#include "common/file_sizes.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "tests/support/in_child.h"

namespace {

namespace fs = boost::filesystem;
using hx_utils_common::get_file_size;
using hx_utils_common::get_symlink_size;

class FileSizes : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-file-sizes-%%%%-%%%%");
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name, std::size_t bytes)
    {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
        return path;
    }
    std::string link(const std::string& name, const std::string& target)
    {
        const std::string path = (dir_ / name).string();
        fs::create_symlink(target, path);
        return path;
    }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

TEST_F(FileSizes, RegularFilesAndLinksToThem)
{
    const std::string big = file("big", 123457);
    EXPECT_EQ(get_file_size(big), 123457);
    EXPECT_EQ(get_file_size(file("empty", 0)), 0);
    // A link is followed to its file.
    EXPECT_EQ(get_file_size(link("to-big", big)), 123457);
}

TEST_F(FileSizes, OtherTypesAndMissingPathsGiveZeroWithAMessage)
{
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    struct Case {
        std::string path;
        std::string message;
    };
    const Case cases[] = {
        {dir_.string(), "get_file_size: wrong input file type" + dir_.string() + "\n"},
        {path("fifo"), "get_file_size: wrong input file type" + path("fifo") + "\n"},
        {path("missing"), "get_file_size: open input_file: " + path("missing") + ": : No such file or directory\n"},
        {link("dangling", path("missing")),
         "get_file_size: open input_file: " + path("dangling") + ": : No such file or directory\n"},
    };
    for (const Case& c : cases) {
        // A child process, so that a call that waits forever (a FIFO opened
        // for reading waits for a writer) ends the test instead of hanging it.
        testing::internal::CaptureStderr();
        const int status = kevra_test::exit_status_in_child(10, [&] { return get_file_size(c.path) == 0 ? 0 : 1; });
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_NE(status, -1) << c.path << " did not return";
        EXPECT_EQ(status, 0) << c.path;
        EXPECT_EQ(err, c.message);
    }
}

// A block device answers with its sectors × 512, as the kernel lists them.
TEST_F(FileSizes, BlockDeviceSizeFromItsSectors)
{
    for (fs::directory_iterator it("/sys/block"), end; it != end; ++it) {
        const std::string name = it->path().filename().string();
        std::ifstream sectors_file((it->path() / "size").string());
        std::int64_t sectors = 0;
        const std::string device = "/dev/" + name;
        struct stat st {};
        if (!(sectors_file >> sectors) || sectors <= 0 || ::stat(device.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) {
            continue;
        }
        const int fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) {
            continue;
        }
        ::close(fd);
        EXPECT_EQ(get_file_size(device), sectors * 512) << device;
        return;
    }
    GTEST_SKIP() << "no readable block device with a size";
}

TEST_F(FileSizes, SymlinkSizeIsTheLengthOfItsTargetText)
{
    const std::string target = file("target-file", 10);
    EXPECT_EQ(get_symlink_size(link("abs", target)), static_cast<std::int64_t>(target.size()));
    EXPECT_EQ(get_symlink_size(link("rel", "target-file")), 11);
    EXPECT_EQ(get_symlink_size(link("dangling", "no/such/place")), 13);
}

TEST_F(FileSizes, SymlinkSizeOfOtherPaths)
{
    const std::string plain = file("plain", 5);
    testing::internal::CaptureStderr();
    EXPECT_EQ(get_symlink_size(plain), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "get_symlink_size: wrong input file type" + plain + " is not a link!\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(get_symlink_size(path("missing")), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "get_symlink_size: can't examine " + path("missing") + ": No such file or directory\n");
}

}  // namespace
