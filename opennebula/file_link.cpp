#include "opennebula/file_link.h"

#include <boost/filesystem.hpp>

#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "opennebula/layer_log.h"
#include "opennebula/platform_command.h"

namespace hx_opennebula_common {

namespace fs = boost::filesystem;

int read_file_link(const std::string& path, std::string& target, const std::string& host, bool full)
{
    const std::string prototype = __PRETTY_FUNCTION__;
    if (host.empty() || host == hx_utils_common::get_nodename()) {
        try {
            if (fs::is_symlink(fs::symlink_status(path))) {
                const fs::path link = fs::absolute(path);
                fs::path next = fs::read_symlink(link);
                if (next.is_relative())
                    next = link.parent_path() / next;
                // The existing part is resolved fully; a missing end is named as the link points to it.
                target = fs::weakly_canonical(next).string();
                if (!fs::exists(target)) {
                    log_error(prototype + ": can't find file: " + target);
                    return 1;
                }
            }
        } catch (const fs::filesystem_error& e) {
            log_error(prototype + ": boost::filesystem error" + e.what());
            return 1;
        }
    } else {
        // The remote shell reads the command line once more, so the path is quoted for it too.
        const std::string command = "ssh " + kelvomar::shell_quote("root@" + host) + " /bin/readlink " +
                                    (full ? "-f " : "") + kelvomar::shell_quote(kelvomar::shell_quote(path));
        std::string output;
        if (run_command(command, output) != 0) {
            log_error(prototype + ": can't run readlink for " + path);
            return 1;
        }
        target = without_newlines(output);
    }
    if (target.empty())
        target = path;
    if (target != path)
        log_info("The path: '" + path + "' is a link to " + target);
    return 0;
}

int parse_rbd_disk_name(const std::string& path, std::string& name)
{
    const std::string::size_type slash = path.rfind('/');
    name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string::size_type dot = name.find('.');
    if (dot == std::string::npos)
        return 0;
    name = name.substr(dot + 1);
    return 1;
}

}  // namespace hx_opennebula_common
