#include "common/hx_version.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>

namespace {

using kelvomar::Version;

TEST(Version, TextForms)
{
    EXPECT_EQ(kelvomar::version_current.to_string(), "2.1.0");
    EXPECT_EQ(kelvomar::version_current_string, "2.1.0");
    EXPECT_EQ(kelvomar::version_current_wstring, L"2.1.0");
    EXPECT_EQ(kelvomar::version_unknown.to_string(), "0.0.0");
    EXPECT_EQ(Version(10, 200, 3000).to_wstring(), L"10.200.3000");
    EXPECT_EQ(Version(4294967295u, 0, 7).to_string(), "4294967295.0.7");
}

TEST(Version, StreamsIntoNarrowAndWideStreams)
{
    std::ostringstream narrow;
    std::ostream& as_ostream = narrow;
    as_ostream << "v" << Version(1, 2, 3) << "!";
    EXPECT_EQ(narrow.str(), "v1.2.3!");

    std::wostringstream wide;
    wide << Version(3, 0, 12) << L" ok";
    EXPECT_EQ(wide.str(), L"3.0.12 ok");
}

TEST(Version, IsAccessibleFrom)
{
    struct Case {
        Version next;
        Version previous;
        bool accessible;
    };
    const std::uint32_t max = 4294967295u;
    const Case cases[] = {
        {{2, 1, 0}, {2, 1, 0}, true},
        {{2, 1, 1}, {2, 1, 0}, true},
        {{2, 1, 2}, {2, 1, 0}, false},
        {{2, 1, 0}, {2, 1, 1}, false},
        {{2, 2, 0}, {2, 1, 7}, true},
        {{2, 2, 1}, {2, 1, 7}, false},
        {{2, 3, 0}, {2, 1, 0}, false},
        {{2, 0, 0}, {2, 1, 0}, false},
        {{3, 0, 0}, {2, 9, 9}, true},
        {{3, 0, 1}, {2, 9, 9}, false},
        {{3, 1, 0}, {2, 9, 9}, false},
        {{1, 0, 0}, {2, 0, 0}, false},
        {{4, 0, 0}, {2, 0, 0}, false},
        {{2, 1, 0}, {3, 0, 0}, false},
        // The largest number has no successor: 0 does not follow it.
        {{2, 1, 0}, {2, 1, max}, false},
        {{2, 0, 0}, {2, max, 0}, false},
        {{0, 0, 0}, {max, 0, 0}, false},
        {{2, 1, max}, {2, 1, max - 1}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.next.is_accessible_from(c.previous), c.accessible)
            << c.next << " from " << c.previous;
}

}  // namespace
