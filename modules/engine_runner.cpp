#include "modules/engine_runner.h"

#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/shell_quote.h"
#include "common/termination.h"
#include "common/output_lines.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <stdexcept>

namespace kelvomar {
namespace module {

namespace {

const char kSignature[] =
    "bool HxModuleUniversal::run_hxfd_command(const std::string&, std::string&, pid_t&, std::string&)";

bool starts_with(const std::string& line, const std::string& prefix)
{
    return line.compare(0, prefix.size(), prefix) == 0;
}

void echo(const std::string& line)
{
    kelvomar::output::print_line(line);
}

// Handles one completed engine line; throws when a process-id line holds no number.
void handle_line(const std::string& line, std::string& output, std::atomic<pid_t>& pid, std::string& result)
{
    static const std::string kPid = "HXFD PID: ";
    static const std::string kResults[] = {"Packed: ", "Unpacked: ", "Transferred: "};
    if (starts_with(line, kPid)) {
        pid = static_cast<pid_t>(std::stoi(line.substr(kPid.size())));
        echo(line);
        return;
    }
    for (const std::string& prefix : kResults) {
        if (starts_with(line, prefix)) {
            result = line.substr(prefix.size());
            echo(line);
            return;
        }
    }
    output += line;
    output += "\n";
}

}  // namespace

void read_engine_lines(FILE* pipe, std::string& output, std::atomic<pid_t>& pid, std::string& result)
{
    std::string line;
    for (;;) {
        errno = 0;
        const int c = std::fgetc(pipe);
        if (c == EOF) {
            if (!std::ferror(pipe))
                break;
            // A handled signal (a stop or continue forwarded to the engine) interrupts
            // the read without ending the engine's output: read on.
            if (errno == EINTR) {
                std::clearerr(pipe);
                continue;
            }
            throw std::runtime_error(std::string("reading the engine's output failed: ") +
                                     std::strerror(errno));
        }
        if (c == '\n' || c == '\r') {
            handle_line(line, output, pid, result);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
}

namespace {

// Decodes the status word of the finished engine: true for exit 0 and 100.
bool decode_engine_status(int status, bool& data_incomplete)
{
    HxLogStream(HxLogLvl::Debug) << "hxfd process status 0x" << std::hex << status << std::dec
                                 << "." << std::endl;
    const int low7 = status & 0x7f;
    if (low7 >= 1 && low7 <= 126) {
        HxLogStream(HxLogLvl::Warning) << "hxfd process terminates with 0x" << std::hex << low7
                                       << std::dec << " signal." << std::endl;
        if (status & 0x80)
            HxLogStream(HxLogLvl::Warning) << "core dump occured." << std::endl;
        return false;
    }
    if ((status & 0xff) == 0x7f) {
        HxLogStream(HxLogLvl::Warning) << "hxfd process stops with 0x" << std::hex
                                       << ((status >> 8) & 0xff) << std::dec << " signal."
                                       << std::endl;
        return false;
    }
    if (low7 != 0) {
        HxLogStream(HxLogLvl::Warning) << "hxfd process unknown exit." << std::endl;
        return false;
    }
    const int code = (status >> 8) & 0xff;
    HxLogStream(HxLogLvl::Debug) << "hxfd process exits with 0x" << std::hex << code << std::dec
                                 << " status." << std::endl;
    switch (code) {
    case 0:
        return true;
    case 1:
        HxLogStream(HxLogLvl::Warning) << "hxfd finished with an error flag" << std::endl;
        return false;
    case 100:
        HxLogStream(HxLogLvl::Warning) << "hxfd finished with a defect flag" << std::endl;
        data_incomplete = true;
        return true;
    default:
        return false;
    }
}

}  // namespace

bool run_engine_command(const std::string& command, std::string& output, std::atomic<pid_t>& pid,
                        std::string& result, bool& data_incomplete)
{
    HxLogStream(HxLogLvl::Info) << kSignature << ":hxfd command: " << command << std::endl;
    kelvomar::output::flush_standard_streams();
    // Once the run is being terminated the engine is not started.
    kelvomar::termination::command_pipe pipe(command);
    if (pipe.stream() == nullptr) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": couldn't start OS command: " << command
                                     << std::endl;
        return false;
    }
    bool read_failed = false;
    try {
        read_engine_lines(pipe.stream(), output, pid, result);
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": " << e.what() << std::endl;
        read_failed = true;
    }
    // Close the pipe in every case: this waits for the engine, so no clean-up that
    // follows can run while it still works, and no stale pid is left to be signalled.
    const int status = pipe.close();
    pid = 0;
    if (read_failed)
        return false;
    try {
        return decode_engine_status(status, data_incomplete);
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": " << e.what() << std::endl;
        return false;
    }
}

std::string engine_compress_word(unsigned int mode)
{
    switch (mode) {
    case 1: return "None";
    case 2: return "fast";
    case 3: return "optimal";
    case 4: return "best";
    default: return "Wrong or deprecated compression type: " + std::to_string(mode);
    }
}

std::string engine_flags_argument(const std::vector<std::string>& names,
                                  const std::map<std::string, std::string>& flags)
{
    std::string list;
    for (const std::string& name : names) {
        const auto found = flags.find(name);
        if (found == flags.end())
            continue;
        if (!list.empty())
            list += ",";
        list += name + ":" + found->second;
    }
    if (list.empty())
        return std::string();
    return " -e " + kelvomar::shell_quote(list);
}

const std::vector<std::string>& engine_flag_names()
{
    static const std::vector<std::string> names = {
        "worker_parallelism", "network_parallelism", "enable_multithreading",
        "enable_flexible_dedup"};
    return names;
}

}  // namespace module
}  // namespace kelvomar

// ---- The members of the module that run the engine -----------------------

bool HxModuleUniversal::run_hxfd_command(const std::string& command, std::string& output,
                                         std::atomic<pid_t>& hxfd_pid,
                                         std::string& result)
{
    return kelvomar::module::run_engine_command(command, output, hxfd_pid, result, data_incomplete_);
}

std::string HxModuleUniversal::compress_mode_str(unsigned int mode)
{
    return kelvomar::module::engine_compress_word(mode);
}

std::string HxModuleUniversal::get_task_secret()
{
    if (options_.task_id.empty())
        HxLogStream(HxLogLvl::Error) << "Task ID is empty" << std::endl;
    return "/opt/kelvomar/var/tasks//task_secret_" + options_.task_id;
}

void HxModuleUniversal::add_hxfd_options_to_command(std::string& command) const
{
    command += kelvomar::module::engine_flags_argument(hxfd_flag_names_, hxfd_flags_);
}
