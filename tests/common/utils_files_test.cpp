// Free-space and sparse-file tests on real files.

#include "common/hx_utils_common.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/in_child.h"

namespace {

using hx_utils_common::check_free_space;
using hx_utils_common::is_sparse_file;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class FileChecks : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/kevra_file_checks_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    // A file of `size` bytes; `written` bytes of data at its start, the rest a hole.
    std::string make_file(const std::string& name, off_t size, size_t written)
    {
        const std::string path = dir_ + "/" + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        std::string data(written, '\0');
        for (size_t i = 0; i < written; ++i)
            data[i] = static_cast<char>('a' + i % 26);
        EXPECT_EQ(::write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
        EXPECT_EQ(::ftruncate(fd, size), 0);
        ::close(fd);
        return path;
    }

    unsigned long long available() const
    {
        struct statfs info;
        ::statfs(dir_.c_str(), &info);
        return static_cast<unsigned long long>(info.f_bavail) * info.f_bsize;
    }

    std::string dir_;
};

TEST_F(FileChecks, FreeSpaceForANumberOfBytes)
{
    EXPECT_TRUE(check_free_space(dir_, 0ULL));
    EXPECT_TRUE(check_free_space(dir_, 4096ULL));
    EXPECT_FALSE(check_free_space(dir_, ULLONG_MAX));

    CaptureStderr();
    EXPECT_FALSE(check_free_space(dir_ + "/missing/dir", 0ULL));
    EXPECT_EQ(GetCapturedStderr(), "Can't call statfs for: " + dir_ + "/missing/dir: No such file or directory\n");
}

TEST_F(FileChecks, FreeSpaceForAFile)
{
    EXPECT_TRUE(check_free_space(dir_, make_file("small", 8192, 8192)));

    // A hole costs nothing to create but counts with its full length.
    const std::string larger_than_free = dir_ + "/larger";
    const int fd = ::open(larger_than_free.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const bool made = ::ftruncate(fd, static_cast<off_t>(available() + (1ULL << 30))) == 0;
    ::close(fd);
    if (made) {
        EXPECT_FALSE(check_free_space(dir_, larger_than_free));
    }

    struct Case {
        std::string target;
        std::string source;
        std::string expected_error;
    };
    const std::string fifo = dir_ + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Case failures[] = {
        {dir_ + "/missing", larger_than_free, "Can't call statfs for: " + dir_ + "/missing: No such file or directory\n"},
        {dir_, dir_ + "/missing", "Can't open: " + dir_ + "/missing: No such file or directory\n"},
        // A FIFO with no writer is refused at once: it has no length.
        {dir_, fifo, "Can't lseek: " + fifo + ": Illegal seek\n"},
    };
    for (const Case& c : failures) {
        CaptureStderr();
        // In a child, so that a call that waits for a writer fails instead of hanging.
        const int status = kevra_test::exit_status_in_child(10, [&] { return check_free_space(c.target, c.source) ? 1 : 0; });
        const std::string err = GetCapturedStderr();
        ASSERT_NE(status, -1) << c.source << " did not return";
        EXPECT_EQ(status, 0) << c.source;
        EXPECT_EQ(err, c.expected_error);
    }
}

TEST_F(FileChecks, SparseFiles)
{
    struct Case {
        const char* name;
        off_t size;
        size_t written;
        bool sparse;
    };
    const Case cases[] = {
        {"empty", 0, 0, false},
        {"full", 65536, 65536, false},
        {"hole-only", 1 << 20, 0, true},
        {"data-then-hole", 1 << 20, 4096, true},
    };
    for (const Case& c : cases) {
        const std::string path = make_file(c.name, c.size, c.written);
        ::sync();
        bool sparse = !c.sparse;
        std::string error;
        EXPECT_TRUE(is_sparse_file(path, sparse, error)) << c.name;
        EXPECT_EQ(sparse, c.sparse) << c.name;
        EXPECT_EQ(error, "") << c.name;
    }

    bool sparse = false;
    std::string error;
    EXPECT_FALSE(is_sparse_file(dir_ + "/missing", sparse, error));
    EXPECT_EQ(error, "No such file or directory");
}

}  // namespace
