#ifndef KEVRA_COMMON_HX_LOG_LEVEL_H
#define KEVRA_COMMON_HX_LOG_LEVEL_H

// Log levels, the cumulative masks built from them, and their names.

#include <cstdint>
#include <map>
#include <string>

namespace HxLogLvl {

// Single levels, one bit each. The program logs at Error, Warning, Info and Debug.
enum Level : std::uint32_t {
    Error = 1,
    Warning = 2,
    Info = 4,
    Debug = 8,
    Debug1 = 16,
    Debug2 = 32,
    Debug3 = 64,
    Debug4 = 128,
    FuncBase = 256,
    FuncDetail = 512,
    FuncCycle = 1024,
    FuncAny = 2048,
    Measure = 0x10000,
    SqlReq = 0x20000
};

// Masks: a record is written when its level shares a bit with the global mask.
enum MaskLevel : std::uint32_t {
    ErrorMask = 1,
    WarningMask = 3,
    InfoMask = 7,
    DebugMask = 15,
    Debug1Mask = 31,
    Debug2Mask = 63,
    Debug3Mask = 127,
    Debug4Mask = 255,
    FuncAll = 0xF00
};

// The names of the levels and masks, ascending by value (22 entries; value 1
// is "Error", so "ErrorMask" has no entry). Built once, on first use.
const std::map<std::uint32_t, std::string>& log_levels_info();

// Returns the mask that lets `level` through (Info gives 7, Debug2 63,
// FuncBase..FuncAny 3840); a value that is not a single level, or a level no
// mask covers (Measure, SqlReq), is returned unchanged.
std::uint32_t get_mask(std::uint32_t level);

// Returns the name of `level`, or "Unknown" when the value has no name.
std::string to_string(std::uint32_t level);

// Looks `text` up among the names (exact, case-sensitive, mask names too).
// Returns true and sets `level` on a match; false leaves `level` unchanged.
template <class Enum>
bool from_string(const std::string& text, Enum& level) {
    for (const auto& entry : log_levels_info()) {
        if (entry.second == text) {
            level = static_cast<Enum>(entry.first);
            return true;
        }
    }
    return false;
}

}  // namespace HxLogLvl

#endif
