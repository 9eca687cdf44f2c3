// The host check: the module runs only on a front host of the Kevra platform
// with a supported operating-system release.
#include "template_module/hx_module_kevra_template.h"

#include <boost/filesystem.hpp>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "opennebula/platform_command.h"
#include "template_module/restore_rules.h"

namespace {

const char* const kOsReleaseCommand =
    "/bin/cat /etc/os-release | /bin/grep PRETTY_NAME | "
    "/bin/sed -e 's/[=\"]/ /g' -e 's/PRETTY_NAME  //'";
const char* const kVersionFile = "/etc/kevra_version";
const char* const kPlatformTool = "/usr/bin/onevm";

using hx_opennebula_common::without_newlines;

// The text without newlines, trimmed of blanks at both ends, every inner run of blanks made one blank.
std::string normalised_os_name(const std::string& output)
{
    return kevra_template::compressed_blanks(without_newlines(output));
}

bool is_supported_os(const std::string& name)
{
    return name == "Nimra Linux (Kalverst 1.6)" || name == "Nimra Linux";
}

}  // namespace

bool HxModuleKevraTemplate::is_known_platform_version() const
{
    return std::find(supported_versions_.begin(), supported_versions_.end(), platform_version_) !=
           supported_versions_.end();
}

int HxModuleKevraTemplate::check_client(const bool& verbose)
{
    const std::string signature = __PRETTY_FUNCTION__;
    try {
        std::string output;
        if (hx_utils_common::execute_command(kOsReleaseCommand, output) != 0) {
            HxLogStream(HxLogLvl::Error) << signature << ":can't execute command: " << kOsReleaseCommand << std::endl;
            HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
            return 2;
        }
        const std::string os_name = normalised_os_name(output);
        if (!is_supported_os(os_name)) {
            HxLogStream(HxLogLvl::Error) << signature << " :unsupported OS: " << os_name << std::endl;
            return 2;
        }
        if (verbose) {
            HxLogStream(HxLogLvl::Info) << "OS: " << os_name << std::endl;
        }

        if (!boost::filesystem::exists(kVersionFile)) {
            HxLogStream(HxLogLvl::Error) << signature << ": can't find installed Kevra on this host" << std::endl;
            return 2;
        }
        const std::string version_command = std::string("/bin/cat ") + kVersionFile;
        output.clear();
        if (hx_utils_common::execute_command(version_command, output) != 0) {
            HxLogStream(HxLogLvl::Error) << signature << ": can't execute: " << version_command << std::endl;
            HxLogStream(HxLogLvl::Error) << "Command output: " << output << std::endl;
            return 2;
        }
        platform_version_ = without_newlines(output);
        if (!is_known_platform_version()) {
            HxLogStream(HxLogLvl::Warning) << signature << ": unexpected Kevra version: " << platform_version_
                                           << std::endl;
        } else if (verbose) {
            HxLogStream(HxLogLvl::Info) << "Kevra version: " << platform_version_ << std::endl;
        }

        if (!boost::filesystem::exists(kPlatformTool)) {
            HxLogStream(HxLogLvl::Error) << signature << ": this host doesn't look like a Kevra front host. "
                                         << "Use this module only on the Kevra front host" << std::endl;
            return 2;
        }
        client_checked_ = true;
        return 0;
    } catch (const std::invalid_argument& e) {
        HxLogStream(HxLogLvl::Error) << signature << ": invalid_argument:" << e.what() << std::endl;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << signature << ": exception::" << e.what() << std::endl;
    }
    return 2;
}
