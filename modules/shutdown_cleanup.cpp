// What the current run has made so far, for the termination clean-up.
#include "modules/shutdown_cleanup.h"

#include <set>

#include <boost/filesystem/operations.hpp>
#include <boost/system/error_code.hpp>

namespace kelvomar {
namespace module {
namespace shutdown_cleanup {

namespace {

namespace fs = boost::filesystem;

struct NotedDirectory {
    bool noted = false;
    fs::path directory;
    std::set<fs::path> entries;  // file names present when noted
};

NotedDirectory& noted()
{
    static NotedDirectory record;
    return record;
}

// `path` without "." components and trailing separators, for comparisons.
fs::path normal(const std::string& path)
{
    fs::path result = fs::path(path).lexically_normal();
    while (result.has_parent_path() && (result.filename() == "." || result.filename().empty())) {
        result = result.parent_path();
    }
    return result;
}

}  // namespace

void note_operation_directory(const std::string& directory) noexcept
{
    try {
        if (directory.empty()) {
            noted() = NotedDirectory();
            return;
        }
        NotedDirectory record;
        record.noted = true;
        record.directory = normal(directory);
        boost::system::error_code ec;
        for (fs::directory_iterator it(record.directory, ec), end; !ec && it != end; it.increment(ec)) {
            record.entries.insert(it->path().filename());
        }
        noted() = std::move(record);
    } catch (...) {
        noted() = NotedDirectory();
    }
}

bool created_by_this_run(const std::string& directory) noexcept
{
    try {
        const NotedDirectory& record = noted();
        if (!record.noted || directory.empty()) {
            return false;
        }
        const fs::path candidate = normal(directory);
        if (candidate.parent_path() != record.directory) {
            return false;
        }
        const fs::path name = candidate.filename();
        if (name.empty() || name == "." || name == ".." || name == "/") {
            return false;
        }
        return record.entries.count(name) == 0;
    } catch (...) {
        return false;
    }
}

void reset() noexcept
{
    try {
        noted() = NotedDirectory();
    } catch (...) {
    }
}

}  // namespace shutdown_cleanup
}  // namespace module
}  // namespace kelvomar
