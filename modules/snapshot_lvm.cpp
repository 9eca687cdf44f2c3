// Snapshots of LVM2 logical volumes, made and removed with lvcreate and lvremove.
#include "modules/snapshot_driver.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"

namespace {

const char* const kCreate =
    "virtual bool SnapshotLVM::create(const std::string&, const std::string&, const std::string&, const "
    "std::string&, uintmax_t, std::string&)";

}  // namespace

bool SnapshotLVM::check(const std::string& /*device*/)
{
    return true;
}

bool SnapshotLVM::create(const std::string& device, const std::string& name, const std::string& /*mount_point*/,
                         const std::string& task_id, uintmax_t size, std::string& snapshot_device)
{
    using kelvomar::quote_style;
    using kelvomar::shell_quote;

    const std::string volume = "/dev/mapper/" + name;
    snapshot_path_ = volume + "--hx--snap--" + task_id;
    const std::string command = "/sbin/lvcreate --size=" + std::to_string(size) + "B --snapshot --name " +
                                shell_quote(snapshot_path_, quote_style::always) + " " + shell_quote(volume);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << kCreate << ": Unable create LVM snapshot for " << volume << std::endl;
        HxLogStream(HxLogLvl::Error) << "Command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        HxLogStream(HxLogLvl::Warning) << "LVM snapshot wasn't created" << std::endl;
        return false;
    }
    HxLogStream(HxLogLvl::Info) << "The snapshot was created: " << snapshot_path_ << std::endl;
    snapshot_device = snapshot_path_;

    std::ifstream snapshot(snapshot_path_, std::ios::binary);
    if (!snapshot.is_open()) {
        const int error = errno;
        HxLogStream(HxLogLvl::Error) << kCreate << ": Unable to read LVM snapshot: " << snapshot_path_
                                     << ". Error: " << std::strerror(error) << std::endl;
        if (remove(device)) {
            HxLogStream(HxLogLvl::Warning) << "LVM snapshot has been deleted" << std::endl;
        } else {
            HxLogStream(HxLogLvl::Error) << "LVM snapshot could not be deleted: " << snapshot_path_ << std::endl;
        }
        return false;
    }
    return true;
}

bool SnapshotLVM::remove(const std::string& /*device*/)
{
    if (snapshot_path_.empty()) {
        HxLogStream(HxLogLvl::Error) << "SnapshotLVM: LVM snapshot path is empty, unable to remove LVM snapshot"
                                     << std::endl;
        return false;
    }
    const std::string command = "/sbin/lvremove -y " + kelvomar::shell_quote(snapshot_path_);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << "SnapshotLVM: command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        return false;
    }
    HxLogStream(HxLogLvl::Info) << "LVM snapshot was removed: " << snapshot_path_ << std::endl;
    return true;
}
