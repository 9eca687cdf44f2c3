#ifndef KEVRA_COMMON_HX_LOG_FILE_H
#define KEVRA_COMMON_HX_LOG_FILE_H

// The log-file destination: appends records to one file and keeps it below a
// size limit by moving it to a dated name, keeping a bounded number of those.

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include <boost/filesystem/path.hpp>

#include "common/hx_log_destination.h"

// Size literals: 4_KB is 4096 bytes, 1_MB is 1048576 bytes.
constexpr unsigned long long operator""_KB(unsigned long long n) { return n << 10; }
constexpr unsigned long long operator""_MB(unsigned long long n) { return n * 1024_KB; }

namespace HxDestination {

class FileLogger : public HxLogger {
public:
    explicit FileLogger(const std::string& path) : path_(path) {}

    // Sets the size limit of every log file of the process to `megabytes` MiB
    // (saturating at the largest value). Never fails.
    static void set_max_size(unsigned long megabytes);

    // Sets how many rotated files are kept beside each log file. Never fails.
    static void set_max_rotate(unsigned long count);

    static std::uint64_t max_size() { return max_size_; }
    static std::uint64_t max_rotate() { return max_rotate_; }

    // True when the live file is larger than the size limit, or its size
    // cannot be read; false otherwise (a file of exactly the limit is kept).
    bool is_file_max_size_reached() const;

    // Moves the live file to "<path>.<Y>-<M>-<D>H<h>-<m>-<s>" of the local time
    // (".<n>" appended when that name is taken, so no rotated file is
    // overwritten), then removes the oldest rotated files beyond the limit.
    // Returns 0 when the file was moved, else the rename's error value.
    int log_rotate();

    // log_rotate for a given moment instead of the current time.
    int log_rotate_at(std::time_t when);

    // The rotated copies of `file_name` in `directory`: regular files named
    // file_name (compared literally), "." and a rotation stamp, keyed by their
    // last-write time in seconds. Empty when the directory cannot be listed.
    static std::multimap<std::int64_t, boost::filesystem::path> get_files_by_mask(
        const boost::filesystem::path& directory, const std::string& file_name);

    // Hook run after a new log file was created; does nothing and returns 0.
    int change_file_access_mod();

    const std::string& path() const { return path_; }

protected:
    // Rotates first when the file is over the limit, then appends the text.
    // Returns 0 when written; 1 when the file cannot be opened or written;
    // the rename's error value when rotation failed (the text is still appended).
    int write_log_impl(const std::string& text) override;

private:
    std::string path_;

    static inline std::uint64_t max_size_ = 1048576;
    static inline std::uint64_t max_rotate_ = 10;
};

// A new destination for the log file at `path`; nothing is opened yet.
std::unique_ptr<HxLogger> File(const std::string& path);

}  // namespace HxDestination

#endif
