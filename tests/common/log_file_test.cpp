// The log-file destination: appending, rotation at the size limit, the number
// of rotated copies kept, and names that must be compared literally.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "common/hx_logger.h"
#include "tests/support/path_files.h"

namespace fs = boost::filesystem;
using HxDestination::FileLogger;

namespace {

using kevra_test::read_file;
using kevra_test::write_file;

std::time_t local_time(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / fs::unique_path("kevra-logfile-%%%%-%%%%");
        fs::create_directories(dir_);
        saved_size_ = FileLogger::max_size();
        saved_rotate_ = FileLogger::max_rotate();
        FileLogger::set_max_size(1);
        FileLogger::set_max_rotate(10);
    }
    void TearDown() override {
        FileLogger::set_max_size(saved_size_ / 1_MB);
        FileLogger::set_max_rotate(saved_rotate_);
        fs::remove_all(dir_);
    }

    // Names in the folder, sorted.
    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }

    // Rotated copies named `file` + "." + a stamp, last written `count` to 1
    // hours before `newest` (the first in the list is the oldest).
    std::vector<std::string> make_rotated(const std::string& file, int count, std::time_t newest) {
        std::vector<std::string> made;
        for (int i = 0; i < count; ++i) {
            const std::string name = file + ".2024-1-" + std::to_string(i + 1) + "H1-2-3";
            write_file(dir_ / name, "old " + std::to_string(i));
            fs::last_write_time(dir_ / name, newest - 3600 * (count - i));
            made.push_back(name);
        }
        return made;
    }

    fs::path dir_;
    std::uint64_t saved_size_ = 0;
    std::uint64_t saved_rotate_ = 0;
};

TEST_F(LogFile, FirstWriteCreatesTheFileAndLaterWritesAppend) {
    FileLogger logger((dir_ / "app.log").string());
    EXPECT_EQ(logger.write_log("one\n"), 0);
    EXPECT_EQ(logger.write_log("two\n"), 0);
    const std::string text = read_file(dir_ / "app.log");
    ASSERT_EQ(text.size(), 2 * std::string("[2024-05-01 10:00:00] one\n").size()) << text;
    EXPECT_EQ(text.substr(20, 7), "] one\n[");
    EXPECT_EQ(text.substr(text.size() - 6), "] two\n");
    EXPECT_EQ(names(), (std::set<std::string>{"app.log"}));
}

TEST_F(LogFile, FolderThatDoesNotExistFailsEveryWrite) {
    FileLogger logger((dir_ / "missing" / "app.log").string());
    EXPECT_EQ(logger.write_log("one\n"), 1);
    EXPECT_EQ(logger.write_log("two\n"), 1);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
}

TEST_F(LogFile, FileOfExactlyTheLimitIsAppendedToAndOneByteMoreRotates) {
    const fs::path live = dir_ / "app.log";
    write_file(live, std::string(1_MB, 'a'));
    FileLogger logger(live.string());
    EXPECT_EQ(logger.write_log("first\n"), 0);
    EXPECT_EQ(names().size(), 1u) << "a file of exactly the limit must not rotate";
    EXPECT_GT(fs::file_size(live), 1_MB);

    EXPECT_EQ(logger.write_log("second\n"), 0);
    const auto rotated = FileLogger::get_files_by_mask(dir_, "app.log");
    ASSERT_EQ(rotated.size(), 1u);
    const std::string old_text = read_file(rotated.begin()->second);
    EXPECT_EQ(old_text.substr(0, 1_MB), std::string(1_MB, 'a'));
    EXPECT_NE(old_text.find("first\n"), std::string::npos);
    const std::string live_text = read_file(live);
    EXPECT_EQ(live_text.find("first"), std::string::npos);
    EXPECT_NE(live_text.find("second\n"), std::string::npos);
}

TEST_F(LogFile, ZeroLimitRotatesEveryNonEmptyFileWithoutOverwritingInTheSameSecond) {
    FileLogger::set_max_size(0);
    const fs::path live = dir_ / "app.log";
    write_file(live, "");
    FileLogger logger(live.string());
    for (const char* record : {"r1\n", "r2\n", "r3\n", "r4\n"}) {
        EXPECT_EQ(logger.write_log(record), 0);
    }
    // The empty file was not rotated; each later write moved the previous record away.
    const auto rotated = FileLogger::get_files_by_mask(dir_, "app.log");
    ASSERT_EQ(rotated.size(), 3u);
    std::string all;
    for (const auto& entry : rotated) {
        all += read_file(entry.second);
    }
    for (const char* record : {"r1\n", "r2\n", "r3\n"}) {
        EXPECT_NE(all.find(record), std::string::npos) << record << " was lost";
    }
    EXPECT_NE(read_file(live).find("r4\n"), std::string::npos);
}

