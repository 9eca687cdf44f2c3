#pragma once
// The whole-file read and write of platform_fixture.h for callers that hold a
// boost::filesystem::path.

#include <boost/filesystem.hpp>

#include <string>

#include "tests/support/platform_fixture.h"

namespace kevra_test {

// The content of the file at `path` (empty when it cannot be read).
inline std::string read_file(const boost::filesystem::path& path) { return read_file(path.string()); }

// Replaces the file at `path` with `content`.
inline void write_file(const boost::filesystem::path& path, const std::string& content)
{
    write_file(path.string(), content);
}

}  // namespace kevra_test
