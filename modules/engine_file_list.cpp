// The engine file list: the files that make up the resource, one per line, which
// the engine reads through its option -c.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"

#include <fstream>

namespace {

const char kSignature[] =
    "bool HxModuleUniversal::add_to_hxfd_list_file(const std::string&, const std::map<std::__cxx11::basic_string<char>, "
    "std::__cxx11::basic_string<char> >&, bool)";
const char kHeader[] = "HXFD file list:";
const char kRecord[] = "Adding record to hxfd file list: ";

bool has_line_end(const std::string& text)
{
    return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

bool HxModuleUniversal::add_to_hxfd_list_file(const std::string& path,
                                              const std::map<std::string, std::string>& entries, bool append)
{
    // The list is line based: a line end inside a path or name would make the engine
    // read an entry that nobody listed.
    for (const auto& entry : entries) {
        if (has_line_end(entry.first) || has_line_end(entry.second)) {
            HxLogStream(HxLogLvl::Error) << kSignature << ": a line end in an hxfd file list record: "
                                         << entry.first << " : " << entry.second << std::endl;
            return false;
        }
    }
    std::ofstream file(path, append ? std::ios::out | std::ios::app : std::ios::out | std::ios::trunc);
    if (!file) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": " << "can't create hxfd list file" << std::endl;
        return false;
    }
    if (!append) {
        HxLogStream(HxLogLvl::Info) << kRecord << kHeader << std::endl;
        file << kHeader << "\n";
    }
    for (const auto& entry : entries) {
        HxLogStream(HxLogLvl::Info) << kRecord << entry.first << " : " << entry.second << std::endl;
        file << "   " << entry.first << " : " << entry.second << "\n";
    }
    file.close();
    if (!file) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": " << "can't create hxfd list file" << std::endl;
        return false;
    }
    return true;
}
