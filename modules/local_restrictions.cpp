// The local restriction list: one restricted resource per line of a text file.
#include <boost/filesystem.hpp>

#include <fstream>

#include "common/hx_logger.h"
#include "modules/hx_module_universal.h"

std::vector<std::string> HxModuleUniversal::read_local_restrictions() const
{
    std::vector<std::string> lines;
    boost::system::error_code error;
    if (options_.restriction_list_file.empty() || !boost::filesystem::exists(options_.restriction_list_file, error)) {
        return lines;
    }
    std::ifstream file(options_.restriction_list_file);
    if (!file.is_open()) {
        HxLogStream(HxLogLvl::Error)
            << "std::vector<std::__cxx11::basic_string<char> > HxModuleUniversal::read_local_restrictions() const"
            << ": unable to open " << options_.restriction_list_file << std::endl;
        return lines;
    }
    // Every line exactly as read: no trimming, an empty line is an entry, and
    // a last line without a line end counts.
    std::string line;
    while (std::getline(file, line)) {
        lines.push_back(line);
    }
    return lines;
}

bool HxModuleUniversal::check_local_restrictions() const
{
    for (const auto& line : read_local_restrictions()) {
        if (line == options_.resource) {
            return false;
        }
    }
    return true;
}
