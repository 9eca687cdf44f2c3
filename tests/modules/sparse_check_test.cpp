// The check of a restored file for missing data, on real files in a scratch folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "tests/modules/snapshot_test_support.h"

namespace {

using module_test::LogCapture;
using snapshot_test::ScratchDir;
using snapshot_test::SnapshotModule;

const char* const kCheck = "int HxModuleUniversal::check_file_to_restore_for_sparse(const std::string&) const";

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class SparseCheck : public ::testing::Test {
protected:
    ScratchDir dir_;
    SnapshotModule module_;

    void SetUp() override { module_.opts().tmp_operation_directory = dir_.path(); }

    // A file of `size` bytes of which only the last byte is written.
    std::string sparse_file(const std::string& name, off_t size) const
    {
        const std::string file = dir_.path() + "/" + name;
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::pwrite(fd, "x", 1, size - 1), 1);
        ::close(fd);
        return file;
    }
};

TEST_F(SparseCheck, AFullyWrittenFilePassesSilently)
{
    const std::string file = dir_.path() + "/full.img";
    snapshot_test::write_text(file, std::string(256 * 1024, 'd'));
    LogCapture log;
    EXPECT_EQ(module_.check_file_to_restore_for_sparse(file), 0);
    EXPECT_EQ(log.text(), "");
}

TEST_F(SparseCheck, AMissingFileIsOnlyWarnedAbout)
{
    LogCapture log;
    EXPECT_EQ(module_.check_file_to_restore_for_sparse(dir_.path() + "/gone \"x\".img"), 0);
    EXPECT_TRUE(contains(log.text(), std::string(kCheck) + ": unable to check sparse status of \"" + dir_.path() +
                                         "/gone \\\"x\\\".img\" file, error: No such file or directory"))
        << log.text();
}

TEST_F(SparseCheck, ASparseFileFailsTheRestoreWithTheFreeSpaceOfTheOperationDirectory)
{
    const std::string file = sparse_file("hole.img", 64 * 1024 * 1024);
    LogCapture log;
    EXPECT_EQ(module_.check_file_to_restore_for_sparse(file), 7);
    const std::string record = std::string(kCheck) + ": file \"" + file +
                               "\" is a sparse file, i.e. it doesn't contain all the data required for restore." +
                               " Probably it is not enough free space in a \"" + dir_.path() +
                               "\" folder. Free space is: ";
    const auto at = log.text().find(record);
    ASSERT_NE(at, std::string::npos) << log.text();
    std::smatch match;
    const std::string figure = log.text().substr(at + record.size());
    ASSERT_TRUE(std::regex_search(figure, match, std::regex(R"(^(\d+)\.\d{6}%)"))) << figure;
    EXPECT_LE(std::stoi(match[1]), 100);
}

// The file-system library reports the largest sizes for a failed query: the figure is 100.
TEST_F(SparseCheck, AFailedSpaceQueryIsWarnedAboutAndTheFileStillFails)
{
    const std::string file = sparse_file("hole.img", 8 * 1024 * 1024);
    module_.opts().tmp_operation_directory = dir_.path() + "/missing";
    LogCapture log;
    EXPECT_EQ(module_.check_file_to_restore_for_sparse(file), 7);
    EXPECT_TRUE(contains(log.text(), std::string(kCheck) + ": unable to get space info of \"" + dir_.path() +
                                         "/missing\", error: "))
        << log.text();
    EXPECT_TRUE(contains(log.text(), "\"" + dir_.path() + "/missing\" folder. Free space is: 100.000000%"))
        << log.text();
}

}  // namespace
