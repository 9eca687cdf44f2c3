// The properties of a block device, as lsblk reports them in JSON.
#include <boost/json.hpp>
#include <boost/system/system_error.hpp>

#include <cctype>
#include <new>
#include <stdexcept>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "modules/hx_module_universal.h"
#include "modules/json_text.h"

namespace {

const char* const kInfo = "bool HxModuleUniversal::get_block_device_info(const std::string&, block_device_info&) const";

// Runs one lsblk command and returns in `entry` the first device entry of its
// output; false (logged) when the command fails or the output has no usable
// entry. `entry` stays null when the output has no "blockdevices" member. A JSON
// syntax error is thrown as the JSON library's exception.
bool first_device_entry(const std::string& command, boost::json::value& document, const boost::json::object*& entry)
{
    entry = nullptr;
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << kInfo << ": command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        return false;
    }
    boost::system::error_code error;
    try {
        document = kelvomar::module::parse_strict_json(output, error);
    } catch (const std::bad_alloc& e) {
        HxLogStream(HxLogLvl::Error) << kInfo << ": json parsing failed: " << e.what() << std::endl;
        return false;
    }
    if (error) {
        throw boost::system::system_error(error);
    }
    if (!document.is_object()) {
        HxLogStream(HxLogLvl::Error) << kInfo << ": json value is not an object" << std::endl;
        return false;
    }
    if (document.get_object().empty()) {
        HxLogStream(HxLogLvl::Error) << kInfo << ": json object value is empty" << std::endl;
        return false;
    }
    for (const auto& member : document.get_object()) {
        if (kelvomar::module::unquoted_json_text(member.key()) != "blockdevices") {
            continue;
        }
        const boost::json::value& devices = member.value();
        if (!devices.is_array()) {
            HxLogStream(HxLogLvl::Error) << kInfo << ": json value is not an array" << std::endl;
            return false;
        }
        if (devices.get_array().empty()) {
            HxLogStream(HxLogLvl::Error) << kInfo << ": array is empty" << std::endl;
            return false;
        }
        const boost::json::value& first = devices.get_array().front();
        if (!first.is_object()) {
            HxLogStream(HxLogLvl::Error) << kInfo << ": json value is not an object" << std::endl;
            return false;
        }
        if (first.get_object().empty()) {
            HxLogStream(HxLogLvl::Error) << kInfo << ": json object value is empty" << std::endl;
            return false;
        }
        entry = &first.get_object();
    }
    return true;
}

// A size in decimal digits; false for anything else, a minus sign included
// (the standard conversion would turn "-1" into the largest size).
bool to_size(const std::string& text, std::uint64_t& value)
{
    std::string::size_type start = 0;
    while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    if (start < text.size() && text[start] == '-') {
        return false;
    }
    try {
        value = std::stoull(text, nullptr, 10);
        return true;
    } catch (const std::logic_error&) {
        return false;
    }
}

}  // namespace

bool HxModuleUniversal::get_block_device_info(const std::string& device, block_device_info& info) const
{
    using kelvomar::module::unquoted_json_text;
    const std::string quoted = kelvomar::shell_quote(device, kelvomar::quote_style::always);

    boost::json::value document;
    const boost::json::object* entry = nullptr;
    if (!first_device_entry("lsblk -bJ " + quoted, document, entry)) {
        return false;
    }
    if (entry != nullptr) {
        for (const auto& member : *entry) {
            const std::string key = unquoted_json_text(member.key());
            const std::string value = unquoted_json_text(member.value());
            if (key == "type") {
                info.type = value;
            } else if (key == "name") {
                info.name = value;
            } else if (key == "size") {
                if (!to_size(value, info.size)) {
                    HxLogStream(HxLogLvl::Error) << kInfo << ": can't convert " << value << " to uintmax_t"
                                                 << std::endl;
                    return false;
                }
            } else if (key == "ro") {
                // lsblk writes a JSON boolean; older releases wrote "0" or "1".
                info.ro = value == "true" || value == "1";
            }
        }
    }

    if (!first_device_entry("lsblk -bfJ " + quoted, document, entry)) {
        return false;
    }
    if (entry != nullptr) {
        for (const auto& member : *entry) {
            const std::string key = unquoted_json_text(member.key());
            if (key == "mountpoints") {
                if (member.value().is_array()) {
                    for (const auto& point : member.value().get_array()) {
                        info.mountpoints.push_back(boost::json::serialize(point));
                    }
                }
                continue;
            }
            const std::string value = unquoted_json_text(member.value());
            if (key == "fstype") {
                info.fstype = value;
            } else if (key == "fsver") {
                info.fsver = value;
            } else if (key == "label") {
                info.label = value;
            } else if (key == "uuid") {
                info.uuid = value;
            } else if (key == "fsavail") {
                if (!to_size(value, info.fsavail)) {
                    HxLogStream(HxLogLvl::Error) << kInfo << ": can't convert " << value << " to uintmax_t"
                                                 << std::endl;
                }
            }
        }
    }
    return true;
}
