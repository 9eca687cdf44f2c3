// The mount point of a path and the block device mounted there.
#include <algorithm>
#include <fstream>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "modules/hx_module_universal.h"
#include "modules/mount_table.h"

namespace {

std::string without_line_ends(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\n'), text.end());
    return text;
}

}  // namespace

std::string HxModuleUniversal::get_mountpoint(const std::string& path) const
{
    const std::string command = "stat -c %m -- " + kelvomar::shell_quote(path, kelvomar::quote_style::always);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << "std::string HxModuleUniversal::get_mountpoint(const std::string&) const"
                                     << ": command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        return std::string();
    }
    return without_line_ends(output);
}

std::string HxModuleUniversal::get_block_device(const std::string& mount_point, bool resolve) const
{
    static const char* const signature = "std::string HxModuleUniversal::get_block_device(const std::string&, bool) const";
    std::ifstream table("/proc/mounts");
    if (!table.is_open()) {
        HxLogStream(HxLogLvl::Error) << signature << ": can't open /proc/mounts" << std::endl;
        return std::string();
    }
    std::string device;
    if (!kelvomar::module::find_mounted_device(table, mount_point, device)) {
        HxLogStream(HxLogLvl::Error) << "Mount point " << mount_point << " not found in '/proc/mounts'" << std::endl;
        return std::string();
    }
    if (!resolve) {
        return device;
    }
    const std::string command = "realpath " + kelvomar::shell_quote(device, kelvomar::quote_style::always);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        return std::string();
    }
    return without_line_ends(output);
}
