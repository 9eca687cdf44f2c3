// Snapshots of any block device through the dattobd kernel module: the state
// file "/proc/datto-info" tells which snapshots are active, dbdctl sets them up
// and destroys them.
#include "modules/snapshot_driver.h"

#include <boost/filesystem.hpp>
#include <boost/json.hpp>
#include <boost/system/system_error.hpp>

#include <algorithm>
#include <climits>
#include <new>

#include "common/hx_logger.h"
#include "common/hx_utils_common.h"
#include "common/shell_quote.h"
#include "modules/json_text.h"

namespace {

const char* const kCreate =
    "virtual bool SnapshotDattobd::create(const std::string&, const std::string&, const std::string&, const "
    "std::string&, uintmax_t, std::string&)";
const char* const kRemove = "virtual bool SnapshotDattobd::remove(const std::string&)";
const char* const kExists =
    "bool SnapshotDattobd::is_dattobd_snapshot_exists(const std::string&, bool&, std::string&) const";
const char* const kFreeMinor = "bool SnapshotDattobd::get_dattobd_free_minor(std::string&)";

const char* const kStateCommand = "cat /proc/datto-info";

// Reads the state file into `state`: true when it is a non-empty JSON object.
// Failures are logged with `signature`; a syntax error is thrown as the JSON
// library's exception.
bool read_state(const char* signature, boost::json::value& state)
{
    std::string output;
    if (hx_utils_common::execute_command(kStateCommand, output) != 0) {
        HxLogStream(HxLogLvl::Error) << signature << ": command: " << kStateCommand << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        return false;
    }
    boost::system::error_code error;
    try {
        state = kelvomar::module::parse_strict_json(output, error);
    } catch (const std::bad_alloc& e) {
        HxLogStream(HxLogLvl::Error) << signature << ": json parsing failed: " << e.what() << std::endl;
        return false;
    }
    if (error) {
        throw boost::system::system_error(error);
    }
    if (!state.is_object()) {
        HxLogStream(HxLogLvl::Error) << signature << ": json value is not an object" << std::endl;
        return false;
    }
    if (state.get_object().empty()) {
        HxLogStream(HxLogLvl::Error) << signature << ": json object value is empty" << std::endl;
        return false;
    }
    return true;
}

// The "devices" member of the state object; null when there is none.
const boost::json::value* devices_of(const boost::json::object& state)
{
    for (const auto& member : state) {
        if (kelvomar::module::unquoted_json_text(member.key()) == "devices") {
            return &member.value();
        }
    }
    return nullptr;
}

// True when `entry` is a non-empty object; false with the Error record otherwise.
bool usable_entry(const char* signature, const boost::json::value& entry)
{
    if (!entry.is_object()) {
        HxLogStream(HxLogLvl::Error) << signature << ": json value is not an object" << std::endl;
        return false;
    }
    if (entry.get_object().empty()) {
        HxLogStream(HxLogLvl::Error) << signature << ": json object value is empty" << std::endl;
        return false;
    }
    return true;
}

// The value text of member `name` of `entry`; `found` tells whether it is there.
std::string member_text(const boost::json::object& entry, const char* name, bool& found)
{
    found = false;
    std::string text;
    for (const auto& member : entry) {
        if (kelvomar::module::unquoted_json_text(member.key()) == name) {
            text = kelvomar::module::unquoted_json_text(member.value());
            found = true;
        }
    }
    return text;
}

}  // namespace

bool SnapshotDattobd::is_dattobd_ready() const
{
    std::string output;
    return hx_utils_common::execute_command("/sbin/lsmod | grep ^dattobd", output) == 0;
}

bool SnapshotDattobd::is_dattobd_snapshot_exists(const std::string& device, bool& exists, std::string& minor) const
{
    exists = false;
    boost::json::value state;
    if (!read_state(kExists, state)) {
        return false;
    }
    const boost::json::value* devices = devices_of(state.get_object());
    if (devices == nullptr) {
        return true;
    }
    if (!devices->is_array()) {
        HxLogStream(HxLogLvl::Error) << kExists << ": json value is not an array" << std::endl;
        return false;
    }
    for (const auto& entry : devices->get_array()) {
        if (!usable_entry(kExists, entry)) {
            return false;
        }
        bool found = false;
        const std::string block_device = member_text(entry.get_object(), "block_device", found);
        if (found && block_device == device) {
            minor = member_text(entry.get_object(), "minor", found);
            exists = true;
            return true;
        }
    }
    return true;
}

bool SnapshotDattobd::get_dattobd_free_minor(std::string& minor)
{
    boost::json::value state;
    if (!read_state(kFreeMinor, state)) {
        return false;
    }
    const boost::json::value* devices = devices_of(state.get_object());
    if (devices == nullptr) {
        return false;
    }
    if (!devices->is_array()) {
        HxLogStream(HxLogLvl::Error) << kFreeMinor << ": json value is not an array" << std::endl;
        return false;
    }
    bool any = false;
    long long highest = 0;
    for (const auto& entry : devices->get_array()) {
        if (!usable_entry(kFreeMinor, entry)) {
            return false;
        }
        bool found = false;
        const std::string text = member_text(entry.get_object(), "minor", found);
        if (found) {
            const long long value = std::stoi(text);
            highest = any ? std::max(highest, value) : value;
            any = true;
        }
    }
    minor = any ? std::to_string(highest + 1) : "0";
    return true;
}

