#ifndef KEVRA_COMMON_HX_LOG_STREAM_H
#define KEVRA_COMMON_HX_LOG_STREAM_H

// One log record: HxLogStream(HxLogLvl::Error) << "text" << value << std::endl;
// The record is written, to the destinations of its level, when the statement
// ends. The routing tables and the global mask are process-wide.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/hx_log_destination.h"
#include "common/hx_log_level.h"

class HxLogStream {
public:
    using Destinations = std::vector<std::unique_ptr<HxDestination::HxLogger>>;

    // Starts a record of `level`; destinations given here replace the shared
    // ones for this record. The first record of the process reads the logging
    // configuration file. Never fails.
    template <class... Loggers>
    explicit HxLogStream(HxLogLvl::Level level, std::unique_ptr<Loggers>&&... loggers)
        : level_(level) {
        (own_loggers_.push_back(std::move(loggers)), ...);
        start_record();
    }

    HxLogStream(const HxLogStream&) = delete;
    HxLogStream& operator=(const HxLogStream&) = delete;

    // Writes the record when its level passes the global mask. Never throws.
    ~HxLogStream();

    // Appends one value as an output stream would. A value is foreign text: it
    // is written through kelvomar::one_line_text, so it never breaks the
    // record's line; line feeds that end it stay, when the record ends there
    // too. Returns the record.
    template <class T>
    HxLogStream& operator<<(T&& value) {
        format_.clear();
        format_.str(std::string());
        format_ << std::forward<T>(value);
        append_value(format_.str());
        return *this;
    }

    // A string literal is the program's own text: appended as written (up to
    // its first NUL), its line breaks included. Returns the record.
    template <std::size_t N>
    HxLogStream& operator<<(const char (&text)[N]) {
        append_own(std::string(text));
        return *this;
    }

    // A std::string is a value appended up to its first NUL, like its c_str().
    HxLogStream& operator<<(const std::string& text) {
        append_value(std::string(text.c_str()));
        return *this;
    }
    HxLogStream& operator<<(std::string& text) { return *this << static_cast<const std::string&>(text); }
    HxLogStream& operator<<(std::string&& text) { return *this << static_cast<const std::string&>(text); }

    // Applies a stream manipulator (std::endl ends the record's line); returns the record.
    HxLogStream& operator<<(std::ostream& (*manipulator)(std::ostream&)) {
        format_.clear();
        format_.str(std::string());
        manipulator(format_);
        append_own(format_.str());
        return *this;
    }

    // Sets the global mask to the mask of `level`; returns 0.
    static int set_global_log_level(unsigned long level);
    static std::uint32_t global_log_level() { return global_log_level_; }

    // Replaces the shared destinations with the given ones, in order.
    template <class... Loggers>
    static void set_default_loggers(std::unique_ptr<Loggers>&&... loggers) {
        Destinations list;
        (list.push_back(std::move(loggers)), ...);
        default_loggers() = std::move(list);
    }

    // Gives the mask key `level` (used unchanged) its own destinations, in
    // order, replacing any it had.
    template <class... Loggers>
    static void set_log_level_logger(HxLogLvl::Level level, std::unique_ptr<Loggers>&&... loggers) {
        Destinations list;
        (list.push_back(std::move(loggers)), ...);
        level_loggers()[static_cast<HxLogLvl::MaskLevel>(level)] = std::move(list);
    }

    // Drops every shared and per-mask destination (records then fall back to
    // standard output).
    static void clear_loggers();

    // Reads the logging configuration file and applies its level and log-file
    // limits. Returns true when applied; false (nothing applied, one warning
    // line on standard error) when the file is missing, unreadable or incomplete.
    static bool load_properties();

    // Applies the level and limits and rewrites the configuration file with
    // them. A failure to write the file is not reported.
    static void set_properties(HxLogLvl::Level level, unsigned long max_size_mb,
                               unsigned long max_rotate);

    // The logging configuration file ("/opt/kelvomar/etc/hx_logger.config").
    static const std::string& config_path();

    // Points the configuration read at another file and makes the next record
    // read it again (for tools and tests that must not touch the real one).
    static void set_config_path(const std::string& path);

    // A non-empty tag starts every record with the tag and "[<pid>] ".
    static void set_tag(const std::string& tag);

    // The master switch: when false no record is written.
    static void set_logging_enabled(bool enabled);

private:
    void start_record();
    void write_record();
    void append_value(const std::string& text);
    void append_own(const std::string& text);
    void release_line_ends(bool escaped);

    static Destinations& default_loggers();
    static std::map<HxLogLvl::MaskLevel, Destinations>& level_loggers();

    std::string buffer_;          // the record text
    std::ostringstream format_;   // formats one value; keeps the base set by manipulators
    std::size_t held_line_ends_ = 0;  // line feeds that ended the last value, not yet written
    HxLogLvl::Level level_;
    Destinations own_loggers_;

    static inline std::uint32_t global_log_level_ = HxLogLvl::InfoMask;
    static inline bool read_config_ = true;
    static inline bool m_logging_enabled = true;
};

#endif
