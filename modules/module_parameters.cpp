// The module-parameter string: "key:value" items separated by commas. The
// framework consumes the keys it knows; every other key becomes a special
// parameter that the concrete module reads.
#include <boost/filesystem.hpp>

#include <algorithm>

#include "common/hx_logger.h"
#include "modules/hx_module_universal.h"

namespace {

const char* const kSignature = "void HxModuleUniversal::parce_param_string()";

bool is_true_flag(const std::string& value)
{
    return value == "t" || value == "true";
}

bool names_regular_file(const std::string& path)
{
    boost::system::error_code error;
    return boost::filesystem::is_regular_file(path, error) && !error;
}

// Splits at every comma; an empty text gives one empty item.
std::vector<std::string> split_items(const std::string& text)
{
    std::vector<std::string> items;
    std::string::size_type start = 0;
    for (;;) {
        const auto comma = text.find(',', start);
        if (comma == std::string::npos) {
            items.push_back(text.substr(start));
            return items;
        }
        items.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

}  // namespace

void HxModuleUniversal::parce_param_string()
{
    for (const auto& item : split_items(options_.module_params)) {
        if (item.empty()) {
            continue;
        }
        const auto colon = item.find(':');
        if (colon == std::string::npos || colon + 1 == item.size()) {
            HxLogStream(HxLogLvl::Warning) << kSignature << ": " << "Separator '" << ":"
                                           << "' is not found in string: " << item << "\n"
                                           << std::endl;
            continue;
        }
        const std::string key = item.substr(0, colon);
        const std::string value = item.substr(colon + 1);

        if (key == "hxd_hash_algorithm") {
            hash_algorithm_ = value;
        } else if (key == "hxd_hash_length") {
            hash_length_ = std::stoi(value);  // a malformed number makes the command line unusable
        } else if (key == "hxd_block_size") {
            block_size_ = std::stoi(value);
        } else if (std::find(hxfd_flag_names_.begin(), hxfd_flag_names_.end(), key) != hxfd_flag_names_.end()) {
            hxfd_flags_[key] = value;
        } else if (key == "file_list") {
            file_list_ = is_true_flag(value);
        } else if (key == "numeric_owner") {
            numeric_owner_ = is_true_flag(value);
        } else if (key == "last") {
            last_ = value == "true";
        } else if (key == "tmp_catalog") {
            tmp_catalog_ = value;
        } else if (key == "without_deployment_restore") {
            if (value == "yes") {
                without_deployment_restore_ = true;
            }
        } else if (key == "use_snapshot") {
            if (is_true_flag(value)) {
                use_os_snapshot_ = true;
            }
        } else if (key == "ignore_errors_snapshot") {
            if (value == "f" || value == "false") {
                ignore_errors_snapshot_ = false;
            }
        } else if (key == "snapshot_type") {
            if (value == "lvm" || value == "dattobd") {
                os_snapshot_type_ = value;
            } else {
                HxLogStream(HxLogLvl::Warning) << "Wrong value of " << "snapshot_type" << ", ignore..." << std::endl;
            }
        } else if (key == "snapshot_size" || key == "lvm_snapshot_size") {
            int size = 0;
            try {
                size = std::stoi(value);
            } catch (const std::exception&) {
                HxLogStream(HxLogLvl::Error) << kSignature << ": can't convert " << value << " to int" << std::endl;
                continue;
            }
            if (size < 1) {
                HxLogStream(HxLogLvl::Warning) << "Wrong OS snaphot size: " << size
                                               << ", set to default value: " << "10" << "%" << std::endl;
                size = 10;
            }
            os_snapshot_size_ = size;
            if (key == "lvm_snapshot_size") {
                use_os_snapshot_ = true;
                os_snapshot_type_ = "lvm";
            }
        } else {
            if (key == "script_before_snapshot" && names_regular_file(value)) {
                script_before_snapshot_ = value;
            } else if (key == "script_after_snapshot" && names_regular_file(value)) {
                script_after_snapshot_ = value;
            } else if (key == "script_error_snapshot" && names_regular_file(value)) {
                script_error_snapshot_ = value;
            }
            // The first value given for a key stays.
            special_params_.emplace(key, value);
        }
    }
    load_custom_module_parameters();
}

bool HxModuleUniversal::find_special_param(const std::string& name, std::string& value) const
{
    const auto found = special_params_.find(name);
    if (found == special_params_.end()) {
        return false;
    }
    value = found->second;
    return !value.empty();
}

bool HxModuleUniversal::has_special_param_passed_from_client(const std::string& name) const
{
    return special_params_.count(name) != 0;
}
