// The command line: the input's NUL-separated pieces are the arguments after
// the program name, parsed by the template module as the program parses them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "template_module/entry_point.h"
#include "template_module/hx_module_kevra_template.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> args = kevra_fuzz::input_pieces(data, size);
    if (args.size() > 64) {
        return -1;  // no real command line has that many arguments
    }
    args.insert(args.begin(), "kevra_template");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const HxModuleOptions defaults = kevra_template::template_module_options();
    HxModuleKevraTemplate module(defaults);
    HxModuleOptions options = defaults;
    module.parse_module_options(static_cast<int>(args.size()), argv.data(), options);
    return 0;
}
