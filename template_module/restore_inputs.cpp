// The files a restore takes from its restore directory and from the unpacked
// snapshot file: each is used only when it is a regular file with one link,
// reached below the operation directory without following a symbolic link.
#include "template_module/hx_module_kevra_template.h"

#include <string>

#include "common/hx_logger.h"
#include "common/untrusted_files.h"

bool HxModuleKevraTemplate::below_operation_directory(const std::string& path, std::string& base,
                                                      std::string& relative) const
{
    const std::string& directory =
        operation_directory_.empty() ? options_.tmp_operation_directory : operation_directory_;
    const std::string prefix = directory + "/";
    if (directory.empty()) {
        return false;
    }
    if (path == directory) {
        base = directory;
        relative.clear();
        return true;
    }
    if (path.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    base = directory;
    relative = path.substr(prefix.size());
    return true;
}

bool HxModuleKevraTemplate::open_restore_input(const std::string& path, kelvomar::untrusted_files::input_file& file,
                                               const char* signature) const
{
    std::string base;
    std::string relative;
    std::string refusal = "does not lie inside the operation directory";
    if (below_operation_directory(path, base, relative)) {
        if (kelvomar::untrusted_files::open_input_file(base, relative, file, refusal)) {
            return true;
        }
    }
    HxLogStream(HxLogLvl::Error) << signature << ": the restored file " << path << " " << refusal
                                 << "; a restore uses only regular files with a single link, reached without a "
                                 << "symbolic link" << std::endl;
    return false;
}

bool HxModuleKevraTemplate::check_restore_input(const std::string& path, const char* signature) const
{
    kelvomar::untrusted_files::input_file file;
    return open_restore_input(path, file, signature);
}
