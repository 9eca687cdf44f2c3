// Which object an ended naming command made: the exact name, the owner the
// command makes objects as, and an ID above every ID seen before it started.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "opennebula/pool_objects.h"
#include "template_module/ended_command_rule.h"

namespace {

using hx_opennebula_common::pool_object;
using kevra_template::made_by_ended_command;
using kevra_template::naming_command_start;

TEST(EndedCommandRule, AnObjectQualifiesOnlyWithTheNameTheOwnerAndALaterId)
{
    struct Case {
        const char* what;
        pool_object object;
        const char* highest_before;  // "" for an empty pool
        bool qualifies;
    };
    const Case cases[] = {
        {"the command's object", {"7", "bk1", "oneadmin"}, "5", true},
        {"the next ID", {"6", "bk1", "oneadmin"}, "5", true},
        {"the highest ID seen is not later", {"5", "bk1", "oneadmin"}, "5", false},
        {"an earlier ID", {"3", "bk1", "oneadmin"}, "5", false},
        {"another user's object", {"7", "bk1", "alice"}, "5", false},
        {"an owner that only begins alike", {"7", "bk1", "oneadmin2"}, "5", false},
        {"no owner", {"7", "bk1", ""}, "5", false},
        {"another name", {"7", "bk1-2", "oneadmin"}, "5", false},
        {"a name that only begins alike", {"7", "bk", "oneadmin"}, "5", false},
        {"a name with a blank more", {"7", "bk1 ", "oneadmin"}, "5", false},
        {"the pool was empty", {"0", "bk1", "oneadmin"}, "", true},
        {"more digits is a higher ID", {"10", "bk1", "oneadmin"}, "9", true},
        {"fewer digits is a lower ID", {"9", "bk1", "oneadmin"}, "10", false},
        {"leading zeros do not count", {"010", "bk1", "oneadmin"}, "9", true},
        {"leading zeros do not count either way", {"9", "bk1", "oneadmin"}, "0010", false},
        {"IDs beyond 64 bits", {"184467440737095516160", "bk1", "oneadmin"}, "18446744073709551615", true},
        {"not an ID", {"7a", "bk1", "oneadmin"}, "5", false},
        {"no ID", {"", "bk1", "oneadmin"}, "", false},
    };
    for (const Case& c : cases) {
        const naming_command_start start{"bk1", c.highest_before};
        EXPECT_EQ(made_by_ended_command(c.object, start, "oneadmin"), c.qualifies) << c.what;
    }
    EXPECT_FALSE(made_by_ended_command(pool_object{"7", "", "oneadmin"}, naming_command_start{"", ""}, "oneadmin"))
        << "no command is pending";
}

TEST(EndedCommandRule, ThePoolGivesTheQualifyingObjectsAndNamesEveryObjectOfTheName)
{
    const std::vector<pool_object> pool = {
        {"2", "web", "oneadmin"}, {"5", "bk1", "oneadmin"}, {"6", "bk1", "alice"},
        {"7", "bk1", "oneadmin"}, {"8", "bk1-disk-0", "oneadmin"},
    };
    const naming_command_start start{"bk1", "5"};
    const std::vector<pool_object> made = made_by_ended_command(pool, start, "oneadmin");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].id, "7");
    EXPECT_EQ(kevra_template::objects_named(pool, "bk1"), "5 (owner oneadmin), 6 (owner alice), 7 (owner oneadmin)");
    EXPECT_EQ(kevra_template::objects_named(pool, "db"), "none");
    EXPECT_EQ(kevra_template::made_after_text(start), "made after ID 5");
    EXPECT_EQ(kevra_template::made_after_text(naming_command_start{"bk1", ""}), "made when the pool was empty");
    EXPECT_EQ(kevra_template::pending_object_text("image", start),
              "an image named 'bk1' of the owner oneadmin made after ID 5");
}

