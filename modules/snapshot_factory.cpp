// The choice of the snapshot driver for a block device.
#include "modules/snapshot_driver.h"

#include "common/hx_logger.h"

std::unique_ptr<Snapshot> SnapshotFactory::createSnapshot(const std::string& device_type,
                                                          const std::string& snapshot_type)
{
    if (snapshot_type == "lvm") {
        if (device_type == "lvm") {
            return std::make_unique<SnapshotLVM>();
        }
        HxLogStream(HxLogLvl::Warning) << "Unable to use LVM snapshot for non-LVM volume: " << device_type << ", skip"
                                       << std::endl;
        HxLogStream(HxLogLvl::Warning) << "SnapshotFactory:: it is impossible to determine the snapshot type. "
                                       << "Block device type: " << device_type << ", snapshot type: " << snapshot_type
                                       << std::endl;
        return nullptr;
    }
    if (snapshot_type == "dattobd") {
        return std::make_unique<SnapshotDattobd>();
    }
    HxLogStream(HxLogLvl::Error) << "SnapshotFactory:: wrong value of OS snapshot type: " << snapshot_type << std::endl;
    return nullptr;
}
