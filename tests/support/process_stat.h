#ifndef KEVRA_TESTS_SUPPORT_PROCESS_STAT_H
#define KEVRA_TESTS_SUPPORT_PROCESS_STAT_H

#include <sys/types.h>

#include <cstdio>
#include <string>

#include "common/proc_stat_text.h"

namespace kevra_test {

// The state letter and parent of a process, read from /proc ('?' and -1 once
// it is gone). For test programs that link the common library.
inline hx_utils_common::proc_stat_fields stat_of(pid_t pid)
{
    hx_utils_common::proc_stat_fields fields;
    char text[512];
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* file = std::fopen(path.c_str(), "r");
    const std::size_t n = file != nullptr ? std::fread(text, 1, sizeof text, file) : 0;
    if (file != nullptr) {
        std::fclose(file);
    }
    if (!hx_utils_common::parse_proc_stat(text, n, fields)) {
        fields.state = '?';
    }
    return fields;
}

}  // namespace kevra_test

#endif
