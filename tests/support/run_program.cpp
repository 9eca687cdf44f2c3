#include "tests/support/run_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kevra_test {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Waits for `pid`; kills it once `limits.seconds` have passed. Fills the
// exit status, the timeout flag and the peak resident size.
void wait_for(pid_t pid, const ProgramLimits& limits, ProgramResult& result) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.seconds);
  int status = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = wait4(pid, &status, limits.seconds > 0 ? WNOHANG : 0, &usage);
    if (done == pid) {
      break;
    }
    if (done == 0 && std::chrono::steady_clock::now() >= deadline && !result.timed_out) {
      result.timed_out = true;
      kill(pid, SIGKILL);
    }
    if (done == 0) {
      usleep(10000);
    }
  }
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.max_rss_kb = usage.ru_maxrss;
}

}  // namespace

ProgramResult run_program(const std::vector<std::string>& argv) { return run_program(argv, ProgramLimits{}); }

ProgramResult run_program(const std::vector<std::string>& argv, const ProgramLimits& limits) {
  if (argv.empty()) {
    throw std::runtime_error("run_program: empty argument list");
  }
  const char* tmp = std::getenv("TMPDIR");
  const std::string dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  std::string out_name = dir + "/kevra-test-out.XXXXXX";
  std::string err_name = dir + "/kevra-test-err.XXXXXX";
  const int out_fd = mkstemp(out_name.data());
  const int err_fd = mkstemp(err_name.data());
  if (out_fd < 0 || err_fd < 0) {
    throw std::runtime_error("run_program: cannot create capture files");
  }
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("run_program: fork failed");
  }
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, 0);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    std::vector<char*> args;
    for (const auto& arg : argv) {
      args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  ProgramResult result;
  wait_for(pid, limits, result);
  close(out_fd);
  close(err_fd);
  result.out = slurp(out_name);
  result.err = slurp(err_name);
  unlink(out_name.c_str());
  unlink(err_name.c_str());
  return result;
}

std::string build_path(const std::string& name) { return std::string(KEVRA_BUILD_DIR) + "/" + name; }

std::string source_path(const std::string& relative) {
  return std::string(KEVRA_SOURCE_DIR) + "/" + relative;
}

}  // namespace kevra_test
