// The client-defined storage texts: each line as a storage record of the
// task's storage file, the first line as an archive name that carries a
// storage, and the whole input as the deletion JSON.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "template_module/entry_point.h"
#include "template_module/hx_module_kevra_template.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text = kevra_fuzz::input_text(data, size);
    std::istringstream lines(text);
    bool first = true;
    for (std::string line; std::getline(lines, line);) {
        HxModuleUniversal::ClientDefinedStorageInfo storage;
        HxModuleUniversal::split_client_defined_storage_record(line, storage);
        if (first) {
            HxModuleUniversal::ClientDefinedArchiveInfo archive;
            HxModuleUniversal::split_client_defined_archive_name(line, archive);
            first = false;
        }
    }
    HxModuleKevraTemplate module(kevra_template::template_module_options());
    HxModuleUniversal::DeletionList list;
    module.parse_json_of_client_defined_storage(text, list);
    return 0;
}
