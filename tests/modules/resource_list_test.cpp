// The JSON resource list and the local restriction list.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include <fstream>
#include <string>
#include <vector>

#include "modules/resource_list.h"
#include "tests/modules/module_test_support.h"

namespace {

using module_test::LogCapture;
using module_test::TestModule;
using Lines = std::vector<std::string>;

class ScratchDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("kevra-rl-%%%%%%");
        boost::filesystem::create_directories(dir_);
    }
    void TearDown() override { boost::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& content)
    {
        const std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }

    boost::filesystem::path dir_;
};

struct JsonCase {
    const char* name;
    std::string json;
    bool parsed;
    Lines resources;
    std::string logged;  // empty: nothing may be logged
};

std::ostream& operator<<(std::ostream& out, const JsonCase& c)
{
    return out << c.name;
}

const JsonCase kJsonCases[] = {
    {"ArrayOfObjects", R"([{"path": "/a"}, {"path": "/b"}])", true, {"/a", "/b"}, ""},
    {"ObjectOfObjects", R"({"x": {"path": "/a", "size": 1}, "y": {"path": "/b"}})", true, {"/a", "/b"}, ""},
    {"NumberGivesItsText", R"([{"path": 42}])", true, {"42"}, ""},
    {"OtherMembersAndScalarsIgnored", R"([{"name": "/n"}, "/s", 7, {"PATH": "/p", "path": "/ok"}])", true, {"/ok"},
     ""},
    {"RootPathOnlyWarns", R"({"path": "/a"})", true, {},
     "bool ResourceList::parse_json_file(const std::string&): there is no any resource in json file: "},
    {"DeeperPathsIgnored", R"({"list": [{"path": "/a"}]})", true, {}, "there is no any resource in json file"},
    {"EmptyArrayWarns", "[]", true, {}, "there is no any resource in json file"},
    {"SyntaxError", R"([{"path": "/a"},)", false, {},
     "bool ResourceList::parse_json_file(const std::string&): json parser error: "},
    {"EmptyFile", "", false, {}, "json parser error"},
    {"NotJsonAtAll", "path=/a\n", false, {}, "json parser error"},
    {"EscapesGiveTheContent", R"([{"path": "/a\u00e9\"b"}])", true, {"/a\xc3\xa9\"b"}, ""},
    {"TrailingComma", R"([{"path": "/a"},])", false, {}, "json parser error"},
    {"Comment", R"([{"path": "/a"} /* and more */])", false, {}, "json parser error"},
    {"InvalidUtf8", "[{\"path\": \"/a\xff\"}]", false, {}, "json parser error"},
    {"DepthOf32Read", std::string(32, '[') + std::string(32, ']'), true, {}, "there is no any resource in json file"},
    {"DepthOf33Refused", std::string(33, '[') + std::string(33, ']'), false, {}, "json parser error"},
    {"HundredThousandBrackets", std::string(100000, '['), false, {}, "json parser error"},
    // Of two members of one key only one would be read: the whole file is refused.
    {"DuplicatePathRefused", R"([{"path": "/a"}, {"path": "/b", "path": "/c"}])", false, {},
     "bool ResourceList::parse_json_file(const std::string&): json parser error: "},
    {"DuplicateRootMemberRefused", R"({"x": {"path": "/a"}, "x": {"path": "/b"}})", false, {},
     ".json: duplicate key: x"},
    {"DuplicateThroughAnEscapeRefused", R"([{"path": "/a", "p\u0061th": "/b"}])", false, {},
     ".json: duplicate key: path"},
    {"DuplicateInAnIgnoredObjectRefused", R"([{"path": "/a", "size": {"k": 1, "k": 2}}])", false, {},
     "duplicate key: k"},
    {"SameKeyInOtherObjectsRead", R"({"x": {"path": "/a", "x": {"path": "/b", "x": 1}}, "y": {"path": "/c"}})", true,
     {"/a", "/c"}, ""},
    {"KeysDifferingInCaseRead", R"([{"path": "/a", "Path": "/b"}])", true, {"/a"}, ""},
};

class ResourceListJson : public ScratchDir, public ::testing::WithParamInterface<JsonCase> {};

TEST_P(ResourceListJson, ReadsPathMembersOfRootMembers)
{
    const JsonCase& c = GetParam();
    LogCapture log;
    ResourceList list;
    EXPECT_EQ(list.parse_json_file(write("list.json", c.json)), c.parsed);
    EXPECT_EQ(list.resources(), c.resources);
    EXPECT_EQ(list.is_empty(), c.resources.empty());
    EXPECT_TRUE(log.logged_as_expected(c.logged));
}

