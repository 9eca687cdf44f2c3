// Directories made new and files put in place without following a link.
#include "common/new_paths.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = boost::filesystem;
using namespace kelvomar::new_paths;

std::string content_of(const fs::path& path)
{
    std::ifstream in(path.string(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write(const fs::path& path, const std::string& text)
{
    std::ofstream(path.string(), std::ios::binary) << text;
}

class NewPaths : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-new-paths-%%%%%%%%");
        fs::create_directories(dir_ / "host");
        host_file_ = dir_ / "host" / "secret";
        write(host_file_, "host content");
        // What stands at each name: a directory, a file, links to both, a hard link.
        fs::create_directories(dir_ / "dir");
        write(dir_ / "file", "old");
        fs::create_symlink(dir_ / "host", dir_ / "dir-link");
        fs::create_symlink("host/secret", dir_ / "file-link");
        fs::create_symlink(dir_ / "nowhere", dir_ / "dangling");
        fs::create_hard_link(host_file_, dir_ / "hard");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    // Nothing below `dir_` but what SetUp put there and `extra`.
    std::size_t entries() const
    {
        std::size_t n = 0;
        for (fs::directory_iterator it(dir_), end; it != end; ++it) {
            ++n;
        }
        return n;
    }

    fs::path dir_;
    fs::path host_file_;
};

TEST_F(NewPaths, EntryKindsAreThoseOfTheEntryItself)
{
    EXPECT_EQ(entry_at(at("dir")), entry_kind::directory);
    EXPECT_EQ(entry_at(at("dir") + "/"), entry_kind::directory);
    EXPECT_EQ(entry_at(at("file")), entry_kind::regular);
    EXPECT_EQ(entry_at(at("dir-link")), entry_kind::link);
    EXPECT_EQ(entry_at(at("dir-link") + "/"), entry_kind::link);
    EXPECT_EQ(entry_at(at("dangling")), entry_kind::link);
    EXPECT_EQ(entry_at(at("missing")), entry_kind::missing);
    EXPECT_EQ(entry_at("/dev/null"), entry_kind::other);
}

TEST_F(NewPaths, DirectoriesAreMadeNewOrUsedOnlyWhenReal)
{
    struct Case {
        const char* name;
        int make_new;      // make_new_directory
        int real;          // check_real_directory
        int use_or_make;   // use_or_make_directory
        bool created;
    };
    const Case cases[] = {
        {"dir", EEXIST, 0, 0, false},
        {"file", EEXIST, ENOTDIR, ENOTDIR, false},
        {"dir-link", EEXIST, ELOOP, ELOOP, false},
        {"dangling", EEXIST, ELOOP, ELOOP, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(make_new_directory(at(c.name)), c.make_new);
        EXPECT_EQ(check_real_directory(at(c.name)), c.real);
        bool created = true;
        EXPECT_EQ(use_or_make_directory(at(c.name), true, created), c.use_or_make);
        EXPECT_EQ(created, c.created);
    }
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    EXPECT_TRUE(fs::is_empty(dir_ / "dir"));

    bool created = false;
    EXPECT_EQ(use_or_make_directory(at("a/b/c"), true, created), 0);
    EXPECT_TRUE(created);
    EXPECT_TRUE(fs::is_directory(dir_ / "a/b/c"));
    EXPECT_EQ(use_or_make_directory(at("x/y"), false, created), ENOENT);
    EXPECT_EQ(make_new_directory(at("new")), 0);
    EXPECT_TRUE(fs::is_directory(dir_ / "new"));
}

TEST_F(NewPaths, OnlyAMissingNameOrARegularFileOfOneLinkIsReplaceable)
{
    EXPECT_EQ(check_replaceable(at("missing")), 0);
    EXPECT_EQ(check_replaceable(at("file")), 0);
    EXPECT_EQ(check_replaceable(at("file-link")), ELOOP);
    EXPECT_EQ(check_replaceable(at("dangling")), ELOOP);
    EXPECT_EQ(check_replaceable(at("hard")), EMLINK);
    EXPECT_EQ(check_replaceable(at("dir")), EISDIR);
    EXPECT_EQ(check_replaceable("/dev/null"), EEXIST);
}

TEST_F(NewPaths, ReplacingWritesANewFileAndNeverThroughALink)
{
    const std::size_t before = entries();
    EXPECT_EQ(replace_file(at("file"), "new"), 0);
    EXPECT_EQ(content_of(dir_ / "file"), "new");
    EXPECT_EQ(replace_file(at("fresh"), "made"), 0);
    EXPECT_EQ(content_of(dir_ / "fresh"), "made");

    for (const char* name : {"file-link", "dangling", "hard", "dir-link"}) {
        SCOPED_TRACE(name);
        EXPECT_NE(replace_file(at(name), "planted"), 0);
    }
    EXPECT_EQ(content_of(host_file_), "host content");
    EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "file-link"));
    EXPECT_EQ(fs::hard_link_count(host_file_), 2u);
    EXPECT_EQ(entries(), before + 1) << "no file of the run's own is left beside the targets";
}

TEST_F(NewPaths, ANewFileIsWrittenThroughItsDescriptorAndTakesTheNameOnCommit)
{
    {
        new_file file(at("snap"));
        ASSERT_EQ(file.error(), 0);
        const std::string command = "printf packed > " + file.descriptor_path();
        ASSERT_EQ(std::system(command.c_str()), 0);
        EXPECT_FALSE(fs::exists(dir_ / "snap"));
        EXPECT_EQ(file.commit(), 0);
    }
    EXPECT_EQ(content_of(dir_ / "snap"), "packed");

    const std::size_t before = entries();
    {
        new_file abandoned(at("other"));
        ASSERT_EQ(abandoned.error(), 0);
        EXPECT_EQ(abandoned.write("never committed"), 0);
        EXPECT_EQ(entries(), before + 1);
    }
    EXPECT_EQ(entries(), before) << "an abandoned file is removed";
    EXPECT_FALSE(fs::exists(dir_ / "other"));

    // A link put under the name after the file was made is refused at commit.
    {
        new_file late(at("late"));
        ASSERT_EQ(late.write("data"), 0);
        fs::create_symlink(host_file_, dir_ / "late");
        EXPECT_EQ(late.commit(), ELOOP);
    }
    EXPECT_EQ(content_of(host_file_), "host content");
    EXPECT_EQ(entries(), before + 1);
}

TEST_F(NewPaths, ErrorTextsNameThePath)
{
    EXPECT_EQ(new_paths_error("/d/x", ELOOP), "/d/x: a symbolic link stands there");
    EXPECT_EQ(new_paths_error("/d/x", ENOTDIR), "/d/x: it is not a directory");
    EXPECT_EQ(new_paths_error("/d/x", EMLINK), "/d/x: a file with more than one link stands there");
    EXPECT_EQ(new_paths_error("/d/x", EACCES), "/d/x: Permission denied");
}

}  // namespace

