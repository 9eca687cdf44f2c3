// The check of a restored file for missing data: a file that came out sparse
// because the operation directory ran out of space.
#include <boost/filesystem.hpp>

#include <iomanip>
#include <sstream>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/quoting.h"
#include "modules/hx_module_universal.h"

namespace {

const char* const kCheck = "int HxModuleUniversal::check_file_to_restore_for_sparse(const std::string&) const";

// The free share of the file system in percent with six decimals, or "Unknown".
std::string free_space_figure(const boost::filesystem::space_info& space)
{
    if (space.capacity == 0) {
        return "Unknown";
    }
    const float percent = static_cast<float>(space.free) / static_cast<float>(space.capacity) * 100.0f;
    std::ostringstream text;
    text << std::fixed << std::setprecision(6) << percent << "%";
    return text.str();
}

}  // namespace

int HxModuleUniversal::check_file_to_restore_for_sparse(const std::string& path) const
{
    namespace fs = boost::filesystem;
    bool sparse = false;
    std::string error_text;
    if (!hx_utils_common::is_sparse_file(path, sparse, error_text)) {
        HxLogStream(HxLogLvl::Warning) << kCheck << ": unable to check sparse status of " << kelvomar::as_quoted(path)
                                       << " file, error: " << error_text << std::endl;
        return 0;
    }
    if (!sparse) {
        return 0;
    }
    const fs::path directory(options_.tmp_operation_directory);
    boost::system::error_code error;
    const fs::space_info space = fs::space(directory, error);
    if (error) {
        HxLogStream(HxLogLvl::Warning) << kCheck << ": unable to get space info of " << directory
                                       << ", error: " << error << std::endl;
    }
    HxLogStream(HxLogLvl::Error) << kCheck << ": file " << kelvomar::as_quoted(path)
                                 << " is a sparse file, i.e. it doesn't contain all the data required for restore."
                                 << " Probably it is not enough free space in a " << directory
                                 << " folder. Free space is: " << free_space_figure(space) << std::endl;
    return 7;
}
