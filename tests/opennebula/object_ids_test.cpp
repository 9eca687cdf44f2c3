// Object IDs: what counts as one, and the ID a create or clone command printed.
#include <gtest/gtest.h>

#include <string>

#include "opennebula/object_ids.h"

namespace hx = hx_opennebula_common;

namespace {

TEST(ObjectIds, OnlyARunOfDigitsIsAnId)
{
    for (const char* id : {"0", "5", "0042", "123456789"}) {
        EXPECT_TRUE(hx::is_object_id(id)) << id;
    }
    for (const char* other : {"", " 5", "5 ", "5a", "3..5", "1,2", "-1", "+1", "web"}) {
        EXPECT_FALSE(hx::is_object_id(other)) << '"' << other << '"';
    }
}

TEST(ObjectIds, PrintedIdIsTheDigitsOfAnIdLine)
{
    struct Case {
        const char* output;
        const char* id;
    };
    const Case cases[] = {
        {"ID: 12\n", "12"},
        {"ID: 7", "7"},
        {"ID: 7\r\n", "7"},
        {"warning: slow\nID: 3\n", "3"},
        {"", ""},
        {"[one.template.clone] NAME is already taken by TEMPLATE 1.\n", ""},
        {"no ID: 4\n", ""},        // not at the start of a line
        {"ID: 4x\n", ""},          // not digits up to the line end
        {"ID: \nID: 9\n", "9"},    // the first line with digits counts
        {"IMAGE ID: 5\n", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hx::printed_object_id(c.output), c.id) << '"' << c.output << '"';
    }
}

TEST(ObjectIds, IdsCompareAsNumbersOfAnyLength)
{
    struct Case {
        const char* id;
        const char* bound;
        bool above;
    };
    const Case cases[] = {
        {"6", "5", true},   {"5", "5", false},   {"4", "5", false},    {"10", "9", true},
        {"9", "10", false}, {"007", "6", true},  {"6", "007", false},  {"0", "0", false},
        {"1", "000", true}, {"000", "0", false}, {"99999999999999999999999", "99999999999999999999998", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hx::id_above(c.id, c.bound), c.above) << c.id << " vs " << c.bound;
    }
}

}  // namespace
