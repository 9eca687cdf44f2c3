// The engine's output files in the operation directory, made by the run first.
#include "modules/engine_outputs.h"

#include "common/leftovers.h"
#include "common/new_paths.h"

#include <cerrno>

namespace kelvomar {
namespace module {

namespace {

std::string leftover_key(const std::string& path)
{
    return "engine file " + path;
}

}  // namespace

std::string engine_outputs::make(const std::string& path)
{
    struct stat made {};
    const int error = new_paths::make_new_file(path, made);
    if (error == EEXIST) {
        const std::string standing = new_paths::what_stands_at(path);
        return path + ": " + (standing.empty() ? std::string("something") : standing) + " already stands there";
    }
    if (error != 0) {
        return new_paths::new_paths_error(path, error);
    }
    files_.emplace_back(path, made);
    leftovers::note(leftover_key(path), "the file " + path);
    return std::string();
}

std::string engine_outputs::problem(const std::string& path) const
{
    for (const auto& file : files_) {
        if (file.first == path) {
            return new_paths::made_file_problem(path, file.second);
        }
    }
    return std::string();
}

void engine_outputs::remove_all() noexcept
{
    for (const auto& file : files_) {
        new_paths::remove_made_file(file.first, file.second);
        leftovers::forget(leftover_key(file.first));
    }
    files_.clear();
}

void engine_outputs::hand_on() noexcept
{
    for (const auto& file : files_) {
        leftovers::forget(leftover_key(file.first));
    }
    files_.clear();
}

}  // namespace module
}  // namespace kelvomar
