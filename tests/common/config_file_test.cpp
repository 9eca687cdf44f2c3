// Configuration files: how lines become entries, how entries are written
// back, and the editing operations.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "common/config_file.h"
#include "tests/support/path_files.h"

namespace fs = boost::filesystem;
using hx_config::ConfigFile;

namespace {

using kevra_test::read_file;
using kevra_test::write_file;

// The entries as "#<comment text>" or "<name>=<value>", in file order.
std::vector<std::string> entries(const ConfigFile& config) {
    std::vector<std::string> out;
    for (const auto& entry : config) {
        if (entry->getType() == hx_config::Comment_Type) {
            out.push_back("#" + static_cast<const hx_config::Comment&>(*entry).getPure());
        } else {
            const auto& variable = static_cast<const hx_config::Variable&>(*entry);
            out.push_back(variable.getName() + "=" + variable.getValue());
        }
    }
    return out;
}

class ConfigFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-config-%%%%-%%%%");
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    ConfigFile load_text(const std::string& text) {
        write_file(dir_ / "in.conf", text);
        return ConfigFile((dir_ / "in.conf").string());
    }

    std::vector<std::string> listing() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
};

struct LineCase {
    const char* title;
    const char* text;
    std::vector<std::string> entries;
    const char* saved;
};

TEST_F(ConfigFileTest, LinesBecomeEntriesAndAreWrittenBackNormalised) {
    const LineCase cases[] = {
        {"name and value", "name value\n", {"name=value"}, "name value\n"},
        {"name only", "name\n", {"name="}, "name \n"},
        {"tab separator", "name\tvalue\n", {"name=value"}, "name value\n"},
        {"blanks and tabs mixed", "k \t \tv\n", {"k=v"}, "k v\n"},
        {"equals sign is part of the value", "name = word\n", {"name== word"}, "name = word\n"},
        {"inner blanks of a value stay", "key   value with  inner   blanks   \n",
         {"key=value with  inner   blanks"}, "key value with  inner   blanks\n"},
        {"a '#' after the name is value", "key value # not a comment\n",
         {"key=value # not a comment"}, "key value # not a comment\n"},
        {"repeated name: first place, last value", "a 1\nb 2\na 3\n", {"a=3", "b=2"},
         "a 3\nb 2\n"},
        {"comment keeps blanks after '#'", "   #  spaced comment  \n", {"#  spaced comment"},
         "#  spaced comment\n"},
        {"empty comment", "#\n", {"#"}, "#\n"},
        {"blank lines vanish", "\n\n \t \na 1\n\n", {"a=1"}, "a 1\n"},
        {"last line without newline", "x 1\nlast without newline", {"x=1", "last=without newline"},
         "x 1\nlast without newline\n"},
        {"carriage returns are white space", "  name \t  value  \r\n", {"name=value"},
         "name value\n"},
        {"no quotes or escapes", "\"quoted\" 'v' \\n\n", {"\"quoted\"='v' \\n"},
         "\"quoted\" 'v' \\n\n"},
        {"comments keep their places", "#head\na 1\n# mid\nb 2\n#tail",
         {"#head", "a=1", "# mid", "b=2", "#tail"}, "#head\na 1\n# mid\nb 2\n#tail\n"},
        {"empty file", "", {}, ""},
    };
    for (const auto& c : cases) {
        const ConfigFile config = load_text(c.text);
        EXPECT_EQ(entries(config), c.entries) << c.title;
        ASSERT_TRUE(config.save((dir_ / "out.conf").string())) << c.title;
        EXPECT_EQ(read_file(dir_ / "out.conf"), c.saved) << c.title;
    }
}

TEST_F(ConfigFileTest, MissingVariableThrowsWithItsName) {
    ConfigFile config = load_text("present 1\n");
    EXPECT_EQ(config["present"], "1");
    EXPECT_TRUE(config.variableExists("present"));
    EXPECT_FALSE(config.variableExists("absent"));
    for (int operation = 0; operation < 2; ++operation) {
        try {
            if (operation == 0) {
                (void)config["absent"];
            } else {
                config.removeVariable("absent");
            }
            ADD_FAILURE() << "no exception from operation " << operation;
        } catch (const hx_config::VariableAbsentException& e) {
            EXPECT_STREQ(e.what(), "absent");
        }
    }
}

TEST_F(ConfigFileTest, UnreadableFileThrowsWithTheQuotedPath) {
    const std::string path = (dir_ / "it's\\here.conf").string();
    try {
        ConfigFile config(path);
        ADD_FAILURE() << "no exception";
    } catch (const hx_config::WrongConfigException& e) {
        const std::string quoted = (dir_ / "it\\'s\\\\here.conf").string();
        EXPECT_EQ(std::string(e.what()), "Can't open file '" + quoted + "'");
    }
    ConfigFile config;
    config.addVariable("kept", "1");
    EXPECT_THROW(config.load(path), hx_config::WrongConfigException);
    EXPECT_EQ(entries(config), (std::vector<std::string>{"kept=1"}));
    std::string error;
    EXPECT_FALSE(config.loadConfig(error));
    EXPECT_EQ(error.rfind("Can't open file '", 0), 0u) << error;
}

