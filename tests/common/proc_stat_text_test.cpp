// The state and parent id of a /proc/<pid>/stat line, from whole and cut texts.
#include "common/proc_stat_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using hx_utils_common::parse_proc_stat;
using hx_utils_common::proc_stat_fields;

struct StatCase {
    const char* name;
    std::string text;
    bool parsed;
    char state;
    int parent;
};

TEST(ProcStatText, ReadsStateAndParentAfterTheLastParenthesis)
{
    const StatCase cases[] = {
        {"plain", "4242 (hxfd) S 17 4242 17 0 -1 4194560 1 0 0 0\n", true, 'S', 17},
        {"name with blanks and parentheses", "9 (a) R (b) x) Z 1 9 9\n", true, 'Z', 1},
        {"name that looks like fields", "9 (x) S 5 ) T 3 4\n", true, 'T', 3},
        {"parent zero", "1 (init) S 0 1 1\n", true, 'S', 0},
        {"cut after the parent", "77 (sh) S 76 ", true, 'S', 76},
        {"parent at the line end", "77 (sh) S 76\n", true, 'S', 76},
        {"cut inside the parent", "77 (sh) S 76", false, 0, -1},
        {"no parent", "77 (sh) S \n", false, 0, -1},
        {"no closing parenthesis", "77 (sh S 76 1\n", false, 0, -1},
        {"state missing", "77 (sh)  76 1\n", false, 0, -1},
        {"parent not a number", "77 (sh) S x6 1\n", false, 0, -1},
        {"parent beyond int", "77 (sh) S 99999999999 1\n", false, 0, -1},
        {"empty", "", false, 0, -1},
    };
    for (const StatCase& c : cases) {
        proc_stat_fields fields;
        EXPECT_EQ(parse_proc_stat(c.text.data(), c.text.size(), fields), c.parsed) << c.name;
        EXPECT_EQ(fields.state, c.state) << c.name;
        EXPECT_EQ(fields.parent, c.parent) << c.name;
    }
}

TEST(ProcStatText, ReadsNoByteBeyondTheGivenLength)
{
    // The buffer of a short read holds more than was read: only `length` counts.
    const std::string text = "5 (a) S 12 1\n";
    proc_stat_fields fields;
    EXPECT_FALSE(parse_proc_stat(text.data(), 10, fields));  // "5 (a) S 12"
    EXPECT_TRUE(parse_proc_stat(text.data(), 11, fields));
    EXPECT_EQ(fields.parent, 12);
    EXPECT_FALSE(parse_proc_stat(nullptr, 0, fields));
}

}  // namespace