TEST_F(LogFile, RotatedNameIsTheLocalTimeWithoutLeadingZeros) {
    const fs::path live = dir_ / "app.log";
    write_file(live, "x");
    FileLogger logger(live.string());
    EXPECT_EQ(logger.log_rotate_at(local_time(2024, 5, 1, 9, 3, 7)), 0);
    EXPECT_EQ(names(), (std::set<std::string>{"app.log.2024-5-1H9-3-7"}));
}

TEST_F(LogFile, RotationsWithinOneSecondKeepEveryEarlierFile) {
    const fs::path live = dir_ / "app.log";
    FileLogger logger(live.string());
    const std::time_t when = local_time(2024, 12, 31, 23, 59, 59);
    for (const char* text : {"first", "second", "third"}) {
        write_file(live, text);
        ASSERT_EQ(logger.log_rotate_at(when), 0);
    }
    const std::string base = "app.log.2024-12-31H23-59-59";
    EXPECT_EQ(read_file(dir_ / base), "first");
    EXPECT_EQ(read_file(dir_ / (base + ".1")), "second");
    EXPECT_EQ(read_file(dir_ / (base + ".2")), "third");
    EXPECT_EQ(FileLogger::get_files_by_mask(dir_, "app.log").size(), 3u);
}

TEST_F(LogFile, TrimmingAfterRotationsWithinOneSecondKeepsTheLatest) {
    // Equal write times: the rotation order alone tells which copies are newest,
    // also once the first name of that second has been freed by trimming.
    const fs::path live = dir_ / "app.log";
    FileLogger::set_max_rotate(2);
    FileLogger logger(live.string());
    const std::time_t when = local_time(2025, 3, 4, 5, 6, 7);
    for (int i = 1; i <= 12; ++i) {
        write_file(live, "r" + std::to_string(i));
        fs::last_write_time(live, when);
        ASSERT_EQ(logger.log_rotate_at(when), 0);
    }
    std::set<std::string> kept;
    for (const auto& entry : FileLogger::get_files_by_mask(dir_, "app.log")) {
        kept.insert(read_file(entry.second));
    }
    EXPECT_EQ(kept, (std::set<std::string>{"r11", "r12"}));
}

struct KeepCase {
    int existing;        // rotated files before the rotation
    unsigned long keep;  // max_rotate
    int removed;         // the oldest this many of the existing ones go
    bool new_one_kept;   // the file just rotated survives
};

TEST_F(LogFile, RotationKeepsTheNewestCopiesUpToTheLimit) {
    const KeepCase cases[] = {
        {10, 10, 1, true}, {9, 10, 0, true}, {11, 10, 2, true},
        {3, 1, 3, true},   {2, 0, 2, false}, {0, 0, 0, false},
    };
    const std::time_t now = std::time(nullptr);
    for (const auto& c : cases) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const auto existing = make_rotated("app.log", c.existing, now - 60);
        const fs::path live = dir_ / "app.log";
        write_file(live, "live");
        fs::last_write_time(live, now);
        FileLogger::set_max_rotate(c.keep);
        FileLogger logger(live.string());
        ASSERT_EQ(logger.log_rotate_at(local_time(2025, 6, 7, 8, 9, 10)), 0);

        const auto present = names();
        for (int i = 0; i < c.existing; ++i) {
            EXPECT_EQ(present.count(existing[i]), i < c.removed ? 0u : 1u)
                << existing[i] << " with " << c.existing << " existing, keep " << c.keep;
        }
        EXPECT_EQ(present.count("app.log.2025-6-7H8-9-10"), c.new_one_kept ? 1u : 0u)
            << c.existing << " existing, keep " << c.keep;
        EXPECT_EQ(present.count("app.log"), 0u);
    }
}

