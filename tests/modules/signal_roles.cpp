// A module over the real framework that the sandboxed end-to-end tests run as
// a separate process, to lock resources and receive signals for real. The test
// program becomes this module, before any test starts, when it is started with
// KEVRA_TEST_ROLE=module; its arguments are then the module's command line.
//
// The environment tells the module what to do:
//   KEVRA_TEST_DIR          folder for the files below (required)
//   KEVRA_TEST_MODULE_NAME  argv[0] of the module (default "kevra_test_module")
//   KEVRA_TEST_BLOCK_IN     hook that blocks: load_module_config, resource_exists,
//                           prepare_resource_before_backup, before_restore, check_client
//   KEVRA_TEST_ENGINE       "1": the blocking hook's child stands for the engine
//   KEVRA_TEST_COMMAND_LOOP "1": the blocking hook runs short shell commands
//                           back to back (through execute_command) instead of
//                           sleeping between its rounds
//   KEVRA_TEST_RECORD_LOOP  "1": the blocking hook writes an Info record (to
//                           the log file and standard output) every round
//   KEVRA_TEST_TRAP_SIGNAL  signal number raised from inside a shared log
//                           destination's write, while its mutex is held
//   KEVRA_TEST_HANG_SHUTDOWN "1": the termination clean-up never returns
//   KEVRA_TEST_SHUTDOWN_COMMAND a shell command the termination clean-up runs
//                           first (through execute_command)
//   KEVRA_TEST_SHUTDOWN_LIMIT seconds allowed for the termination clean-up
// Files in KEVRA_TEST_DIR: "events" (one line per hook called), "ready" (the
// blocking hook's child pid, written once it blocks), "ticks" (a counter the
// blocking hook advances every 20 ms), "finish" (created by the test: the
// blocking hook returns).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/filesystem.hpp>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/termination.h"
#include "modules/hx_module_signal_handler.h"
#include "modules/hx_module_universal.h"

