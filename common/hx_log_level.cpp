#include "common/hx_log_level.h"

#include <array>
#include <sstream>

namespace HxLogLvl {

namespace {

// The names in value order: the 14 levels, then the 9 masks.
const char* const kNames =
    "Error, Warning, Info, Debug, Debug1, Debug2, Debug3, Debug4, FuncBase, FuncDetail, "
    "FuncCycle, FuncAny, Measure, SqlReq, ErrorMask, WarningMask, InfoMask, DebugMask, "
    "Debug1Mask, Debug2Mask, Debug3Mask, Debug4Mask, FuncAll";

const std::array<std::uint32_t, 23> kValues = {
    Error,     Warning,    Info,      Debug,     Debug1,      Debug2,      Debug3,     Debug4,
    FuncBase,  FuncDetail, FuncCycle, FuncAny,   Measure,     SqlReq,      ErrorMask,  WarningMask,
    InfoMask,  DebugMask,  Debug1Mask, Debug2Mask, Debug3Mask, Debug4Mask, FuncAll};

const std::array<std::uint32_t, 14> kSingleLevels = {Error,  Warning,  Info,       Debug,
                                                     Debug1, Debug2,   Debug3,     Debug4,
                                                     FuncBase, FuncDetail, FuncCycle, FuncAny,
                                                     Measure, SqlReq};

const std::array<std::uint32_t, 9> kMasks = {ErrorMask,  WarningMask, InfoMask,
                                             DebugMask,  Debug1Mask,  Debug2Mask,
                                             Debug3Mask, Debug4Mask,  FuncAll};

std::map<std::uint32_t, std::string> build_names() {
    std::map<std::uint32_t, std::string> names;
    std::istringstream words(kNames);
    std::string word;
    for (std::uint32_t value : kValues) {
        if (!(words >> word)) {
            break;
        }
        std::string name;
        for (char c : word) {
            if (c != ',') {
                name += c;
            }
        }
        names.emplace(value, name);  // never replaces: 1 stays "Error"
    }
    return names;
}

}  // namespace

const std::map<std::uint32_t, std::string>& log_levels_info() {
    static const std::map<std::uint32_t, std::string> names = build_names();
    return names;
}

std::uint32_t get_mask(std::uint32_t level) {
    bool single = false;
    for (std::uint32_t value : kSingleLevels) {
        single = single || value == level;
    }
    if (!single) {
        return level;
    }
    for (std::uint32_t mask : kMasks) {
        if ((mask & level) != 0) {
            return mask;
        }
    }
    return level;
}

std::string to_string(std::uint32_t level) {
    const auto& names = log_levels_info();
    const auto found = names.find(level);
    return found == names.end() ? std::string("Unknown") : found->second;
}

}  // namespace HxLogLvl
