#ifndef KEVRA_MODULES_SNAPSHOT_DRIVER_H
#define KEVRA_MODULES_SNAPSHOT_DRIVER_H
// Operating-system snapshot drivers: a frozen copy of one block device, made
// with the LVM tools (SnapshotLVM) or the dattobd kernel module (SnapshotDattobd),
// chosen by SnapshotFactory. The drivers run the host's tools through
// hx_utils_common::execute_command.

#include <cstdint>
#include <memory>
#include <string>

// An operating-system snapshot driver for one block device (LVM, dattobd).
class Snapshot {
public:
    // Whether a snapshot of `device` can be made now; false when it cannot.
    virtual bool check(const std::string& device) = 0;
    // Makes the snapshot and fills `snapshot_device` with its block device;
    // false when it could not be made.
    virtual bool create(const std::string& device, const std::string& name, const std::string& mount_point,
                        const std::string& task_id, uintmax_t size, std::string& snapshot_device) = 0;
    // Removes the snapshot made for `device`; false when that failed.
    virtual bool remove(const std::string& device) = 0;
    virtual ~Snapshot() = default;
};

// A snapshot of an LVM2 logical volume, named "/dev/mapper/" + mapper name +
// "--hx--snap--" + task id.
class SnapshotLVM : public Snapshot {
public:
    // Always true: lvcreate itself tells whether the snapshot can be made.
    bool check(const std::string& device) override;
    // Runs lvcreate for "/dev/mapper/" + `name`; true when the snapshot volume was
    // made and can be opened (`snapshot_device` is then its path), false otherwise
    // (a volume that cannot be opened is removed again).
    bool create(const std::string& device, const std::string& name, const std::string& mount_point,
                const std::string& task_id, uintmax_t size, std::string& snapshot_device) override;
    // Runs lvremove for the snapshot volume of the last create; false when no
    // create was attempted or lvremove failed. `device` is not used.
    bool remove(const std::string& device) override;

private:
    std::string snapshot_path_;  // the snapshot volume of the last create
};

// A snapshot of any block device through dattobd ("/dev/datto" + minor), with
// its copy-on-write file ".kelvomar_dattobd_" + task id in the snapshotted file
// system's mount point. check chooses the minor that create uses.
class SnapshotDattobd : public Snapshot {
public:
    // True when dattobd is loaded, no snapshot of `device` is active and a free
    // minor was chosen; false otherwise. Throws the JSON library's exception for
    // a state file that is not JSON, std::invalid_argument/out_of_range for a minor
    // that is not a number.
    bool check(const std::string& device) override;
    // Runs dbdctl setup-snapshot with the minor chosen by check; true with
    // `snapshot_device` = "/dev/datto" + minor, false when no minor was chosen or
    // dbdctl failed (a copy-on-write file that the failed run left is deleted).
    bool create(const std::string& device, const std::string& name, const std::string& mount_point,
                const std::string& task_id, uintmax_t size, std::string& snapshot_device) override;
    // Destroys the snapshot that this object made of `device`; true when it is
    // gone or this object made none, false when dbdctl failed or the state of
    // dattobd cannot be read while it is loaded. Throws like check.
    bool remove(const std::string& device) override;

    // Whether the dattobd kernel module is loaded.
    bool is_dattobd_ready() const;
    // True when the state file could be read: `exists` then tells whether a
    // snapshot of `device` is active and `minor` receives its minor. False (with
    // an Error record) otherwise. Throws the JSON library's exception on bad JSON.
    bool is_dattobd_snapshot_exists(const std::string& device, bool& exists, std::string& minor) const;
    // True with the next free minor in `minor`; false when the state file cannot
    // be read or has no device list. Throws on bad JSON or a minor that is no number.
    bool get_dattobd_free_minor(std::string& minor);

private:
    std::string minor_;    // chosen by check, used by create
    bool created_ = false;  // a snapshot with minor_ was set up by this object and not yet destroyed
};

// Picks the driver for a device type (as lsblk reports it) and a snapshot type.
class SnapshotFactory {
public:
    // A new SnapshotLVM for type "lvm" on an "lvm" device, a new SnapshotDattobd
    // for type "dattobd"; an empty pointer (with Warning or Error records) otherwise.
    std::unique_ptr<Snapshot> createSnapshot(const std::string& device_type, const std::string& snapshot_type);
};

// One snapshot of a module's list of snapshots for several resources.
struct OsSnapshot {
    std::unique_ptr<Snapshot> snapshot;
    std::string mount_directory;  // where the snapshot is mounted
    std::string block_device;     // the resource's block device

    OsSnapshot() = default;
    OsSnapshot(OsSnapshot&&) = default;
    OsSnapshot& operator=(OsSnapshot&&) = default;
    OsSnapshot(const OsSnapshot&) = delete;
    OsSnapshot& operator=(const OsSnapshot&) = delete;
};

#endif
