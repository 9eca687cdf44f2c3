// The line-oriented configuration file: its entries read back and written out
// again must read back as the same entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "common/config_file.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

std::string written(const hx_config::ConfigFile& config)
{
    std::string text;
    for (const auto& entry : config) {
        text += entry->get();
        text += '\n';
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::istringstream in(kevra_fuzz::input_text(data, size));
    hx_config::ConfigFile config;
    config.read(in);
    for (const auto& entry : config) {
        if (entry->getType() == hx_config::Variable_Type) {
            const auto& variable = static_cast<const hx_config::Variable&>(*entry);
            if (!config.variableExists(variable.getName()) || config[variable.getName()] != variable.getValue()) {
                std::abort();  // the index and the entries disagree
            }
        }
    }
    const hx_config::ConfigFile copy(config);
    if (written(copy) != written(config)) {
        std::abort();
    }
    return 0;
}
