#include "common/hx_log_file.h"
#include "common/output_failures.h"
#include "common/write_all.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <limits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <boost/regex.hpp>

namespace fs = boost::filesystem;

namespace HxDestination {

namespace {

// What follows "<file name>." in a rotated copy's name; the optional ".<n>"
// tells apart copies rotated within the same second.
const boost::regex& rotation_stamp() {
    static const boost::regex stamp(R"([0-9]+-[0-9]+-[0-9]+H[0-9]+-[0-9]+-[0-9]+(\.[0-9]+)?)",
                                    boost::regex::perl);
    return stamp;
}

std::string rotated_name(const std::string& path, std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return path + "." + std::to_string(local.tm_year + 1900) + "-" +
           std::to_string(local.tm_mon + 1) + "-" + std::to_string(local.tm_mday) + "H" +
           std::to_string(local.tm_hour) + "-" + std::to_string(local.tm_min) + "-" +
           std::to_string(local.tm_sec);
}

// Renames `from` to `to` unless `to` exists. Returns 0, EEXIST when taken, or
// another errno value.
int rename_no_replace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    const int error = errno;
    if (error != EINVAL && error != ENOSYS) {
        return error;
    }
    // The file system cannot refuse to replace: check first (the process is
    // single-threaded; another process rotating the same file in the same
    // second is the only remaining race).
    boost::system::error_code ec;
    if (fs::symlink_status(to, ec).type() != fs::file_not_found && !ec) {
        return EEXIST;
    }
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// 0 when neither `base` nor any "<base>.<n>" exists, else the largest such n plus 1.
unsigned long next_copy_number(const std::string& base) {
    const fs::path base_path(base);
    const std::string prefix = base_path.filename().string() + ".";
    const fs::path dir = base_path.has_parent_path() ? base_path.parent_path() : fs::path(".");
    boost::system::error_code ec;
    bool taken = fs::symlink_status(base_path, ec).type() != fs::file_not_found && !ec;
    unsigned long largest = 0;
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.find_first_not_of("0123456789", prefix.size()) != std::string::npos ||
            name.size() - prefix.size() > 9) {
            continue;
        }
        taken = true;
        largest = std::max(largest, std::stoul(name.substr(prefix.size())));
    }
    return taken ? largest + 1 : 0;
}

// The numbers of a rotation stamp in order (year, month, day, hours, minutes,
// seconds, copy number or 0): they sort copies by the time of their rotation.
std::vector<unsigned long> stamp_numbers(const std::string& stamp) {
    std::vector<unsigned long> numbers;
    std::size_t i = 0;
    while (i < stamp.size()) {
        const std::size_t digits = stamp.find_first_of("0123456789", i);
        if (digits == std::string::npos) {
            break;
        }
        std::size_t end = stamp.find_first_not_of("0123456789", digits);
        if (end == std::string::npos) {
            end = stamp.size();
        }
        const std::string number = stamp.substr(digits, std::min<std::size_t>(end - digits, 18));
        numbers.push_back(std::stoul(number));
        i = end;
    }
    numbers.resize(7, 0);
    return numbers;
}

}  // namespace

void FileLogger::set_max_size(unsigned long megabytes) {
    const std::uint64_t limit = std::numeric_limits<std::uint64_t>::max() / 1_MB;
    max_size_ = megabytes > limit ? std::numeric_limits<std::uint64_t>::max()
                                  : static_cast<std::uint64_t>(megabytes) * 1_MB;
}

void FileLogger::set_max_rotate(unsigned long count) { max_rotate_ = count; }

bool FileLogger::is_file_max_size_reached() const {
    boost::system::error_code ec;
    std::uint64_t size = fs::file_size(path_, ec);
    if (ec) {
        size = std::numeric_limits<std::uint64_t>::max();
    }
    return max_size_ < size;
}

int FileLogger::log_rotate() { return log_rotate_at(std::time(nullptr)); }

