#pragma once
// Shared fixture of the sandbox runs of the access layer against the platform
// stand-ins (tests/e2e/opennebula_*_test.cpp): log capture plus the fixture command.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/opennebula/log_capture.h"
#include "tests/support/platform_fixture.h"
#include "tests/support/sandbox_guard.h"

namespace opennebula_test {

class PlatformRun : public LogCapture {
protected:
    kevra_test::Platform platform;

    // True when the stand-in `tool` logged exactly the call `line`.
    bool called(const std::string& tool, const std::string& line) const
    {
        const std::vector<std::string> lines = platform.calls(tool);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    // The call log of `tool`, for failure messages.
    std::string call_log(const std::string& tool) const
    {
        std::string text;
        for (const std::string& line : platform.calls(tool))
            text += line + "\n";
        return text;
    }

    // The MD5 md5sum prints for the file at `path`.
    std::string md5_of(const std::string& path) const
    {
        const kevra_test::ProgramResult result = platform.shell("/usr/bin/md5sum '" + path + "'");
        return result.out.substr(0, 32);
    }
};

}  // namespace opennebula_test
