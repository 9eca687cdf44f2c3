// The logging configuration file: its level and log-file limits, read from the
// parsed entries as the first log record of a process reads them.
#include <cstddef>
#include <cstdint>
#include <sstream>

#include "common/config_file.h"
#include "common/log_properties.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(kevra_fuzz::input_text(data, size));
    hx_config::ConfigFile config;
    config.read(in);
    try {
        const hx_log_config::log_properties properties = hx_log_config::read_log_properties(config);
        (void)HxLogLvl::get_mask(properties.level);
    } catch (const hx_config::VariableAbsentException&) {
        // an incomplete file: the defaults follow
    }
    return 0;
}