INSTANTIATE_TEST_SUITE_P(Files, ResourceListJson, ::testing::ValuesIn(kJsonCases),
                         [](const ::testing::TestParamInfo<JsonCase>& info) { return info.param.name; });

TEST_F(ScratchDir, ResourceListParseReplacesAndMissingFileFails)
{
    LogCapture log;
    ResourceList list;
    ASSERT_TRUE(list.parse_json_file(write("one.json", R"([{"path": "/a"}])")));
    ASSERT_TRUE(list.parse_json_file(write("two.json", R"([{"path": "/b"}])")));
    EXPECT_EQ(list.resources(), Lines{"/b"});

    const std::string missing = (dir_ / "missing.json").string();
    EXPECT_FALSE(list.parse_json_file(missing));
    EXPECT_TRUE(list.is_empty());
    EXPECT_NE(log.text().find("bool ResourceList::parse_json_file(const std::string&): resource list file does not "
                              "exist: " + missing),
              std::string::npos)
        << log.text();

    // A copy is independent of the original.
    ResourceList original;
    ASSERT_TRUE(original.parse_json_file(write("three.json", R"([{"path": "/c"}])")));
    ResourceList copy(original);
    original.clear();
    EXPECT_EQ(copy.resources(), Lines{"/c"});
}

TEST_F(ScratchDir, ResourceListRefusesFirstRestrictedResource)
{
    LogCapture log;
    ResourceList list;
    ASSERT_TRUE(list.parse_json_file(write("list.json", R"([{"path": "/a"}, {"path": "/b"}])")));
    EXPECT_TRUE(list.check_local_restrictions({}));
    EXPECT_TRUE(list.check_local_restrictions({"/x", "", "/a\r"}));
    EXPECT_EQ(log.text(), "");

    EXPECT_FALSE(list.check_local_restrictions({"/x", "/b"}));
    EXPECT_NE(log.text().find("bool ResourceList::check_local_restrictions(const "
                              "std::vector<std::__cxx11::basic_string<char> >&) const: Unable to backup this resource "
                              "from ResourceList: /b. Local restriction"),
              std::string::npos)
        << log.text();
}

struct RestrictionCase {
    const char* name;
    std::string file;  // content of the restriction list; "@NONE@": no file
    std::string resource;
    Lines lines;
    bool allowed;
};

std::ostream& operator<<(std::ostream& out, const RestrictionCase& c)
{
    return out << c.name;
}

const RestrictionCase kRestrictionCases[] = {
    {"NoFile", "@NONE@", "web", {}, true},
    {"Listed", "db\nweb\n", "web", {"db", "web"}, false},
    {"NotListed", "db\nweb\n", "mail", {"db", "web"}, true},
    {"LastLineWithoutNewline", "db\nweb", "web", {"db", "web"}, false},
    {"WindowsLineEndsMatchNothing", "db\r\nweb\r\n", "web", {"db\r", "web\r"}, true},
    {"EmptyLineIsAnEntry", "\nweb-other\n", "web", {"", "web-other"}, true},
    {"NoTrimming", " web\n", "web", {" web"}, true},
    {"ExactCase", "Web\n", "web", {"Web"}, true},
    {"EmptyFile", "", "web", {}, true},
};

class LocalRestrictions : public ScratchDir, public ::testing::WithParamInterface<RestrictionCase> {};

TEST_P(LocalRestrictions, ReadsLinesAsTheyAreAndComparesExactly)
{
    const RestrictionCase& c = GetParam();
    LogCapture log;
    HxModuleOptions options;
    options.restriction_list_file =
        c.file == "@NONE@" ? (dir_ / "absent.list").string() : write("restriction.list", c.file);
    options.resource = c.resource;
    TestModule module(options);
    EXPECT_EQ(module.read_local_restrictions(), c.lines);
    EXPECT_EQ(module.check_local_restrictions(), c.allowed);
    EXPECT_EQ(log.text(), "");
}

INSTANTIATE_TEST_SUITE_P(Lists, LocalRestrictions, ::testing::ValuesIn(kRestrictionCases),
                         [](const ::testing::TestParamInfo<RestrictionCase>& info) { return info.param.name; });

TEST_F(ScratchDir, RestrictionListWithoutLocationRestrictsNothing)
{
    LogCapture log;
    TestModule module;
    module.opts().resource = "";
    EXPECT_TRUE(module.read_local_restrictions().empty());
    EXPECT_TRUE(module.check_local_restrictions());
    EXPECT_EQ(log.text(), "");
}

}  // namespace
