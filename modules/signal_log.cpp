// Log records written from a signal handler with async-signal-safe calls only.
#include "modules/signal_log.h"
#include "common/output_failures.h"
#include "common/stream_write.h"
#include "common/write_all.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include <boost/filesystem/path.hpp>

#include "common/hx_logger.h"

namespace kelvomar {
namespace module {
namespace signal_log {

namespace {

// Written by prepare in normal context, read by the handlers.
char g_log_path[PATH_MAX] = {0};
std::atomic<long> g_utc_offset{0};  // seconds east of UTC

// A line built in a fixed buffer; what does not fit is cut, and the line end
// (end_line) always has its place.
template <std::size_t Size = 1024>
class Line {
public:
    static_assert(Size >= 2, "a line needs room for its end");

    void add(const char* text)
    {
        for (; text != nullptr && *text != '\0' && size_ < Size - 2; ++text) {
            data_[size_++] = *text;
        }
    }
    // Closes the line: its line end follows whatever fitted of the text.
    void end_line()
    {
        data_[size_++] = '\n';
        data_[size_] = '\0';
    }
    void add_number(long long value, int width = 0)
    {
        char digits[24];
        int count = 0;
        const bool negative = value < 0;
        unsigned long long magnitude =
            negative ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0 && count < 20);
        while (count < width && count < 20) {
            digits[count++] = '0';
        }
        if (negative) {
            digits[count++] = '-';
        }
        char text[24];
        for (int i = 0; i < count; ++i) {
            text[i] = digits[count - 1 - i];
        }
        text[count] = '\0';
        add(text);
    }
    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    char data_[Size] = {0};
    std::size_t size_ = 0;
};

// Appends a finished record to the log file, when one is known, and writes it
// to `stream` (standard output or standard error), which may be given up
// without holding up the end of the run (common/stream_write.h).
template <std::size_t Size>
void write_record(const Line<Size>& line, int stream)
{
    if (g_log_path[0] != '\0') {
        const int fd = ::open(g_log_path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0) {
            kelvomar::write_all(fd, line.data(), line.size());
            ::close(fd);
        }
    }
    const int error = kelvomar::stream_write::write(stream, line.data(), line.size());
    if (error != 0) {
        kelvomar::output::note_failed_write(stream == STDOUT_FILENO ? kelvomar::output::target::standard_output
                                                                    : kelvomar::output::target::standard_error,
                                            error, false);
    }
}

// "[YYYY-MM-DD HH:MM:SS] " of the local time, as the log destinations write it.
template <std::size_t Size>
void add_time_prefix(Line<Size>& line)
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const long long local = static_cast<long long>(now.tv_sec) + g_utc_offset.load();
    long long days = local / 86400;
    long long seconds = local % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    // Civil date of a day count since 1970-01-01 (proleptic Gregorian calendar).
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long day_of_era = days - era * 146097;
    const long long year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const long long month_index = (5 * day_of_year + 2) / 153;
    const long long day = day_of_year - (153 * month_index + 2) / 5 + 1;
    const long long month = month_index < 10 ? month_index + 3 : month_index - 9;
    const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);

    line.add("[");
    line.add_number(year, 4);
    line.add("-");
    line.add_number(month, 2);
    line.add("-");
    line.add_number(day, 2);
    line.add(" ");
    line.add_number(seconds / 3600, 2);
    line.add(":");
    line.add_number(seconds / 60 % 60, 2);
    line.add(":");
    line.add_number(seconds % 60, 2);
    line.add("] ");
}

}  // namespace

void prepare()
{
    try {
        const char* program = program_invocation_name;
        const std::string name =
            program != nullptr ? boost::filesystem::path(program).filename().string() : std::string();
        const std::string path = name.empty() ? std::string() : "/opt/kelvomar/log/" + name + ".log";
        if (path.size() < sizeof(g_log_path)) {
            std::memcpy(g_log_path, path.c_str(), path.size() + 1);
        } else {
            g_log_path[0] = '\0';
        }
    } catch (...) {
        g_log_path[0] = '\0';
    }
    const time_t now = ::time(nullptr);
    struct tm local {};
    if (::localtime_r(&now, &local) != nullptr) {
        g_utc_offset = local.tm_gmtoff;
    }
}

std::string log_file_path()
{
    return g_log_path;
}

void info(const char* prefix, long long number, const char* suffix) noexcept
{
    if ((HxLogStream::global_log_level() & HxLogLvl::Info) == 0) {
        return;
    }
    Line<> line;
    add_time_prefix(line);
    line.add("Info: ");
    line.add(prefix);
    line.add_number(number);
    line.add(suffix);
    line.end_line();
    write_record(line, STDOUT_FILENO);
}

void error(const char* text, const char* label, const char* list) noexcept
{
    const bool listed = list != nullptr && *list != '\0';
    const char* const pieces[] = {text, listed ? label : nullptr, listed ? list : nullptr};
    error_pieces(pieces, 3);
}

void error_pieces(const char* const* pieces, std::size_t count) noexcept
{
    Line<12288> line;
    add_time_prefix(line);
    line.add("Error: ");
    for (std::size_t i = 0; i < count; ++i) {
        line.add(pieces[i]);
    }
    line.end_line();
    write_record(line, STDERR_FILENO);
}

}  // namespace signal_log
}  // namespace module
}  // namespace kelvomar
