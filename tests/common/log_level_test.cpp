// Level names, masks and name lookup.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/hx_logger.h"

namespace {

TEST(LogLevelNames, TableHoldsEveryLevelAndTheMasksThatDoNotShareAValue) {
    const std::map<std::uint32_t, std::string> expected = {
        {1, "Error"},        {2, "Warning"},        {3, "WarningMask"}, {4, "Info"},
        {7, "InfoMask"},     {8, "Debug"},          {15, "DebugMask"},  {16, "Debug1"},
        {31, "Debug1Mask"},  {32, "Debug2"},        {63, "Debug2Mask"}, {64, "Debug3"},
        {127, "Debug3Mask"}, {128, "Debug4"},       {255, "Debug4Mask"}, {256, "FuncBase"},
        {512, "FuncDetail"}, {1024, "FuncCycle"},   {2048, "FuncAny"},  {3840, "FuncAll"},
        {65536, "Measure"},  {131072, "SqlReq"}};
    EXPECT_EQ(HxLogLvl::log_levels_info(), expected);
}

TEST(LogLevelNames, ValueWithoutNameIsUnknown) {
    EXPECT_EQ(HxLogLvl::to_string(HxLogLvl::Warning), "Warning");
    EXPECT_EQ(HxLogLvl::to_string(5), "Unknown");
    EXPECT_EQ(HxLogLvl::to_string(0), "Unknown");
}

struct MaskCase {
    std::uint32_t level;
    std::uint32_t mask;
};

class LogLevelMask : public ::testing::TestWithParam<MaskCase> {};

TEST_P(LogLevelMask, GivesTheCumulativeMaskOfASingleLevel) {
    EXPECT_EQ(HxLogLvl::get_mask(GetParam().level), GetParam().mask);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, LogLevelMask,
    ::testing::Values(MaskCase{HxLogLvl::Error, 1}, MaskCase{HxLogLvl::Warning, 3},
                      MaskCase{HxLogLvl::Info, 7}, MaskCase{HxLogLvl::Debug, 15},
                      MaskCase{HxLogLvl::Debug1, 31}, MaskCase{HxLogLvl::Debug2, 63},
                      MaskCase{HxLogLvl::Debug3, 127}, MaskCase{HxLogLvl::Debug4, 255},
                      MaskCase{HxLogLvl::FuncBase, 3840}, MaskCase{HxLogLvl::FuncAny, 3840},
                      // Levels no mask covers, and values that are not single levels, stay.
                      MaskCase{HxLogLvl::Measure, 65536}, MaskCase{HxLogLvl::SqlReq, 131072},
                      MaskCase{3, 3}, MaskCase{15, 15}, MaskCase{0, 0}, MaskCase{6, 6}));

struct LookupCase {
    const char* text;
    bool found;
    std::uint32_t value;  // the level after the lookup, which starts at Warning
};

class LogLevelLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(LogLevelLookup, MatchesExactNamesOnly) {
    HxLogLvl::Level level = HxLogLvl::Warning;
    EXPECT_EQ(HxLogLvl::from_string(GetParam().text, level), GetParam().found);
    EXPECT_EQ(static_cast<std::uint32_t>(level), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LogLevelLookup,
    ::testing::Values(LookupCase{"Info", true, 4}, LookupCase{"Debug2", true, 32},
                      LookupCase{"DebugMask", true, 15}, LookupCase{"FuncAll", true, 3840},
                      LookupCase{"SqlReq", true, 131072},
                      // Case-sensitive, untrimmed, and "ErrorMask" lost its entry to "Error".
                      LookupCase{"info", false, 2}, LookupCase{" Info", false, 2},
                      LookupCase{"ErrorMask", false, 2}, LookupCase{"", false, 2},
                      LookupCase{"Info,", false, 2}));

}  // namespace
