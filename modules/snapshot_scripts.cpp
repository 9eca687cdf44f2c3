// Hook scripts around a snapshot creation. They run only from the product's
// script directory, with one argument ("before", "after" or "error").
#include <boost/filesystem.hpp>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "modules/hx_module_universal.h"

namespace {

const char* const kScriptDirectory = "/opt/kelvomar/scripts";

// True when `script` resolves (links followed) to a file inside the script directory.
bool inside_script_directory(const boost::filesystem::path& script, boost::filesystem::path& target)
{
    namespace fs = boost::filesystem;
    boost::system::error_code error;
    target = fs::canonical(script, error);
    if (error) {
        return false;
    }
    const fs::path directory = fs::canonical(kScriptDirectory, error);
    if (error) {
        return false;
    }
    const std::string prefix = directory.string() + "/";
    return target.string().compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

bool HxModuleUniversal::run_script(const std::string& path, const std::string& argument)
{
    namespace fs = boost::filesystem;
    fs::path script(path);
    if (script.parent_path().string() != kScriptDirectory) {
        HxLogStream(HxLogLvl::Warning) << "Change script path to: " << kScriptDirectory << std::endl;
        script = fs::path(kScriptDirectory) / script.filename();
    }
    boost::system::error_code error;
    const fs::file_status status = fs::status(script, error);
    if (!fs::exists(status)) {
        HxLogStream(HxLogLvl::Error) << "Script doesn't exist: " << script << std::endl;
        return false;
    }
    if (!fs::is_regular_file(status)) {
        HxLogStream(HxLogLvl::Error) << script << " is not a regular file" << std::endl;
        return false;
    }
    fs::path target;
    if (!inside_script_directory(script, target)) {
        HxLogStream(HxLogLvl::Error) << script << " leads out of " << kScriptDirectory << " to " << target
                                     << ", it is not run" << std::endl;
        return false;
    }

    HxLogStream(HxLogLvl::Info) << "Run script. Script name: " << script.string() << " " << argument << std::endl;
    std::string output;
    const int code =
        hx_utils_common::execute_command(kelvomar::shell_quote(script.string()) + " " + kelvomar::shell_quote(argument), output);
    HxLogStream(HxLogLvl::Info) << output << std::endl;
    HxLogStream(HxLogLvl::Info) << "Script returned code: " << code << std::endl;
    if (code != 0) {
        HxLogStream(HxLogLvl::Warning) << "Script returns code is not NULL" << std::endl;
        return false;
    }
    return true;
}