namespace {

std::string env(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool file_exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void write_file(const std::string& path, const std::string& text)
{
    const std::string temporary = path + ".new";
    std::ofstream(temporary) << text;
    ::rename(temporary.c_str(), path.c_str());
}

// A shared destination that raises a signal from inside its first write, that
// is while HxLogger::write_log holds its mutex; later writes go to `inner`.
class TrapLogger : public HxDestination::HxLogger {
public:
    TrapLogger(int signal, std::unique_ptr<HxDestination::HxLogger> inner)
        : signal_(signal), inner_(std::move(inner))
    {
    }

protected:
    int write_log_impl(const std::string& text) override
    {
        if (signal_ != 0) {
            const int signal = signal_;
            signal_ = 0;
            ::raise(signal);
        }
        return inner_->write_log(text);
    }

private:
    int signal_;
    std::unique_ptr<HxDestination::HxLogger> inner_;
};

class RoleModule : public HxModuleUniversal {
public:
    explicit RoleModule(const HxModuleOptions& options) : HxModuleUniversal(options), dir_(env("KEVRA_TEST_DIR"))
    {
    }

    // init without the client-defined storages: these runs have no task id,
    // which loads none.
    bool start(int argc, char** argv)
    {
        signal_handler_ = HxModuleSignalHandler::init(this);
        return parse_module_options(argc, argv, options_);
    }

    bool prepare_resource_before_backup(const bool& /*replica*/) override
    {
        event("prepare_resource_before_backup");
        maybe_block("prepare_resource_before_backup");
        return false;
    }
    bool release_resource_after_backup() override
    {
        event("release_resource_after_backup");
        return true;
    }
    bool load_module_config() override
    {
        event("load_module_config");
        maybe_block("load_module_config");
        return true;
    }
    void usage_custom() override {}
    int check_client(const bool& /*verbose*/) override
    {
        event("check_client");
        maybe_block("check_client");
        return 0;
    }
    std::string get_full_module_version() override { return "test"; }
    int list_header_labels() override { return 0; }
    int list_all_resources() override { return 0; }
    int list_all_resources_with_header_labels() override { return 0; }
    bool resource_exists() override
    {
        event("resource_exists");
        maybe_block("resource_exists");
        return true;
    }
    bool before_restore() override
    {
        event("before_restore");
        maybe_block("before_restore");
        return false;
    }
    bool after_restore() override { return true; }
    bool after_restore_last_file() override { return true; }
    bool deployment(const bool& /*replica*/) override { return true; }
    void autonomous_options() override {}
    void make_archiving() override {}

    void handle_shutdown_signal() override
    {
        event("handle_shutdown_signal");
        if (!env("KEVRA_TEST_SHUTDOWN_COMMAND").empty()) {
            std::string output;
            hx_utils_common::execute_command(env("KEVRA_TEST_SHUTDOWN_COMMAND"), output);
        }
        if (env("KEVRA_TEST_HANG_SHUTDOWN") == "1") {
            for (;;) {
                ::pause();
            }
        }
        HxModuleUniversal::handle_shutdown_signal();
    }

private:
    // Starts the process that stands for the engine (sleep 300) and returns
    // once it runs that program, as the engine does when the module learns its
    // pid; -1 when it cannot be started. Until its exec the child must not run
    // the module's signal handlers (a stop sent to it would pause a copy of
    // the module instead of stopping it), so it starts with every signal
    // blocked and puts the dispositions back to their defaults first.
    // It gets a process group of its own: the module's group may be orphaned
    // (a test run started in the background by a shell that has ended, or by
    // a CI runner), and the kernel discards a SIGTSTP sent to a process of an
    // orphaned group whose disposition is the default one. A group whose
    // leader's parent (the module) is in another group of the same session
    // is not orphaned.
    static pid_t start_engine()
    {
        int exec_pipe[2];
        if (::pipe2(exec_pipe, O_CLOEXEC) != 0) {
            return -1;
        }
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        ::sigprocmask(SIG_SETMASK, &all, &previous);
        const pid_t child = ::fork();
        if (child == 0) {
            ::setpgid(0, 0);
            ::close(exec_pipe[0]);
            for (int signal = 1; signal < NSIG; ++signal) {
                ::signal(signal, SIG_DFL);
            }
            ::sigprocmask(SIG_SETMASK, &previous, nullptr);
            ::execl("/bin/sleep", "sleep", "300", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (child > 0) {
            ::setpgid(child, child);  // also here, so it holds before ready is written
        }
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        ::close(exec_pipe[1]);
        // The write end closes at the child's exec (or exit): end of file then.
        char byte = 0;
        while (child > 0 && ::read(exec_pipe[0], &byte, 1) < 0 && errno == EINTR) {
        }
        ::close(exec_pipe[0]);
        return child;
    }

    void event(const std::string& name)
    {
        std::ofstream(dir_ + "/events", std::ios::app) << name << "\n";
    }

    void maybe_block(const std::string& hook)
    {
        if (env("KEVRA_TEST_BLOCK_IN") != hook) {
            return;
        }
        const pid_t child = start_engine();
        if (env("KEVRA_TEST_ENGINE") == "1") {
            hxfd_pid_ = child;
        }
        if (!env("KEVRA_TEST_TRAP_SIGNAL").empty()) {
            HxLogStream::set_default_loggers(
                std::make_unique<TrapLogger>(std::atoi(env("KEVRA_TEST_TRAP_SIGNAL").c_str()), HxDestination::Stdout()));
            HxLogStream(HxLogLvl::Info) << "record written while the signal arrives" << std::endl;
            event("trap_record_written");
        }
        write_file(dir_ + "/ready", std::to_string(child) + "\n");
        const bool command_loop = env("KEVRA_TEST_COMMAND_LOOP") == "1";
        const bool record_loop = env("KEVRA_TEST_RECORD_LOOP") == "1";
        long ticks = 0;
        // Two minutes at most, so that a forgotten process ends by itself.
        for (int round = 0; round < 6000; ++round) {
            write_file(dir_ + "/ticks", std::to_string(++ticks) + "\n");
            if (file_exists(dir_ + "/finish")) {
                break;
            }
            int status = 0;
            if (::waitpid(child, &status, WNOHANG) == child) {
                event("child_ended");
                return;
            }
            if (record_loop) {
                HxLogStream(HxLogLvl::Info) << "working, round " << round << std::endl;
            }
            if (command_loop) {
                // Most of the time inside a command's start, read or wait.
                for (int command = 0; command < 20; ++command) {
                    std::string output;
                    hx_utils_common::execute_command("true", output);
                }
                continue;
            }
            // The module's waits are safe points, where a termination stops it.
            kelvomar::termination::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        hxfd_pid_ = 0;
    }

    std::string dir_;
};

// The arguments of this process after argv[0], from /proc/self/cmdline.
std::vector<std::string> own_arguments()
{
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    while (std::getline(in, arg, '\0')) {
        args.push_back(arg);
    }
    if (!args.empty()) {
        args.erase(args.begin());
    }
    return args;
}

int run_module_role()
{
    const std::string log_dir = "/opt/kelvomar/log";
    boost::system::error_code ec;
    boost::filesystem::create_directories(log_dir, ec);
    const std::string log_file = log_dir + "/" + std::string(program_invocation_short_name) + ".log";
    HxLogStream::set_default_loggers(HxDestination::File(log_file), HxDestination::Stdout());
    HxLogStream::set_log_level_logger(HxLogLvl::Error, HxDestination::File(log_file), HxDestination::Stderr());
    HxLogStream::set_global_log_level(HxLogLvl::Debug);
    if (!env("KEVRA_TEST_SHUTDOWN_LIMIT").empty()) {
        HxModuleSignalHandler::set_shutdown_time_limit(
            static_cast<unsigned>(std::atoi(env("KEVRA_TEST_SHUTDOWN_LIMIT").c_str())));
    }

    std::vector<std::string> texts = own_arguments();
    const std::string name = env("KEVRA_TEST_MODULE_NAME");
    texts.insert(texts.begin(), name.empty() ? "kevra_test_module" : name);
    std::vector<char*> argv;
    for (auto& text : texts) {
        argv.push_back(&text[0]);
    }
    argv.push_back(nullptr);

    HxModuleOptions options;
    options.one_operation_per_resource = true;
    RoleModule module(options);
    if (!module.start(static_cast<int>(texts.size()), argv.data())) {
        return 14;
    }
    return static_cast<int>(module.run());
}

// Becomes the module before the tests' main starts, when asked to.
const bool role_started = [] {
    if (env("KEVRA_TEST_ROLE") != "module") {
        return false;
    }
    const int status = run_module_role();
    std::fflush(nullptr);
    std::exit(status);
}();

}  // namespace
