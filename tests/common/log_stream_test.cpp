// Log records: their text with and without colour, the level mask and the
// routing of a record to its destinations.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iomanip>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <boost/filesystem.hpp>

#include "common/hx_logger.h"

namespace fs = boost::filesystem;

namespace {

struct Written {
    std::string sink;
    std::string text;  // without the time prefix
};

std::vector<Written>& written() {
    static std::vector<Written> log;
    return log;
}

// Strips "[YYYY-MM-DD HH:MM:SS] " and fails the test when it is not there.
std::string without_prefix(const std::string& text) {
    static const std::regex prefix(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )");
    std::smatch match;
    if (!std::regex_search(text, match, prefix)) {
        ADD_FAILURE() << "no time prefix in: " << text;
        return text;
    }
    return match.suffix();
}

// A destination that remembers what it was given, under its name.
class Sink : public HxDestination::HxLogger {
public:
    explicit Sink(std::string name) : name_(std::move(name)) {}

protected:
    int write_log_impl(const std::string& text) override {
        written().push_back({name_, without_prefix(text)});
        return 0;
    }

private:
    std::string name_;
};

std::unique_ptr<HxDestination::HxLogger> sink(const std::string& name) {
    return std::make_unique<Sink>(name);
}

std::vector<std::string> sinks_written() {
    std::vector<std::string> names;
    for (const auto& entry : written()) {
        names.push_back(entry.sink);
    }
    return names;
}

// Every test starts with the configuration read (from a private file at
// level Debug), no destinations, no tag and nothing written.
class LogRecord : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-log-%%%%-%%%%");
        fs::create_directories(dir_);
        std::ofstream((dir_ / "hx_logger.config").string())
            << "log_level Debug\nlog_file_max_size 1\nlog_file_max_rotate 10\n";
        HxLogStream::set_config_path((dir_ / "hx_logger.config").string());
        HxLogStream::clear_loggers();
        HxLogStream(HxLogLvl::Info, sink("discarded")) << "configuration read" << std::endl;
        HxLogStream::set_tag("");
        HxLogStream::set_logging_enabled(true);
        written().clear();
    }
    void TearDown() override {
        HxLogStream::clear_loggers();
        HxLogStream::set_tag("");
        HxLogStream::set_logging_enabled(true);
        HxLogStream::set_global_log_level(HxLogLvl::Info);
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

// The program's own texts (string literals): white space and line breaks as the level's form gives them.
struct FormatCase {
    const char* title;
    HxLogLvl::Level level;
    void (*write)(HxLogLvl::Level);
    const char* expected;
};

const FormatCase kFormatCases[] = {
    {"plain record keeps its spacing", HxLogLvl::Info, [](HxLogLvl::Level l) { HxLogStream(l) << "a  b " << std::endl; },
     "Info: a  b \n"},
    {"plain record without endl has no line end", HxLogLvl::Info, [](HxLogLvl::Level l) { HxLogStream(l) << "no end"; },
     "Info: no end"},
    {"plain record keeps its own line break", HxLogLvl::Info,
     [](HxLogLvl::Level l) { HxLogStream(l) << "one]\n" << "two" << std::endl; }, "Info: one]\ntwo\n"},
    {"debug levels above Debug are plain", HxLogLvl::Debug1, [](HxLogLvl::Level l) { HxLogStream(l) << "z" << std::endl; },
     "Debug1: z\n"},
    {"error is red, blanks compressed", HxLogLvl::Error,
     [](HxLogLvl::Level l) { HxLogStream(l) << "word   second  " << std::endl; },
     "\033[1;31mError: word second \033[0m\n"},
    {"leading blanks of the text shrink to one", HxLogLvl::Error,
     [](HxLogLvl::Level l) { HxLogStream(l) << "   lead" << std::endl; }, "\033[1;31mError: lead \033[0m\n"},
    {"a run keeps its first character", HxLogLvl::Error, [](HxLogLvl::Level l) { HxLogStream(l) << "a \nb" << std::endl; },
     "\033[1;31mError: a b \033[0m\n"},
    {"warning is yellow", HxLogLvl::Warning, [](HxLogLvl::Level l) { HxLogStream(l) << "w"; },
     "\033[1;33mWarning: w \033[0m\n"},
    {"debug is bright white, tabs compressed", HxLogLvl::Debug,
     [](HxLogLvl::Level l) { HxLogStream(l) << "x\t\ty" << std::endl; }, "\033[1;97mDebug: x\ty \033[0m\n"},
    {"inner line breaks reopen the colour", HxLogLvl::Warning,
     [](HxLogLvl::Level l) { HxLogStream(l) << "one\n\ntwo" << std::endl; },
     "\033[1;33mWarning: one \033[0m\n\033[1;33mtwo \033[0m\n"},
};

TEST_F(LogRecord, TextWithAndWithoutColour) {
    HxLogStream::set_default_loggers(sink("out"));
    HxLogStream::set_global_log_level(HxLogLvl::Debug4);
    for (const auto& c : kFormatCases) {
        written().clear();
        c.write(c.level);
        ASSERT_EQ(written().size(), 1u) << c.title;
        EXPECT_EQ(written()[0].text, c.expected) << c.title;
    }
}

// Values (names, paths, tool output) never start a line of their own: their
// control characters and backslashes are escaped, the same at every level;
// line feeds that end a value stay only where the record's line ends anyway.
struct ValueCase {
    const char* title;
    HxLogLvl::Level level;
    std::string value;
    const char* after;  // own text after the value
    const char* expected;
};

const ValueCase kValueCases[] = {
    {"a line break in a name", HxLogLvl::Info, "web\nMAIN ARCHIVE FILENAME:x", "", "Info: name: web\\nMAIN ARCHIVE FILENAME:x\n"},
    {"the same in an error", HxLogLvl::Error, "web\nMAIN ARCHIVE FILENAME:x", "",
     "\033[1;31mError: name: web\\nMAIN ARCHIVE FILENAME:x \033[0m\n"},
    {"carriage return, tab, backslashes", HxLogLvl::Info, "a\rb\tc\\d\\n", "", "Info: name: a\\rb\\tc\\d\\\\n\n"},
    {"other control characters in hex", HxLogLvl::Warning, std::string("\x1b[31m\x01\x7f\0", 8), "",
     "\033[1;33mWarning: name: \\x1b[31m\\x01\\x7f \033[0m\n"},
    {"UTF-8 and blanks unchanged", HxLogLvl::Info, "caf\xc3\xa9  db", "", "Info: name: caf\xc3\xa9  db\n"},
    {"tool output ending the record keeps its line end", HxLogLvl::Info, "ID: 5\n", "", "Info: name: ID: 5\n\n"},
    {"a line end followed by more text is escaped", HxLogLvl::Info, "web\n", " exists", "Info: name: web\\n exists\n"},
    {"multi-line output of a failed command", HxLogLvl::Error, "line 1\nline 2\n", "",
     "\033[1;31mError: name: line 1\\nline 2 \033[0m\n"},
};

TEST_F(LogRecord, ValuesStayOnTheRecordsLine) {
    HxLogStream::set_default_loggers(sink("out"));
    for (const auto& c : kValueCases) {
        written().clear();
        HxLogStream(c.level) << "name: " << c.value << c.after << std::endl;
        ASSERT_EQ(written().size(), 1u) << c.title;
        EXPECT_EQ(written()[0].text, c.expected) << c.title;
    }
}

TEST_F(LogRecord, EveryKindOfValueIsEscaped) {
    HxLogStream::set_default_loggers(sink("out"));
    char buffer[] = "b\nc";
    const char* pointer = "p\nq";
    const std::string text = "s\nt";
    HxLogStream(HxLogLvl::Info) << pointer << "|" << buffer << "|" << text << "|" << std::string("u\nv") << "|"
                                << fs::path("/a\nb") << "|" << std::quoted(text) << "|" << '\n' << std::endl;
    ASSERT_EQ(written().size(), 1u);
    EXPECT_EQ(written()[0].text, "Info: p\\nq|b\\nc|s\\nt|u\\nv|\"/a\\nb\"|\"s\\nt\"|\n\n");
}

TEST_F(LogRecord, PiecesAreAppendedAsByAnOutputStream) {
    HxLogStream::set_default_loggers(sink("out"));
    const std::string with_nul("ab\0cd", 5);
    const unsigned char bytes[] = "uc";
    HxLogStream(HxLogLvl::Info) << with_nul << "|" << std::hex << 255 << " " << 16u << std::dec
                                << " " << 10ul << " " << 7ull << "|" << 'c' << bytes << "|"
                                << fs::path("a&b") << fs::path("q\"t") << "|"
                                << std::quoted("x \"y\"") << "|" << std::quoted("p'q", '\'', '\\')
                                << std::endl;
    ASSERT_EQ(written().size(), 1u);
    EXPECT_EQ(written()[0].text,
              "Info: ab|ff 10 10 7|cuc|\"a&&b\"\"q&\"t\"|\"x \\\"y\\\"\"|'p\\'q'\n");
}

TEST_F(LogRecord, BaseManipulatorLastsForOneRecordOnly) {
    HxLogStream::set_default_loggers(sink("out"));
    HxLogStream(HxLogLvl::Info) << std::hex << 255 << std::endl;
    HxLogStream(HxLogLvl::Info) << 255 << std::endl;
    ASSERT_EQ(written().size(), 2u);
    EXPECT_EQ(written()[1].text, "Info: 255\n");
}

struct MaskCase {
    unsigned long global;
    HxLogLvl::Level record;
    bool written;
};

TEST_F(LogRecord, GlobalMaskLetsThroughTheLevelsItCovers) {
    const MaskCase cases[] = {
        {HxLogLvl::Info, HxLogLvl::Info, true},          {HxLogLvl::Info, HxLogLvl::Debug, false},
        {HxLogLvl::Info, HxLogLvl::Error, true},         {HxLogLvl::Warning, HxLogLvl::Info, false},
        {HxLogLvl::Warning, HxLogLvl::Error, true},      {HxLogLvl::Error, HxLogLvl::Warning, false},
        {HxLogLvl::Debug2, HxLogLvl::Debug2, true},      {HxLogLvl::Debug2, HxLogLvl::Debug3, false},
        {HxLogLvl::Debug, HxLogLvl::Debug, true},        {HxLogLvl::Debug, HxLogLvl::Debug1, false},
        {2, HxLogLvl::Error, true},  // a single level becomes its mask
        {6, HxLogLvl::Error, false}, // a raw value is used as it is
        {6, HxLogLvl::Info, true},
        {HxLogLvl::FuncBase, HxLogLvl::FuncAny, true},   {HxLogLvl::FuncBase, HxLogLvl::Error, false},
        {HxLogLvl::Measure, HxLogLvl::Measure, true},    {HxLogLvl::Measure, HxLogLvl::Error, false},
    };
    HxLogStream::set_default_loggers(sink("out"));
    for (const auto& c : cases) {
        written().clear();
        HxLogStream::set_global_log_level(c.global);
        HxLogStream(c.record) << "x" << std::endl;
        EXPECT_EQ(written().size(), c.written ? 1u : 0u)
            << "global " << c.global << ", record " << c.record;
    }
}

TEST_F(LogRecord, MasterSwitchSilencesEveryRecord) {
    HxLogStream::set_default_loggers(sink("out"));
    HxLogStream::set_logging_enabled(false);
    HxLogStream(HxLogLvl::Error) << "x" << std::endl;
    HxLogStream(HxLogLvl::Info, sink("own")) << "x" << std::endl;
    EXPECT_TRUE(written().empty());
}

TEST_F(LogRecord, TagAndProcessIdStartTheRecord) {
    HxLogStream::set_default_loggers(sink("out"));
    HxLogStream::set_tag("agent");
    HxLogStream(HxLogLvl::Info) << "x" << std::endl;
    ASSERT_EQ(written().size(), 1u);
    EXPECT_EQ(written()[0].text, "agent[" + std::to_string(::getpid()) + "] Info: x\n");
}

// Installs up to two named sinks as the shared list or as the list of a key.
void install_defaults(const std::vector<std::string>& names) {
    if (names.size() == 2) {
        HxLogStream::set_default_loggers(sink(names[0]), sink(names[1]));
    } else if (names.size() == 1) {
        HxLogStream::set_default_loggers(sink(names[0]));
    } else {
        HxLogStream::set_default_loggers();
    }
}

void install_key(std::uint32_t key, const std::vector<std::string>& names) {
    const auto level = static_cast<HxLogLvl::Level>(key);
    if (names.size() == 2) {
        HxLogStream::set_log_level_logger(level, sink(names[0]), sink(names[1]));
    } else if (names.size() == 1) {
        HxLogStream::set_log_level_logger(level, sink(names[0]));
    } else {
        HxLogStream::set_log_level_logger(level);
    }
}

struct RouteCase {
    const char* title;
    std::vector<std::string> defaults;
    std::vector<std::pair<std::uint32_t, std::vector<std::string>>> keyed;
    HxLogLvl::Level level;
    std::vector<std::string> expected;
};

TEST_F(LogRecord, RoutingChoosesTheDestinationsOfTheLevel) {
    const std::vector<std::string> main_defaults = {"file", "stdout"};
    const std::vector<std::pair<std::uint32_t, std::vector<std::string>>> main_keys = {
        {1, {"error-file", "stderr"}}};
    const RouteCase cases[] = {
        {"program set-up, Error", main_defaults, main_keys, HxLogLvl::Error, {"error-file", "stderr"}},
        {"program set-up, Warning", main_defaults, main_keys, HxLogLvl::Warning, {"file", "stdout"}},
        {"program set-up, Info", main_defaults, main_keys, HxLogLvl::Info, {"file", "stdout"}},
        {"program set-up, Debug", main_defaults, main_keys, HxLogLvl::Debug, {"file", "stdout"}},
        {"every matching key, ascending", {"d"}, {{3, {"k3"}}, {1, {"k1"}}}, HxLogLvl::Error,
         {"k1", "k3"}},
        {"key 3 catches Warning", {"d"}, {{3, {"k3"}}, {1, {"k1"}}}, HxLogLvl::Warning, {"k3"}},
        {"no matching key", {"d"}, {{3, {"k3"}}, {1, {"k1"}}}, HxLogLvl::Info, {"d"}},
        {"first matching key empty: shared list", {"d"}, {{1, {}}, {3, {"k3"}}}, HxLogLvl::Error,
         {"d"}},
        {"an empty key is skipped when a lower one matched", {"d"}, {{1, {"k1"}}, {3, {}}},
         HxLogLvl::Error, {"k1"}},
        {"keyed destinations without a shared list", {}, {{1, {"k1"}}}, HxLogLvl::Error, {"k1"}},
    };
    HxLogStream::set_global_log_level(HxLogLvl::Debug);
    for (const auto& c : cases) {
        HxLogStream::clear_loggers();
        install_defaults(c.defaults);
        for (const auto& key : c.keyed) {
            install_key(key.first, key.second);
        }
        written().clear();
        HxLogStream(c.level) << "x" << std::endl;
        EXPECT_EQ(sinks_written(), c.expected) << c.title;
    }
}

TEST_F(LogRecord, OwnDestinationsReplaceEveryShared) {
    install_defaults({"d"});
    install_key(1, {"k1"});
    HxLogStream(HxLogLvl::Error, sink("own1"), sink("own2")) << "x" << std::endl;
    EXPECT_EQ(sinks_written(), (std::vector<std::string>{"own1", "own2"}));
}

TEST_F(LogRecord, WithoutAnyDestinationTheRecordGoesToStandardOutput) {
    install_key(1, {"k1"});  // does not match Info
    testing::internal::CaptureStdout();
    HxLogStream(HxLogLvl::Info) << "to stdout" << std::endl;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(without_prefix(out), "Info: to stdout\n");
    EXPECT_TRUE(written().empty());
}

TEST_F(LogRecord, StandardStreamDestinationsWriteTheWholeLine) {
    HxLogStream::set_default_loggers(HxDestination::Stdout());
    HxLogStream::set_log_level_logger(HxLogLvl::Error, HxDestination::Stderr());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    HxLogStream(HxLogLvl::Info) << "out" << std::endl;
    HxLogStream(HxLogLvl::Error) << "err" << std::endl;
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(without_prefix(out), "Info: out\n");
    EXPECT_EQ(without_prefix(err), "\033[1;31mError: err \033[0m\n");
}

}  // namespace
