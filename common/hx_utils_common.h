#ifndef KEVRA_COMMON_HX_UTILS_COMMON_H
#define KEVRA_COMMON_HX_UTILS_COMMON_H

// Shell commands, process signals and small file-system tests. None of these
// functions throws or writes log records: they report by their result and, where
// stated, by one line on standard output or standard error.

#include <string>

namespace hx_utils_common {

// Runs `command` + " 2>&1" through the system shell and appends all it prints to
// `output` (not cleared first). Returns the command's exit status (0 success);
// 1 when the shell cannot be started; 128 + the signal number when the shell was
// ended by a signal; 1 when its status cannot be collected; -1 on an exception.
// The command is run as given: callers quote their arguments (kelvomar::shell_quote).
int execute_command(std::string command, std::string& output);

// Returns the host's node name as uname reports it; an empty text when uname fails.
std::string get_nodename();

// Sends `signal` to process `pid`. Returns true for pid 0 (nothing sent) and when
// sent ("sent signal ..." on standard output); false without a line when the process
// does not exist or pid is negative, false with a "No permissions ..." line when sending fails.
bool send_signal(int pid, int signal);

// Sends SIGTERM to `pid`, waits up to one second for it to end, then sends SIGKILL.
// Returns true when the process ended or was killed; false for pid 0, a negative
// or missing process, or when a signal cannot be sent (a line on standard error).
bool synchronous_terminate(const int& pid);

// Terminates the processes without children below `pid`, depth first, each with
// synchronous_terminate and a "PID was terminated: " / "Error terminate PID: " line on
// standard output; `pid` itself only when it has no children (never the calling process).
void kill_childs(int pid);

// True when the file system holding `path` has at least `bytes` available to
// unprivileged users; false (system error on standard error) when it cannot be asked.
bool check_free_space(const std::string& path, const unsigned long long& bytes);

// True when the file system holding `target` has at least as many bytes available
// as `source` is long; false (system error on standard error) when either cannot be examined.
bool check_free_space(const std::string& target, const std::string& source);

// Sets `sparse` to whether the file's allocated 512-byte blocks cover less than its
// size and returns true; returns false with the system's error text in `error` when
// the file cannot be examined (symbolic links are followed).
bool is_sparse_file(const std::string& path, bool& sparse, std::string& error);

}  // namespace hx_utils_common

#endif
