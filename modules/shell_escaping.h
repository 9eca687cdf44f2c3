#ifndef KEVRA_MODULES_SHELL_ESCAPING_H
#define KEVRA_MODULES_SHELL_ESCAPING_H

#include <string>

// Makes `text` stand as one word of a shell command line, in place: a backslash
// goes before each character the shell reads specially (blank, quotes, $, ;, ., ...),
// and each control character (line feed, tab, ...) is put inside single quotes.
void shield_string_for_command(std::string& text);

// Splits "A.B.C.D" into "A.B", "C" and "D" (missing fields are empty, fields after the
// fourth are ignored). Returns 0; 1 when a standard exception occurred.
int split_full_version(const std::string& full_version, std::string& major_minor,
                       std::string& third, std::string& fourth);

#endif