int FileLogger::log_rotate_at(std::time_t when) {
    const std::string base = rotated_name(path_, when);
    // A copy of the same second gets a number above every copy of that
    // second still present, so that the names keep the order of rotation.
    unsigned long n = next_copy_number(base);
    int result = rename_no_replace(path_, n == 0 ? base : base + "." + std::to_string(n));
    for (int attempt = 0; result == EEXIST && attempt < 1000; ++attempt) {
        result = rename_no_replace(path_, base + "." + std::to_string(++n));
    }
    if (result != 0) {
        return result;
    }
    try {
        const fs::path live(path_);
        const auto rotated = get_files_by_mask(live.parent_path(), live.filename().string());
        if (rotated.size() > max_rotate_) {
            std::uint64_t kept = 0;
            for (auto it = rotated.rbegin(); it != rotated.rend(); ++it) {
                if (kept < max_rotate_) {
                    ++kept;
                    continue;
                }
                boost::system::error_code ec;
                fs::remove(it->second, ec);
            }
        }
    } catch (...) {
        // The file was rotated; failing to trim old copies only keeps more.
    }
    return 0;
}

std::multimap<std::int64_t, fs::path> FileLogger::get_files_by_mask(const fs::path& directory,
                                                                    const std::string& file_name) {
    std::multimap<std::int64_t, fs::path> found;
    boost::system::error_code ec;
    if (directory.empty() || !fs::is_directory(directory, ec)) {
        return found;
    }
    const std::string prefix = file_name + ".";
    struct Match {
        fs::path path;
        std::int64_t seconds;
        long nanoseconds;
        std::vector<unsigned long> stamp;
    };
    std::vector<Match> matches;
    fs::directory_iterator it(directory, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
            continue;
        }
        if (!boost::regex_match(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()),
                                name.end(), rotation_stamp())) {
            continue;
        }
        struct stat info {};
        if (::stat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            continue;  // not a regular file, or gone since the listing
        }
        matches.push_back({it->path(), static_cast<std::int64_t>(info.st_mtim.tv_sec),
                           info.st_mtim.tv_nsec, stamp_numbers(name.substr(prefix.size()))});
    }
    // Equal times keep their order in the map: put them in the order they were
    // written, then rotated, so that the oldest copies are the ones removed.
    std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
        if (a.seconds != b.seconds) {
            return a.seconds < b.seconds;
        }
        if (a.nanoseconds != b.nanoseconds) {
            return a.nanoseconds < b.nanoseconds;
        }
        return a.stamp < b.stamp;
    });
    for (const auto& match : matches) {
        found.emplace(match.seconds, match.path);
    }
    return found;
}

int FileLogger::change_file_access_mod() { return 0; }

int FileLogger::write_log_impl(const std::string& text) {
    boost::system::error_code ec;
    bool is_new = !fs::exists(path_, ec);
    int rotate_error = 0;
    if (!is_new && is_file_max_size_reached()) {
        rotate_error = log_rotate();
        // When the file cannot be moved, keep appending to it rather than
        // losing this record and every later one.
        is_new = rotate_error == 0;
    }
    // One write(2) for the whole record where the kernel allows it: appended
    // at once, no part of it waits in a buffer while another writer (a
    // signal handler's record) appends to the same file.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        kelvomar::output::note_failed_log_file_write(path_, errno);
        return 1;
    }
    int write_error = kelvomar::write_all(fd, text);
    if (::close(fd) != 0 && write_error == 0) {
        write_error = errno;
    }
    if (write_error != 0) {
        kelvomar::output::note_failed_log_file_write(path_, write_error);
        return 1;
    }
    if (is_new) {
        const int hook = change_file_access_mod();
        if (hook != 0) {
            return hook;
        }
    }
    return rotate_error;
}

std::unique_ptr<HxLogger> File(const std::string& path) {
    return std::make_unique<FileLogger>(path);
}

}  // namespace HxDestination