TEST_F(ConfigFileTest, EditingKeepsPlacesAndTheIndex) {
    ConfigFile config;
    config.addComment("c1");
    config.addVariable("a", "1");
    config.addComment("c1");
    config.addVariable("b", "2");
    config.addVariable("a", "changed");  // in place
    EXPECT_EQ(entries(config), (std::vector<std::string>{"#c1", "a=changed", "#c1", "b=2"}));

    config.removeComment("c1");  // without the sign: nothing
    EXPECT_EQ(entries(config).size(), 4u);
    EXPECT_FALSE(config.commentExists("c1"));
    EXPECT_TRUE(config.commentExists("#c1"));
    config.removeComment("#c1");  // the first only
    EXPECT_EQ(entries(config), (std::vector<std::string>{"a=changed", "#c1", "b=2"}));

    config.removeVariable("a");
    config.addVariable("a", "again");  // a new entry, at the end
    EXPECT_EQ(entries(config), (std::vector<std::string>{"#c1", "b=2", "a=again"}));
    EXPECT_EQ(config["a"], "again");
    EXPECT_EQ(config["b"], "2");

    std::ostringstream line;
    line << **config.begin();
    EXPECT_EQ(line.str(), "#c1\n");

    config.clear();
    EXPECT_EQ(config.begin(), config.end());
    EXPECT_FALSE(config.variableExists("b"));
}

TEST_F(ConfigFileTest, LoadAddsToTheEntriesAlreadyPresent) {
    write_file(dir_ / "more.conf", "#from file\nb new\nc 3\n");
    ConfigFile config;
    config.addVariable("a", "1");
    config.addVariable("b", "old");
    config.load((dir_ / "more.conf").string());
    EXPECT_EQ(entries(config), (std::vector<std::string>{"a=1", "b=new", "#from file", "c=3"}));
    EXPECT_EQ(config.path(), (dir_ / "more.conf").string());
}

TEST_F(ConfigFileTest, CopiesHaveTheEntriesButNotThePath) {
    const ConfigFile original = load_text("#c\na 1\nb 2\n");
    ConfigFile copy(original);
    EXPECT_TRUE(copy.path().empty());
    EXPECT_EQ(entries(copy), entries(original));
    copy.addVariable("a", "changed");
    EXPECT_EQ(original["a"], "1") << "the copy shares no entry";

    ConfigFile assigned = load_text("x 9\n");
    assigned = original;
    EXPECT_TRUE(assigned.path().empty());
    EXPECT_EQ(entries(assigned), entries(original));
    EXPECT_EQ(assigned["b"], "2");
}

TEST_F(ConfigFileTest, AssignmentToItselfKeepsEverything) {
    ConfigFile config = load_text("#c\na 1\nb 2\n");
    ConfigFile& alias = config;
    config = alias;
    EXPECT_EQ(entries(config), (std::vector<std::string>{"#c", "a=1", "b=2"}));
    EXPECT_EQ(config["a"], "1");
    config.addVariable("a", "3");  // the index still points at the entries
    EXPECT_EQ(entries(config), (std::vector<std::string>{"#c", "a=3", "b=2"}));
}

TEST_F(ConfigFileTest, SaveReplacesTheWholeFileAndKeepsItsPermissions) {
    const fs::path target = dir_ / "target.conf";
    write_file(target, "a long old text that is longer than the new one\nold 1\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ConfigFile config;
    config.addVariable("new", "1");
    ASSERT_TRUE(config.save(target.string()));
    EXPECT_EQ(read_file(target), "new 1\n");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(listing(), (std::vector<std::string>{"target.conf"})) << "a temporary file was left";
    EXPECT_TRUE(config.path().empty()) << "save does not change the stored path";
}

TEST_F(ConfigFileTest, SaveThroughASymbolicLinkReplacesTheFileItPointsAt) {
    fs::create_directory(dir_ / "real");
    write_file(dir_ / "real" / "target.conf", "old 1\n");
    fs::create_symlink("real/target.conf", dir_ / "link.conf");
    ConfigFile config;
    config.addVariable("new", "2");
    ASSERT_TRUE(config.save((dir_ / "link.conf").string()));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.conf"));
    EXPECT_EQ(read_file(dir_ / "real" / "target.conf"), "new 2\n");
    EXPECT_EQ(listing(), (std::vector<std::string>{"link.conf", "real"}));
}

TEST_F(ConfigFileTest, NewFileGetsTheUsualPermissions) {
    const mode_t old_mask = ::umask(022);
    ConfigFile config;
    config.addVariable("k", "v");
    const bool saved = config.save((dir_ / "fresh.conf").string());
    ::umask(old_mask);
    ASSERT_TRUE(saved);
    struct stat st {};
    ASSERT_EQ(::stat((dir_ / "fresh.conf").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST_F(ConfigFileTest, SaveThatCannotWriteFailsAndLeavesNothing) {
    ConfigFile config;
    config.addVariable("k", "v");
    EXPECT_FALSE(config.save((dir_ / "missing" / "out.conf").string()));
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    fs::create_directory(dir_ / "a-folder");
    EXPECT_FALSE(config.save((dir_ / "a-folder").string()));
    EXPECT_TRUE(fs::is_directory(dir_ / "a-folder"));
    EXPECT_TRUE(fs::is_empty(dir_ / "a-folder"));
    EXPECT_EQ(listing(), (std::vector<std::string>{"a-folder"})) << "a temporary file was left";
}

}  // namespace
