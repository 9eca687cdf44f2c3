// The small rules of a template restore: list lines, restore names, needed
// room, image-create options and confined names.
#include "template_module/restore_rules.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <vector>

namespace kevra_template {

const char* const kTemplateFileName = "template.xml";
const char* const kOriginalTemplateFileName = "orig_template.xml";

namespace {

std::vector<std::string> split_fields(const std::string& line)
{
    std::vector<std::string> fields(1);
    for (char c : line) {
        if (c == ':') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace

std::size_t read_image_list_fields(const std::string& line, hx_opennebula_common::oneimage& image)
{
    using namespace hx_opennebula_common;
    const std::vector<std::string> fields = split_fields(line);
    for (std::size_t i = 0; i < fields.size() && i < 8; ++i) {
        const std::string& field = fields[i];
        switch (i) {
        case 0: image.id = field; break;
        case 1: image.name = field; break;
        case 2: image.datastore_id = field; break;
        case 3: image.dev_prefix = field; break;
        case 4: image.driver = field; break;
        case 5: image.type = static_cast<opennebula_image_type>(std::stoi(field)); break;
        case 6: image.disk_type = static_cast<opennebula_disk_type>(std::stoi(field)); break;
        default: image.persistent = field; break;
        }
    }
    return fields.size();
}

std::string compressed_blanks(const std::string& text)
{
    std::string result;
    bool pending_blank = false;
    for (char c : text) {
        if (c == ' ') {
            pending_blank = !result.empty();
            continue;
        }
        if (pending_blank) {
            result += ' ';
            pending_blank = false;
        }
        result += c;
    }
    return result;
}

std::string normalised_list_line(const std::string& line)
{
    std::string blanks = line;
    std::replace(blanks.begin(), blanks.end(), '\t', ' ');
    return compressed_blanks(blanks);
}

bool is_image_list_record(const std::string& line, std::string& clone_name)
{
    static const std::string kCloneNameLine = "TEMPLATE CLONE NAME:";
    if (line.empty()) {
        return false;
    }
    if (line.compare(0, kCloneNameLine.size(), kCloneNameLine) == 0) {
        clone_name = line.substr(kCloneNameLine.size());
        return false;
    }
    return line[0] != '#';
}

std::string name_suffix(const std::string& name, const std::string& clone)
{
    std::string suffix = name;
    if (!clone.empty()) {
        const std::string::size_type at = suffix.find(clone);
        if (at != std::string::npos) {
            suffix.erase(at, clone.size());
        }
    }
    return suffix;
}

std::string restore_image_name(const std::string& template_name, const std::string& name, const std::string& clone)
{
    if (clone.empty()) {
        return template_name;
    }
    return template_name + name_suffix(name, clone);
}

std::uint64_t needed_mib(std::uint64_t bytes)
{
    const std::uint64_t mib = std::uint64_t(1) << 20;
    return bytes / mib + (bytes % mib != 0 ? 1 : 0);
}

bool takes_driver_option(const std::string& driver, const std::string& platform_version, bool known_version)
{
    static const std::array<const char*, 6> kWithoutDriver = {"Kevra 2.9", "3.0", "3.1", "3.2", "3.3", "3.3.1"};
    if (driver.empty()) {
        return false;
    }
    if (!known_version) {
        const int major = version_major_number(platform_version);
        return major >= 0 && major < 3;
    }
    return std::none_of(kWithoutDriver.begin(), kWithoutDriver.end(),
                        [&](const char* version) { return platform_version == version; });
}

int version_major_number(const std::string& version)
{
    const auto first = std::find_if(version.begin(), version.end(),
                                    [](unsigned char c) { return std::isdigit(c) != 0; });
    if (first == version.end()) {
        return -1;
    }
    const auto last = std::find_if(first, version.end(), [](unsigned char c) { return std::isdigit(c) == 0; });
    // More digits than any release has would overflow: such a text is no earlier release.
    if (last - first > 4) {
        return 9999;
    }
    return std::stoi(std::string(first, last));
}

bool restored_persistent(bool set_images_persistent, const std::string& persistent)
{
    return set_images_persistent || persistent == "1";
}

bool is_confined_name(const std::string& value)
{
    return value.find('/') == std::string::npos && value.find("..") == std::string::npos;
}

}  // namespace kevra_template