bool SnapshotDattobd::check(const std::string& device)
{
    if (!is_dattobd_ready()) {
        HxLogStream(HxLogLvl::Warning) << "Dattobd is not ready or not installed" << std::endl;
        return false;
    }
    bool exists = false;
    if (!is_dattobd_snapshot_exists(device, exists, minor_)) {
        HxLogStream(HxLogLvl::Error)
            << "SnapshotDattobd::check: can't check weather dattobd snapshot exists for the device: " << device
            << std::endl;
        return false;
    }
    if (exists) {
        HxLogStream(HxLogLvl::Warning) << "Can't create dattobd snapshot of the device " << device
                                       << ". The snapshot exists: /dev/datto" << minor_ << std::endl;
        HxLogStream(HxLogLvl::Warning)
            << "You can remove it by hand if you are sure it is obsoleted. Command to destroy the snapshot: "
            << "dbdctl destroy " << minor_ << std::endl;
        // The minor names somebody else's snapshot: never set up or destroy it from here.
        minor_.clear();
        return false;
    }
    if (get_dattobd_free_minor(minor_)) {
        HxLogStream(HxLogLvl::Info) << "Free dattobd minor to create a snapshot: " << minor_ << std::endl;
        return true;
    }
    minor_.clear();
    HxLogStream(HxLogLvl::Error) << "Can't get free minor of dattobd to create snapshot" << std::endl;
    return false;
}

bool SnapshotDattobd::create(const std::string& device, const std::string& /*name*/, const std::string& mount_point,
                             const std::string& task_id, uintmax_t size, std::string& snapshot_device)
{
    using kelvomar::shell_quote;
    namespace fs = boost::filesystem;

    if (minor_.empty()) {
        HxLogStream(HxLogLvl::Error) << kCreate << ": no dattobd minor was chosen for " << device
                                     << ", check must precede create" << std::endl;
        return false;
    }
    // The cache size in whole mebibytes, as dbdctl takes it (a 32-bit number).
    const uintmax_t mebibytes = size / 1048576;
    const int cache_size = mebibytes > static_cast<uintmax_t>(INT_MAX) ? INT_MAX : static_cast<int>(mebibytes);
    const std::string cow_file = mount_point + "/.kelvomar_dattobd_" + task_id;
    boost::system::error_code ignored;
    const bool cow_existed = fs::exists(fs::symlink_status(cow_file, ignored));

    const std::string command = "dbdctl setup-snapshot -f " + std::to_string(cache_size) + " " +
                                shell_quote(device) + " " + shell_quote(cow_file) + " " + shell_quote(minor_);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << kCreate << ": command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        // A copy-on-write file that the failed set-up left behind would stay on
        // the user's file system for good.
        boost::system::error_code error;
        if (!cow_existed && fs::is_regular_file(fs::symlink_status(cow_file, error)) && fs::remove(cow_file, error)) {
            HxLogStream(HxLogLvl::Info) << "Removed the copy-on-write file of the failed snapshot: " << cow_file
                                        << std::endl;
        }
        return false;
    }
    snapshot_device = "/dev/datto" + minor_;
    created_ = true;
    HxLogStream(HxLogLvl::Info) << "Dattobd snapshot was created: " << snapshot_device << std::endl;
    return true;
}

bool SnapshotDattobd::remove(const std::string& device)
{
    if (!created_) {
        // Nothing of this object is active; a snapshot of the device made by
        // somebody else is left alone.
        return true;
    }
    bool exists = false;
    std::string minor;
    if (!is_dattobd_snapshot_exists(device, exists, minor)) {
        if (!is_dattobd_ready()) {
            created_ = false;  // without the module no snapshot is active
            return true;
        }
        HxLogStream(HxLogLvl::Error) << kRemove << ": the state of dattobd cannot be read, the snapshot /dev/datto"
                                     << minor_ << " of " << device << " may still exist" << std::endl;
        return false;
    }
    if (!exists || minor != minor_) {
        created_ = false;
        return true;
    }
    const std::string command = "dbdctl destroy " + kelvomar::shell_quote(minor);
    std::string output;
    if (hx_utils_common::execute_command(command, output) != 0) {
        HxLogStream(HxLogLvl::Error) << kRemove << ": command: " << command << std::endl;
        HxLogStream(HxLogLvl::Error) << output << std::endl;
        return false;
    }
    created_ = false;
    HxLogStream(HxLogLvl::Info) << "Dattobd snapshot was destroyed: /dev/datto" << minor << std::endl;
    return true;
}
