// A process that takes and lets go of resource locks on command, for the
// sandboxed end-to-end tests: the lock is between processes, so each party of
// a test is a process of its own. The test program becomes it, before any test
// starts, when it is started with KEVRA_TEST_ROLE=lock. It reads one command a
// line on standard input and answers each with one line on standard output:
//   open MODULE RESOURCE  -> "opened" | "error <text>"   (constructs the lock)
//   try                   -> "locked" | "busy"           (try_lock)
//   unlock                -> "unlocked"
//   close                 -> "closed"                    (destroys the lock)
//   file                  -> "present" | "absent"        (the lock file)
//   path                  -> the lock file path
//   remove                -> "removed" | "failed"        (remove())
// Log records go to standard error. End of input ends the process.
#include <sys/stat.h>

#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "common/hx_logger.h"
#include "modules/module_resource_lock.h"

namespace {

int run_lock_role()
{
    HxLogStream::set_default_loggers(HxDestination::Stderr());
    HxLogStream::set_global_log_level(HxLogLvl::Debug);
    std::unique_ptr<kelvomar::module::resource_file_lock> lock;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::string answer;
        try {
            if (command == "open") {
                std::string module;
                std::string resource;
                words >> module >> resource;
                lock.reset();
                lock = std::make_unique<kelvomar::module::resource_file_lock>(module, resource);
                answer = "opened";
            } else if (command == "try") {
                answer = lock && lock->try_lock() ? "locked" : "busy";
            } else if (command == "unlock") {
                if (lock) {
                    lock->unlock();
                }
                answer = "unlocked";
            } else if (command == "close") {
                lock.reset();
                answer = "closed";
            } else if (command == "file") {
                struct stat st {};
                answer = lock && ::stat(lock->resource_lock_file_path().c_str(), &st) == 0 ? "present" : "absent";
            } else if (command == "remove") {
                answer = lock && lock->remove() ? "removed" : "failed";
            } else if (command == "path") {
                answer = lock ? lock->resource_lock_file_path().string() : "";
            } else {
                answer = "error unknown command";
            }
        } catch (const std::exception& e) {
            answer = std::string("error ") + e.what();
        }
        std::cout << answer << std::endl;
    }
    return 0;
}

const bool role_started = [] {
    const char* role = std::getenv("KEVRA_TEST_ROLE");
    if (role == nullptr || std::string(role) != "lock") {
        return false;
    }
    std::exit(run_lock_role());
}();

}  // namespace
