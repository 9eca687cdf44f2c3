// Pointing the module's resource lock at the resource of the current operation.
#include <boost/filesystem/path.hpp>
#include <boost/format.hpp>

#include "common/hx_logger.h"
#include "common/quoting.h"
#include "modules/hx_module_universal.h"

namespace {

std::string quoted(const std::string& text)
{
    return kelvomar::as_quoted(text, '"', '\\');
}

}  // namespace

bool HxModuleUniversal::reassign_resource_locker(const std::string& resource)
{
    try {
        const std::string module = boost::filesystem::path(options_.module_name).filename().string();
        const std::string& old_module = resource_lock_.module_name();
        const std::string& old_resource = resource_lock_.resource_name();
        if (!old_module.empty() && !old_resource.empty()) {
            if (old_module == module && old_resource == resource) {
                // Already the lock of this pair: a new one would make the old
                // one delete the file (and drop a lock held on it) on its way out.
                return true;
            }
            if (old_module != module && old_resource != resource) {
                HxLogStream(HxLogLvl::Warning)
                    << boost::format("lock resource changes for [ module, resource ] pair { %1%, %2% } -> { %3%, %4% }!") %
                           quoted(old_module) % quoted(old_resource) % quoted(module) % quoted(resource)
                    << std::endl;
            }
        }
        kelvomar::module::resource_file_lock lock(module, resource);
        resource_lock_.swap(lock);
        return true;
    } catch (const std::exception& e) {
        HxLogStream(HxLogLvl::Error) << "bool HxModuleUniversal::reassign_resource_locker(const std::string&)"
                                     << ": " << boost::format("%1% resource locking failed (%2%)!") % quoted(resource) %
                                                    e.what()
                                     << std::endl;
        return false;
    }
}
