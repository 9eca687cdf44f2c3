// The engine file list: the files that make up the resource, one per line, which
// the engine reads through its option -c.
#include "modules/hx_module_universal.h"

#include "common/hx_logger.h"
#include "common/new_paths.h"

#include <cerrno>
#include <fstream>
#include <sstream>

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
    // The list is written into a new file that then takes the list's name: a
    // link standing under that name is refused, never written through.
    using namespace kelvomar::new_paths;
    const auto refuse = [&path](int error) {
        HxLogStream(HxLogLvl::Error) << kSignature << ": " << "can't create hxfd list file" << std::endl;
        HxLogStream(HxLogLvl::Error) << kSignature << ": " << new_paths_error(path, error) << std::endl;
        return false;
    };
    if (const int error = check_replaceable(path)) {
        return refuse(error);
    }
    std::string text;
    if (append && entry_at(path) == entry_kind::regular) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream old;
        old << in.rdbuf();
        if (!in) {
            return refuse(EIO);
        }
        text = old.str();
    }
    if (!append) {
        HxLogStream(HxLogLvl::Info) << kRecord << kHeader << std::endl;
        text += std::string(kHeader) + "\n";
    }
    for (const auto& entry : entries) {
        HxLogStream(HxLogLvl::Info) << kRecord << entry.first << " : " << entry.second << std::endl;
        text += "   " + entry.first + " : " + entry.second + "\n";
    }
    if (const int error = replace_file(path, text)) {
        return refuse(error);
    }
    return true;
}
