#include "common/hx_log_stream.h"

#include <unistd.h>

#include <locale>

#include "common/one_line_text.h"
#include "common/output_failures.h"
#include "common/output_lines.h"

namespace {

std::string& tag() {
    static std::string value;
    return value;
}

// ANSI colours of the coloured levels; every other level is written plain.
const std::map<std::uint32_t, std::string>& level_to_color() {
    static const std::map<std::uint32_t, std::string> colors = {
        {HxLogLvl::Error, "\033[1;31m"},
        {HxLogLvl::Warning, "\033[1;33m"},
        {HxLogLvl::Debug, "\033[1;97m"},
    };
    return colors;
}

const char* const kColorReset = "\033[0m";

bool is_blank(char c) { return std::isspace(c, std::locale::classic()); }

// Trims the text and shortens every inner run of white space to its first
// character; every line break left is closed and the colour opened again.
std::string colored(const std::string& text, const std::string& color) {
    std::string compact;
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin])) {
        ++begin;
    }
    while (end > begin && is_blank(text[end - 1])) {
        --end;
    }
    for (std::size_t i = begin; i < end; ++i) {
        if (i > begin && is_blank(text[i]) && is_blank(text[i - 1])) {
            continue;
        }
        compact += text[i];
    }
    std::string out = color;
    for (char c : compact) {
        if (c == '\n') {
            out += std::string(" ") + kColorReset + "\n" + color;
        } else {
            out += c;
        }
    }
    out += std::string(" ") + kColorReset + "\n";
    return out;
}

}  // namespace

HxLogStream::Destinations& HxLogStream::default_loggers() {
    static Destinations loggers;
    return loggers;
}

std::map<HxLogLvl::MaskLevel, HxLogStream::Destinations>& HxLogStream::level_loggers() {
    static std::map<HxLogLvl::MaskLevel, Destinations> loggers;
    return loggers;
}

void HxLogStream::start_record() {
    if (read_config_) {
        read_config_ = false;
        bool loaded = false;
        try {
            loaded = load_properties();
        } catch (...) {
            // treated as an unreadable file: the defaults follow
        }
        if (!loaded) {
            try {
                set_properties(HxLogLvl::Info, 1, 10);
            } catch (...) {
                // the record is still written, at the level set so far
            }
        }
    }
    if (!tag().empty()) {
        buffer_ += tag() + "[" + std::to_string(::getpid()) + "] ";
    }
    buffer_ += HxLogLvl::to_string(level_) + ": ";
}

void HxLogStream::append_value(const std::string& text) {
    if (text.empty()) {
        return;
    }
    release_line_ends(true);
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == '\n') {
        --end;
    }
    buffer_ += kelvomar::one_line_text(text.substr(0, end));
    held_line_ends_ = text.size() - end;
}

void HxLogStream::append_own(const std::string& text) {
    if (text.empty()) {
        return;
    }
    // Line feeds of a value stay line feeds only where the record's own line ends.
    release_line_ends(text.find_first_not_of('\n') != std::string::npos);
    buffer_ += text;
}

void HxLogStream::release_line_ends(bool escaped) {
    for (; held_line_ends_ > 0; --held_line_ends_) {
        buffer_ += escaped ? "\\n" : "\n";
    }
}

HxLogStream::~HxLogStream() {
    try {
        write_record();
    } catch (...) {
        // A log record never fails its caller.
    }
}

void HxLogStream::write_record() {
    if ((level_ & global_log_level_) == 0 || !m_logging_enabled) {
        return;
    }
    auto& masks = level_loggers();
    bool shared = true;
    for (const auto& entry : masks) {
        if ((entry.first & level_) != 0) {
            shared = entry.second.empty();
            break;
        }
    }
    auto& defaults = default_loggers();
    if (own_loggers_.empty() && defaults.empty() && shared) {
        own_loggers_.push_back(HxDestination::Stdout());
    }
    std::vector<HxDestination::HxLogger*> targets;
    if (!own_loggers_.empty()) {
        for (auto& logger : own_loggers_) {
            targets.push_back(logger.get());
        }
    } else if (shared) {
        for (auto& logger : defaults) {
            targets.push_back(logger.get());
        }
    } else {
        for (auto& entry : masks) {
            if ((entry.first & level_) != 0) {
                for (auto& logger : entry.second) {
                    targets.push_back(logger.get());
                }
            }
        }
    }
    release_line_ends(false);
    const std::string& text = buffer_;
    const auto color = level_to_color().find(level_);
    const std::string output = color == level_to_color().end() ? text : colored(text, color->second);
    // The text is complete before the lock is taken; under it, the record
    // reaches each destination whole and in the same order as every other
    // record and protocol line of the process.
    {
        const kelvomar::output::ordered_write hold;
        for (auto* target : targets) {
            if (target != nullptr) {
                target->write_log(output);
            }
        }
    }
    kelvomar::output::report_failed_writes();
}

int HxLogStream::set_global_log_level(unsigned long level) {
    global_log_level_ = HxLogLvl::get_mask(static_cast<std::uint32_t>(level));
    return 0;
}

void HxLogStream::clear_loggers() {
    default_loggers().clear();
    level_loggers().clear();
}

void HxLogStream::set_tag(const std::string& value) { tag() = value; }

void HxLogStream::set_logging_enabled(bool enabled) { m_logging_enabled = enabled; }
