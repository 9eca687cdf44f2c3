// The JSON resource list of a list backup and its check against the local
// restriction list.
#include "modules/resource_list.h"

#include <boost/filesystem.hpp>

#include <fstream>
#include <sstream>

#include "common/hx_logger.h"
#include "modules/json_text.h"

namespace kelvomar {
namespace module {

namespace {

std::string path_text(const boost::json::value& value)
{
    if (value.is_string())
        return std::string(value.get_string());
    if (value.is_object() || value.is_array())
        return std::string();
    return boost::json::serialize(value);
}

void append_paths(const boost::json::value& member, std::vector<std::string>& paths)
{
    if (!member.is_object())
        return;
    for (const auto& inner : member.get_object()) {
        if (inner.key() == "path")
            paths.push_back(path_text(inner.value()));
    }
}

}  // namespace

bool parse_resource_list_json(const std::string& text, std::vector<std::string>& paths, std::string& error)
{
    boost::system::error_code code;
    const boost::json::value root = parse_strict_json(text, code);
    if (code) {
        error = code.message();
        return false;
    }
    // Of two members of one key only one would be read: such a list is refused.
    std::string key;
    if (find_duplicate_key(text, key)) {
        error = "duplicate key: " + key;
        return false;
    }
    if (root.is_array()) {
        for (const auto& member : root.get_array())
            append_paths(member, paths);
    } else if (root.is_object()) {
        for (const auto& member : root.get_object())
            append_paths(member.value(), paths);
    }
    return true;
}

}  // namespace module
}  // namespace kelvomar

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
        std::ifstream file(path, std::ios::binary);
        std::ostringstream text;
        text << file.rdbuf();
        std::string error;
        if (!file) {
            error = path + ": cannot open file";
        } else if (!kelvomar::module::parse_resource_list_json(text.str(), resources_, error)) {
            error = path + ": " + error;
        }
        if (!error.empty()) {
            clear();
            HxLogStream(HxLogLvl::Error) << signature << ": json parser error: " << error << std::endl;
            return false;
        }
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
