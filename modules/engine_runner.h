#ifndef KEVRA_MODULES_ENGINE_RUNNER_H
#define KEVRA_MODULES_ENGINE_RUNNER_H

#include <sys/types.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kelvomar {
namespace module {

// Runs one archive-engine command line through a shell pipe. Progress lines ("HXFD PID: ",
// "Packed: ", "Unpacked: ", "Transferred: ") are echoed to standard output at once, other
// lines are appended to `output`; `pid` holds the engine's process id while it runs and is
// 0 again once the pipe has ended (the signal thread reads it meanwhile); `result` receives the rest of the last result line.
// True when the engine exited with 0 or 100 (100 also sets `data_incomplete`); false when
// it could not start, ended by a signal, exited otherwise, or its output could not be read.
bool run_engine_command(const std::string& command, std::string& output, std::atomic<pid_t>& pid,
                        std::string& result, bool& data_incomplete);

// Reads the engine's output from `pipe` to its end, one character at a time; a line ends
// at LF or CR, text after the last line end is dropped. Each line is handled as
// run_engine_command describes. Throws when the stream cannot be read or a process-id
// line holds no number.
void read_engine_lines(FILE* pipe, std::string& output, std::atomic<pid_t>& pid, std::string& result);

// The engine's word for a compression level 1 to 4; a descriptive text for any other.
std::string engine_compress_word(unsigned int mode);

// The engine flags given as module parameters, in the order of `names`, as " -e " +
// "name:value,..." quoted as one shell word; empty when none of the names is given.
std::string engine_flags_argument(const std::vector<std::string>& names,
                                  const std::map<std::string, std::string>& flags);

// The names of the module parameters that are passed on to the engine, in the
// order the engine flags are written; the module registers exactly these.
const std::vector<std::string>& engine_flag_names();

}  // namespace module
}  // namespace kelvomar

#endif