// The images that the disks of a clone ended between its two steps name:
// only a copy that bears its disk's copy name, the command's owner and an
// image ID above those seen before the clone is the run's.
TEST(EndedCommandRule, OnlyTheClonesOwnCopiesOfItsDisksAreItsImages)
{
    using hx_opennebula_common::template_disk_image;
    const std::vector<pool_object> pool = {
        {"0", "web-os", "oneadmin"},    {"1", "web-data", "oneadmin"},  {"2", "iso", "alice"},
        {"3", "bk1-disk-3", "oneadmin"}, {"4", "iso", "bob"},            {"5", "bk1-disk-0", "oneadmin"},
        {"6", "bk1-disk-2", "alice"},   {"7", "bk1-disk-9", "oneadmin"}, {"8", "bk1-disk-3", "oneadmin2"},
        {"9", "bk1-disk-3", "bob"},
    };
    struct Case {
        const char* what;
        std::vector<template_disk_image> disks;
        std::vector<std::string> own;
        std::vector<std::string> others;
        std::size_t unknown;
    };
    const Case cases[] = {
        {"no disk switched yet: the source's images stay",
         {{true, "0", nullptr, "", 0}, {false, "web-data", "UNAME", "oneadmin", 2}},
         {"5"},
         {"0", "1"},
         0},
        {"a switched disk's copy goes",
         {{true, "5", nullptr, "", 0}, {false, "web-data", "UNAME", "oneadmin", 2}},
         {"5"},
         {"1"},
         0},
        {"a copy of another disk's name is not this disk's", {{true, "7", nullptr, "", 0}}, {"5"}, {"7"}, 0},
        {"an older image of the copy's name stays", {{true, "3", nullptr, "", 3}}, {}, {"3"}, 0},
        {"another owner's image of the copy's name stays", {{true, "6", nullptr, "", 2}}, {}, {"6"}, 0},
        {"the owner picks one image of a name", {{false, "iso", "UNAME", "bob", 1}}, {}, {"4"}, 0},
        {"a name of two owners can't be told", {{false, "iso", nullptr, "", 1}}, {}, {}, 1},
        {"an ID not in the pool can't be told", {{true, "42", nullptr, "", 1}}, {}, {}, 1},
        {"an image two disks name is listed once", {{true, "0", nullptr, "", 1}, {true, "0", nullptr, "", 2}}, {},
         {"0"}, 0},
        {"a copy two disks name is deleted once", {{true, "5", nullptr, "", 0}, {true, "5", nullptr, "", 1}}, {"5"},
         {}, 0},
    };
    for (const Case& c : cases) {
        const kevra_template::ended_clone_images sorted =
            kevra_template::sort_ended_clone_images("bk1", c.disks, pool, "4", "oneadmin");
        std::vector<std::string> own;
        std::vector<std::string> others;
        for (const pool_object& image : sorted.own) {
            own.push_back(image.id);
        }
        for (const pool_object& image : sorted.others) {
            others.push_back(image.id);
        }
        EXPECT_EQ(own, c.own) << c.what;
        EXPECT_EQ(others, c.others) << c.what;
        EXPECT_EQ(sorted.unknown.size(), c.unknown) << c.what;
    }
    const kevra_template::ended_clone_images none =
        kevra_template::sort_ended_clone_images("bk1", {{true, "42", nullptr, "", 1}}, pool, "4", "oneadmin");
    ASSERT_EQ(none.unknown.size(), 1u);
    EXPECT_EQ(none.unknown[0], "ID 42 (not in the image pool)");
    const kevra_template::ended_clone_images two =
        kevra_template::sort_ended_clone_images("bk1", {{false, "iso", nullptr, "", 1}}, pool, "4", "oneadmin");
    ASSERT_EQ(two.unknown.size(), 1u);
    EXPECT_EQ(two.unknown[0], "'iso' (the images of that name: 2 (owner alice), 4 (owner bob))");
    EXPECT_EQ(kevra_template::clone_image_name("bk1", 3), "bk1-disk-3");
}

}  // namespace
