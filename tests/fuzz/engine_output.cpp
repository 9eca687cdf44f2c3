// The archive engine's output lines: process id, progress and result lines
// and the rest kept as the engine's output.
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "modules/engine_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;  // a memory stream cannot be opened on an empty buffer
    }
    FILE* stream = ::fmemopen(const_cast<std::uint8_t*>(data), size, "r");
    if (stream == nullptr) {
        std::abort();
    }
    std::string output;
    std::atomic<pid_t> pid{0};
    std::string result;
    try {
        kelvomar::module::read_engine_lines(stream, output, pid, result);
    } catch (const std::exception&) {
        // a process-id line without a number: the run fails, as the runner reports
    }
    std::fclose(stream);
    return 0;
}
