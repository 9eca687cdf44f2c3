#include "common/main_log_file.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>

namespace hx_utils_common {
namespace {

const char kConfigFile[] = "/opt/kelvomar/etc/config.file";
const char kDefaultLogFile[] = "/opt/kelvomar/log/Kelvomar.log";
const std::string kKey = "logfile ";

bool is_blank(char c)
{
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// Tabs become blanks; white space goes from both ends and every inner run of it
// shrinks to its first character.
std::string compress(std::string line)
{
    for (char& c : line) {
        if (c == '\t') {
            c = ' ';
        }
    }
    std::string out;
    bool in_run = false;
    for (const char c : line) {
        if (is_blank(c)) {
            if (!in_run && !out.empty()) {
                out += c;
            }
            in_run = true;
        } else {
            out += c;
            in_run = false;
        }
    }
    while (!out.empty() && is_blank(out.back())) {
        out.pop_back();
    }
    return out;
}

}  // namespace

std::string get_logfile()
{
    std::ifstream config(kConfigFile);
    if (!config.is_open()) {
        std::cerr << "Can't open config file: " << kConfigFile << std::endl;
        std::exit(1);
    }
    std::string logfile;
    std::string line;
    while (std::getline(config, line)) {
        line = compress(line);
        if (line.empty() || line[0] == '#' || line.compare(0, kKey.size(), kKey) != 0) {
            continue;
        }
        logfile = line.substr(kKey.size());
    }
    return logfile.empty() ? std::string(kDefaultLogFile) : logfile;
}

}  // namespace hx_utils_common
