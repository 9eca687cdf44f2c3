// Lookups in the kernel's table of mounts.
#include "modules/mount_table.h"

#include <fstream>

namespace kelvomar {
namespace module {

namespace {

bool is_octal(char c)
{
    return c >= '0' && c <= '7';
}

}  // namespace

std::string mount_table_escaped(const std::string& path)
{
    std::string escaped;
    escaped.reserve(path.size());
    for (const char c : path) {
        switch (c) {
        case ' ': escaped += "\\040"; break;
        case '\t': escaped += "\\011"; break;
        case '\n': escaped += "\\012"; break;
        case '\\': escaped += "\\134"; break;
        default: escaped += c;
        }
    }
    return escaped;
}

std::string mount_table_unescaped(const std::string& field)
{
    std::string text;
    text.reserve(field.size());
    for (std::string::size_type i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && is_octal(field[i + 1]) && is_octal(field[i + 2]) &&
            is_octal(field[i + 3])) {
            text += static_cast<char>(((field[i + 1] - '0') << 6) | ((field[i + 2] - '0') << 3) | (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

bool find_mounted_device(std::istream& table, const std::string& mount_point, std::string& device)
{
    const std::string wanted = mount_table_escaped(mount_point);
    for (std::string line; std::getline(table, line);) {
        const auto first = line.find(' ');
        if (first == std::string::npos) {
            continue;
        }
        const auto second = line.find(' ', first + 1);
        const std::string point =
            line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
        if (point == wanted) {
            device = mount_table_unescaped(line.substr(0, first));
            return true;
        }
    }
    return false;
}

bool find_mounted_device(const std::string& mount_point, std::string& device)
{
    std::ifstream table("/proc/mounts");
    return table.is_open() && find_mounted_device(table, mount_point, device);
}

}  // namespace module
}  // namespace kelvomar