TEST_F(LogFile, TrimmingTouchesOnlyThisFilesRotatedCopies) {
    const std::time_t now = std::time(nullptr);
    const auto own = make_rotated("app.log", 10, now - 60);
    // Files of the same folder that only look alike: another program's copies,
    // a '.' of the name that must not match any character, other suffixes, a folder.
    const std::vector<std::string> strangers = {
        "other.log.2020-1-1H1-1-1", "appXlog.2020-1-1H1-1-1", "xapp.log.2020-1-1H1-1-1",
        "app.log.bak",              "app.log.2020-1-1H1-1-1.txt", "app.log.2020-1-1",
        "app.log"};
    for (const auto& name : strangers) {
        if (name != "app.log") {
            write_file(dir_ / name, "stranger");
            fs::last_write_time(dir_ / name, now - 365 * 24 * 3600);
        }
    }
    fs::create_directory(dir_ / "app.log.2019-1-1H1-1-1");
    fs::last_write_time(dir_ / "app.log.2019-1-1H1-1-1", now - 400 * 24 * 3600);
    write_file(dir_ / "app.log", "live");
    FileLogger::set_max_rotate(3);
    FileLogger logger((dir_ / "app.log").string());
    ASSERT_EQ(logger.log_rotate_at(local_time(2025, 1, 2, 3, 4, 5)), 0);

    const auto present = names();
    for (const auto& name : strangers) {
        if (name != "app.log") {
            EXPECT_EQ(present.count(name), 1u) << name << " was removed";
        }
    }
    EXPECT_EQ(present.count("app.log.2019-1-1H1-1-1"), 1u);
    EXPECT_EQ(present.count("app.log.2025-1-2H3-4-5"), 1u);
    EXPECT_EQ(present.count(own[9]), 1u);
    EXPECT_EQ(present.count(own[8]), 1u);
    EXPECT_EQ(present.count(own[7]), 0u);
}

TEST_F(LogFile, NamesWithPatternCharactersAreComparedLiterally) {
    const std::time_t now = std::time(nullptr);
    for (const std::string name : {"a+(b.log", "x[1].log", "(", "p*q?.log", "r\\s$.log", "a.log^"}) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        const auto own = make_rotated(name, 2, now - 60);
        write_file(dir_ / name, "live");
        FileLogger::set_max_rotate(1);
        FileLogger logger((dir_ / name).string());
        ASSERT_EQ(logger.log_rotate_at(local_time(2025, 1, 2, 3, 4, 5)), 0) << name;
        EXPECT_EQ(names(), (std::set<std::string>{name + ".2025-1-2H3-4-5"})) << name;
    }
}

TEST_F(LogFile, FilesAreListedByLastWriteTime) {
    const std::time_t now = std::time(nullptr);
    write_file(dir_ / "app.log.2024-1-1H1-1-1", "");
    write_file(dir_ / "app.log.2023-1-1H1-1-1", "");
    fs::last_write_time(dir_ / "app.log.2024-1-1H1-1-1", now - 100);
    fs::last_write_time(dir_ / "app.log.2023-1-1H1-1-1", now - 50);
    const auto found = FileLogger::get_files_by_mask(dir_, "app.log");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found.begin()->first, now - 100);
    EXPECT_EQ(found.rbegin()->second.filename().string(), "app.log.2023-1-1H1-1-1");
    EXPECT_TRUE(FileLogger::get_files_by_mask(dir_ / "missing", "app.log").empty());
    EXPECT_TRUE(FileLogger::get_files_by_mask("", "app.log").empty());
}

TEST_F(LogFile, FailedRenameKeepsAppendingToTheLiveFile) {
    // A name so long that the dated name exceeds the file-name limit: the
    // rename fails while the live file can still be written.
    FileLogger::set_max_size(0);
    const fs::path live = dir_ / (std::string(240, 'n') + ".log");
    FileLogger logger(live.string());
    EXPECT_EQ(logger.write_log("one\n"), 0);
    EXPECT_NE(logger.write_log("two\n"), 0) << "the failed rotation is reported";
    EXPECT_NE(logger.write_log("three\n"), 0);
    const std::string text = read_file(live);
    for (const char* record : {"one\n", "two\n", "three\n"}) {
        EXPECT_NE(text.find(record), std::string::npos) << record << " was dropped";
    }
    EXPECT_EQ(names().size(), 1u);
}

TEST_F(LogFile, PathWithoutFolderRemovesNoRotatedFile) {
    const std::time_t now = std::time(nullptr);
    const auto own = make_rotated("app.log", 3, now - 60);
    write_file(dir_ / "app.log", "live");
    char cwd[4096] = {0};
    ASSERT_NE(::getcwd(cwd, sizeof(cwd)), nullptr);
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
    FileLogger::set_max_rotate(0);
    FileLogger logger("app.log");
    const int result = logger.log_rotate_at(local_time(2025, 1, 2, 3, 4, 5));
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(names().size(), 4u);
}

TEST_F(LogFile, LimitsAreSetInMegabytesAndCounts) {
    FileLogger::set_max_size(3);
    EXPECT_EQ(FileLogger::max_size(), 3u * 1048576u);
    FileLogger::set_max_size(~0ul);
    EXPECT_EQ(FileLogger::max_size(), ~std::uint64_t{0}) << "saturates instead of wrapping";
    FileLogger::set_max_rotate(7);
    EXPECT_EQ(FileLogger::max_rotate(), 7u);
    EXPECT_EQ(2_KB, 2048u);
    EXPECT_EQ(5_MB, 5u * 1048576u);
}

}  // namespace
