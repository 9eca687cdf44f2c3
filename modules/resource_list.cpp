// The JSON resource list of a list backup and its check against the local
// restriction list.
#include "modules/resource_list.h"

#include <boost/filesystem.hpp>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include "common/hx_logger.h"

void ResourceList::clear()
{
    resources_.clear();
}

bool ResourceList::is_empty() const
{
    return resources_.empty();
}

bool ResourceList::parse_json_file(const std::string& path)
{
    static const char* const signature = "bool ResourceList::parse_json_file(const std::string&)";
    clear();
    try {
        if (!boost::filesystem::exists(path)) {
            HxLogStream(HxLogLvl::Error) << signature << ": resource list file does not exist: " << path
                                         << std::endl;
            return false;
        }
        boost::property_tree::ptree root;
        boost::property_tree::read_json(path, root);
        for (const auto& member : root) {
            for (const auto& inner : member.second) {
                if (inner.first == "path") {
                    resources_.push_back(inner.second.get_value<std::string>());
                }
            }
        }
    } catch (const boost::property_tree::json_parser_error& e) {
        clear();
        HxLogStream(HxLogLvl::Error) << signature << ": json parser error: " << e.what() << std::endl;
        return false;
    } catch (const boost::filesystem::filesystem_error& e) {
        clear();
        HxLogStream(HxLogLvl::Error) << signature << ": filesystem error: " << e.what() << std::endl;
        return false;
    }
    if (resources_.empty()) {
        HxLogStream(HxLogLvl::Warning) << signature << ": there is no any resource in json file: " << path
                                       << std::endl;
    }
    return true;
}

bool ResourceList::check_local_restrictions(const std::vector<std::string>& restrictions) const
{
    for (const auto& restriction : restrictions) {
        for (const auto& resource : resources_) {
            if (resource == restriction) {
                HxLogStream(HxLogLvl::Error)
                    << "bool ResourceList::check_local_restrictions(const std::vector<std::__cxx11::basic_string<char> >&) const"
                    << ": Unable to backup this resource from ResourceList: " << restriction << ". Local restriction"
                    << std::endl;
                return false;
            }
        }
    }
    return true;
}
