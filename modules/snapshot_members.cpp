// tar's listings of a snapshot file read into members, and the rule which
// members may be unpacked.
#include "modules/snapshot_members.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kelvomar {
namespace module {

namespace {

// The lines of `text`; a line end after the last line adds no empty line.
std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type start = 0;
    while (start < text.size()) {
        const std::string::size_type end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool has_parent_piece(const std::string& name)
{
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type end = name.find('/', start);
        const std::string piece = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (piece == "..") {
            return true;
        }
        if (end == std::string::npos) {
            return false;
        }
        start = end + 1;
    }
}

}  // namespace

bool read_snapshot_listing(const std::string& names, const std::string& long_listing,
                           std::vector<snapshot_member>& members)
{
    const std::vector<std::string> name_lines = lines_of(names);
    const std::vector<std::string> long_lines = lines_of(long_listing);
    if (name_lines.size() != long_lines.size()) {
        return false;
    }
    std::vector<snapshot_member> read;
    read.reserve(name_lines.size());
    for (std::size_t i = 0; i < name_lines.size(); ++i) {
        const std::string& name = name_lines[i];
        const std::string& line = long_lines[i];
        if (name.empty() || line.empty()) {
            return false;
        }
        snapshot_member member;
        member.kind = line[0];
        member.name = name;
        // Links and devices carry more after the name; they are refused by their kind alone.
        const bool plain = member.kind == '-' || member.kind == 'd';
        if (plain && (line.size() <= name.size() + 1 || !ends_with(line, " " + name))) {
            return false;
        }
        read.push_back(member);
    }
    members.swap(read);
    return true;
}

std::string snapshot_member_refusal(const snapshot_member& member)
{
    switch (member.kind) {
    case '-':
    case 'd':
        break;
    case 'l': return "is a symbolic link";
    case 'h': return "is a hard link";
    case 'c':
    case 'b': return "is a device";
    case 'p': return "is a FIFO";
    case 's': return "is a socket";
    default: return std::string("is not a plain file or directory (kind '") + member.kind + "')";
    }
    if (member.name.empty()) {
        return "has an empty name";
    }
    if (member.name[0] == '/') {
        return "has an absolute name";
    }
    if (has_parent_piece(member.name)) {
        return "has the path piece '..' in its name";
    }
    return std::string();
}

}  // namespace module
}  // namespace kelvomar