namespace {

// A file made new at a name: nothing that stands there is used, the file is
// exactly 0600 whatever the mask, and it counts as the run's only while it is
// that same private file.
TEST_F(NewPaths, AFileMadeAtItsNameUsesNothingThatStandsThere)
{
    const mode_t mask = ::umask(0);
    struct stat made {};
    for (const char* name : {"dir", "file", "dir-link", "file-link", "dangling", "hard"}) {
        EXPECT_EQ(make_new_file(at(name), made), EEXIST) << name;
    }
    EXPECT_EQ(what_stands_at(at("dangling")), "a symbolic link");
    EXPECT_EQ(what_stands_at(at("hard")), "a file with more than one link");
    EXPECT_EQ(what_stands_at(at("dir")), "a directory");
    EXPECT_EQ(what_stands_at(at("missing")), "");
    EXPECT_FALSE(fs::exists(dir_ / "nowhere")) << "a dangling link is not followed";
    EXPECT_EQ(content_of(host_file_), "host content");

    ASSERT_EQ(make_new_file(at("out"), made), 0);
    ::umask(mask);
    struct stat status {};
    ASSERT_EQ(::lstat(at("out").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
    EXPECT_EQ(made_file_problem(at("out"), made), "");
    // Written into by path, as a command does: still the same file.
    write(dir_ / "out", "written");
    EXPECT_EQ(made_file_problem(at("out"), made), "");

    ASSERT_EQ(::chmod(at("out").c_str(), 0644), 0);
    EXPECT_EQ(made_file_problem(at("out"), made), at("out") + " is no longer private: it has mode 0644, not 0600");
    fs::rename(dir_ / "out", dir_ / "moved");
    fs::create_symlink(host_file_, dir_ / "out");
    EXPECT_EQ(made_file_problem(at("out"), made),
              at("out") + " is no longer the file the run made there: a symbolic link stands there");
    EXPECT_FALSE(remove_made_file(at("out"), made)) << "what stands there now is not the file made";
    EXPECT_TRUE(fs::is_symlink(dir_ / "out"));
    EXPECT_TRUE(remove_made_file(at("moved"), made));
    EXPECT_FALSE(fs::exists(dir_ / "moved"));
    EXPECT_EQ(content_of(host_file_), "host content");
}

}  // namespace
