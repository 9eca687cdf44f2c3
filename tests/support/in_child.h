#pragma once
// Runs a call in a child process under a deadline, so that a call that would
// wait for ever ends the test with a failure instead of hanging it.

#include <sys/wait.h>
#include <unistd.h>

namespace kevra_test {

// Runs `call` (returning int) in a forked child that is killed after `seconds`.
// Returns the child's exit status (call's result & 0xff), or -1 when the child did not return.
template <typename Call>
int exit_status_in_child(unsigned seconds, Call call) {
  const pid_t child = ::fork();
  if (child < 0) {
    return -1;
  }
  if (child == 0) {
    ::alarm(seconds);
    ::_exit(call());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return -1;
  }
  return WEXITSTATUS(status);
}

}  // namespace kevra_test
