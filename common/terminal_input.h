#ifndef KEVRA_COMMON_TERMINAL_INPUT_H
#define KEVRA_COMMON_TERMINAL_INPUT_H

// Reading from the terminal without echo: one key, or a secret line. Failures
// of the terminal calls are ignored: input that is no terminal reads as usual.

#include <termios.h>

#include <string>

namespace hx_utils_common {

// Reads the terminal settings of `fd` into `*saved` and applies at once a copy
// with local echo off. No result; when the settings cannot be read (no
// terminal), nothing is applied and `*saved` is left as it was.
void echo_off(int fd, termios* saved);

// Applies `*saved` to `fd` at once. No result; failures are ignored.
void echo_on(int fd, termios* saved);

// Returns one character from standard input, without waiting for Enter and
// without echo, or EOF at the end of input; the terminal settings are restored.
int getkey();

// Reads one line from standard input into `secret` (without its line end) with
// echo off, then writes a newline to standard output; echo is restored on every
// path, an exception included.
void get_client_secret_input(std::string& secret);

}  // namespace hx_utils_common

#endif
