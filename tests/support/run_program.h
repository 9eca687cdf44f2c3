#pragma once
// Runs a program for a test and captures what it printed.

#include <string>
#include <vector>

namespace kevra_test {

struct ProgramResult {
  int exit_status = -1;  // exit code, or 128 + signal number when killed
  std::string out;       // standard output
  std::string err;       // standard error
  bool timed_out = false;  // killed because it outlived ProgramLimits::seconds
  long max_rss_kb = 0;     // peak resident size of the program and the children it waited for
};

// A liveness bound for a run that must end: after `seconds` the program is
// killed (SIGKILL) and the result says so.
struct ProgramLimits {
  int seconds = 0;  // 0: no limit
};

// Runs `argv` (argv[0] is a path) with no shell and standard input from /dev/null.
// Returns its exit status and both output streams; throws std::runtime_error when it cannot start.
ProgramResult run_program(const std::vector<std::string>& argv);

// The same, killed when it outlives `limits`.
ProgramResult run_program(const std::vector<std::string>& argv, const ProgramLimits& limits);

// Path of a program built by this project, e.g. build_path("kevra_template").
std::string build_path(const std::string& name);

// Path below the source tree, e.g. source_path("tests/platform/sandbox").
std::string source_path(const std::string& relative);

}  // namespace kevra_test
