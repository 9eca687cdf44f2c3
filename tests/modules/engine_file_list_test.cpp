// The engine file list written for the engine's option -c.
#include "tests/modules/engine_test_log.h"
#include "tests/modules/engine_test_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <sstream>

namespace {

namespace fs = boost::filesystem;
using ::testing::HasSubstr;

class EngineFileList : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-file-list-%%%%%%%%");
        fs::create_directories(dir_);
        path_ = (dir_ / "list").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string content() const
    {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    engine_test::LogCapture log_;
    engine_test::EngineTestModule module_;
    fs::path dir_;
    std::string path_;
};

TEST_F(EngineFileList, FreshListHasTheHeaderAndKeysInOrder)
{
    std::ofstream(path_) << "stale\n";
    ASSERT_TRUE(module_.add_to_hxfd_list_file(path_, {{"/b", "vdb"}, {"/a", "vda"}}, false));
    EXPECT_EQ(content(), "HXFD file list:\n   /a : vda\n   /b : vdb\n");
    EXPECT_THAT(log_.text(), HasSubstr("Adding record to hxfd file list: HXFD file list:"));
    EXPECT_THAT(log_.text(), HasSubstr("Adding record to hxfd file list: /a : vda"));
}

TEST_F(EngineFileList, AppendAddsEntriesWithoutHeader)
{
    ASSERT_TRUE(module_.add_to_hxfd_list_file(path_, {{"/x", "x.xml"}}, false));
    ASSERT_TRUE(module_.add_to_hxfd_list_file(path_, {{"/b", "b"}, {"/a", "a"}}, true));
    EXPECT_EQ(content(), "HXFD file list:\n   /x : x.xml\n   /a : a\n   /b : b\n");
}

TEST_F(EngineFileList, AppendCreatesAMissingFile)
{
    ASSERT_TRUE(module_.add_to_hxfd_list_file(path_, {{"/a b/c", "name with blank"}}, true));
    EXPECT_EQ(content(), "   /a b/c : name with blank\n");
}

TEST_F(EngineFileList, UnwritableListFails)
{
    EXPECT_FALSE(module_.add_to_hxfd_list_file((dir_ / "missing" / "list").string(), {{"/a", "a"}}, false));
    EXPECT_THAT(log_.text(), HasSubstr("std::__cxx11::basic_string<char> >&, bool): can't create hxfd list file"));
}

// A line end inside an entry would give the engine a record nobody listed.
TEST_F(EngineFileList, LineEndsInEntriesAreRefusedBeforeWriting)
{
    const std::map<std::string, std::string> hostile[] = {
        {{"/a\n   /etc/shadow", "a"}}, {{"/a", "a\n   /etc/shadow : shadow"}}, {{"/a\r", "a"}}};
    for (const auto& entries : hostile) {
        std::ofstream(path_) << "HXFD file list:\n";
        EXPECT_FALSE(module_.add_to_hxfd_list_file(path_, entries, true));
        EXPECT_EQ(content(), "HXFD file list:\n");
    }
}

}  // namespace
