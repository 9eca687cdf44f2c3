// Resource lock files: their name and place, creation and removal, and the
// operating-system record lock on them.
#include "modules/module_resource_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <boost/filesystem/operations.hpp>
#include <boost/interprocess/sync/scoped_lock.hpp>
#include <boost/system/error_code.hpp>

#include "common/hx_logger.h"
#include "common/quoting.h"
#include "crypto/keyed_hash.h"
#include "modules/private_lock_files.h"

namespace kelvomar {
namespace module {

namespace {

namespace fs = boost::filesystem;

// How often the file at the lock path may turn out to be another one before a
// lock attempt gives up: each round means another process removed or created
// the file in the meantime.
constexpr int kReopenAttempts = 16;

std::string quoted(const std::string& text)
{
    return kelvomar::as_quoted(text, '"', '\\');
}

// Makes sure the lock file of `handler` stands at its path (and opens it into
// `opened`, when given), writing the records of what was found there; throws
// std::runtime_error when no lock file can be had.
void settle_lock_file(const resource_lock_file_handler& handler, untrusted_files::descriptor* opened)
{
    const fs::path& path = handler.resource_lock_file_path();
    const fs::path directory = path.parent_path();
    const lock_files::outcome found =
        lock_files::find_lock_file(directory.string(), path.filename().string(), opened);
    for (const std::string& why : found.replaced) {
        HxLogStream(HxLogLvl::Warning) << "lock file for module " << quoted(handler.module_name())
                                       << " with resource " << quoted(handler.resource_name())
                                       << " was not a lock: " << why << "; removed and made anew." << std::endl;
    }
    switch (found.kind) {
    case lock_files::failure::none:
        return;
    case lock_files::failure::directory_not_made:
        HxLogStream(HxLogLvl::Error) << found.reason << std::endl;
        HxLogStream(HxLogLvl::Error) << "lock file parent directories creation at " << directory << " fails!"
                                     << std::endl;
        throw std::runtime_error("unable to prepare resources lock file parent directories");
    case lock_files::failure::directory_unsafe:
        HxLogStream(HxLogLvl::Error) << "lock file directory " << directory << " is refused: " << found.reason
                                     << "; the lock file directory and every directory above it must be owned by "
                                        "root and writable by no other user!"
                                     << std::endl;
        throw std::runtime_error("the lock file directory is not safe: " + found.reason);
    case lock_files::failure::not_a_lock:
        HxLogStream(HxLogLvl::Error) << "lock file " << path << " for module " << quoted(handler.module_name())
                                     << " with resource " << quoted(handler.resource_name())
                                     << " is not a lock: " << found.reason << "!" << std::endl;
        throw std::runtime_error("not a lock file: " + found.reason);
    case lock_files::failure::not_made:
        HxLogStream(HxLogLvl::Error) << "lock file " << path << " for module " << quoted(handler.module_name())
                                     << " with resource " << quoted(handler.resource_name()) << " creation fails!"
                                     << std::endl;
        throw std::runtime_error("unable to create lock file");
    case lock_files::failure::not_opened:
        throw std::runtime_error("unable to open lock file: " + found.reason);
    case lock_files::failure::keeps_changing:
        break;
    }
    throw std::runtime_error("lock file keeps changing");
}

}  // namespace

// ---- resource_lock_file_handler ---------------------------------------------

resource_lock_file_handler::resource_lock_file_handler() = default;

resource_lock_file_handler::resource_lock_file_handler(std::string module_name, std::string resource_name)
    : module_name_(std::move(module_name)),
      resource_name_(std::move(resource_name)),
      lock_file_path_(make_lock_file_path(make_lock_file_name(module_name_, resource_name_)))
{
    create();
}

std::string resource_lock_file_handler::make_lock_file_name(const std::string& module, const std::string& resource)
{
    static constexpr std::size_t hash_substr_length = 8;
    const std::string hash =
        kelvomar::hash::to_string(kelvomar::hash::sha::make_hash<std::array<unsigned char, 32>>(module + resource));
    HxLogStream(HxLogLvl::Debug) << "module " << quoted(module) << " resource " << quoted(resource)
                                 << " hash string is " << hash << "." << " will be truncated to "
                                 << hash_substr_length << " characters at begin." << std::endl;
    return "Kelvomar_MOD_mutex_" + hash.substr(0, hash_substr_length);
}

boost::filesystem::path resource_lock_file_handler::make_lock_files_dir_path()
{
    return fs::path("/opt/kelvomar") / "var" / "kelvomar-modules";
}

boost::filesystem::path resource_lock_file_handler::make_lock_file_path(const std::string& name)
{
    return make_lock_files_dir_path() / name;
}

void resource_lock_file_handler::create() const
{
    settle_lock_file(*this, nullptr);
}

bool resource_lock_file_handler::remove() const
{
    if (lock_file_path_.empty()) {
        return true;
    }
    boost::system::error_code ec;
    if (!fs::remove(lock_file_path_, ec)) {
        HxLogStream(HxLogLvl::Error) << "unable to remove lock file " << lock_file_path_ << " for module "
                                     << quoted(module_name_) << " with resource " << quoted(resource_name_) << " ("
                                     << ec.category().name() << ":" << ec.value() << ")!" << std::endl;
        return false;
    }
    return true;
}

void resource_lock_file_handler::swap(resource_lock_file_handler& other) noexcept
{
    module_name_.swap(other.module_name_);
    resource_name_.swap(other.resource_name_);
    lock_file_path_.swap(other.lock_file_path_);
}

// ---- resource_file_lock -------------------------------------------------------

resource_file_lock::resource_file_lock() = default;

resource_file_lock::resource_file_lock(std::string module_name, std::string resource_name)
    : resource_lock_file_handler(std::move(module_name), std::move(resource_name))
{
    open_current_file();
}

resource_file_lock::resource_file_lock(resource_file_lock&& other) noexcept : resource_file_lock()
{
    swap(other);
}

resource_file_lock& resource_file_lock::operator=(resource_file_lock&& other) noexcept
{
    swap(other);
    return *this;
}

resource_file_lock::~resource_file_lock()
{
    if (!module_name_.empty() && !resource_name_.empty() && !lock_file_path_.empty() && file_.valid()) {
        try {
            // Succeeds also while this process holds the lock itself; fails
            // while another process holds it, whose file is then left alone.
            if (lock_files::lock_whole_file(file_.get(), false) > 0) {
                // A file at the path that is not the one locked here belongs
                // to another run: it is not removed.
                if (still_at_lock_path()) {
                    HxLogStream(HxLogLvl::Debug) << "resource_file_lock dtor:" << " module " << quoted(module_name_)
                                                 << ", resource " << quoted(resource_name_) << ", file lock path "
                                                 << lock_file_path_ << " -> try remove..." << std::endl;
                    remove();
                }
                unlock();
            }
        } catch (const std::exception& e) {
            HxLogStream(HxLogLvl::Error) << "file lock releasing fails (" << e.what() << ")!" << std::endl;
        }
    }
    close_file();
}

void resource_file_lock::swap(resource_file_lock& other) noexcept
{
    resource_lock_file_handler::swap(other);
    std::swap(file_, other.file_);
    std::swap(device_, other.device_);
    std::swap(inode_, other.inode_);
}

bool resource_file_lock::try_lock()
{
    if (!file_.valid()) {
        return false;
    }
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        const int taken = lock_files::lock_whole_file(file_.get(), false);
        if (taken < 0) {
            throw std::runtime_error(std::string("unable to lock lock file: ") + std::strerror(errno));
        }
        if (taken == 0) {
            return false;
        }
        if (still_at_lock_path()) {
            return true;
        }
        // The holder removed this file before we got it, and a new file may
        // already be locked by another run: try again with the file now there.
        close_file();
        open_current_file();
    }
    return false;
}

void resource_file_lock::lock()
{
    if (!file_.valid()) {
        throw std::runtime_error("no lock file to lock");
    }
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        if (lock_files::lock_whole_file(file_.get(), true) < 0) {
            throw std::runtime_error(std::string("unable to lock lock file: ") + std::strerror(errno));
        }
        if (still_at_lock_path()) {
            return;
        }
        close_file();
        open_current_file();
    }
    throw std::runtime_error("lock file keeps changing");
}

void resource_file_lock::unlock() noexcept
{
    if (file_.valid()) {
        lock_files::unlock_whole_file(file_.get());
    }
}

void resource_file_lock::open_current_file()
{
    untrusted_files::descriptor file;
    settle_lock_file(*this, &file);
    struct stat opened {};
    if (::fstat(file.get(), &opened) != 0) {
        throw std::runtime_error(std::string("unable to examine lock file: ") + std::strerror(errno));
    }
    file_ = std::move(file);
    device_ = opened.st_dev;
    inode_ = opened.st_ino;
}

void resource_file_lock::close_file() noexcept
{
    // Closing the descriptor drops this process's lock on the file.
    file_.reset();
    device_ = 0;
    inode_ = 0;
}

bool resource_file_lock::still_at_lock_path() const
{
    struct stat now {};
    return ::lstat(lock_file_path_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_;
}

// ---- resource_file_scoped_lock -------------------------------------------------

resource_file_scoped_lock::resource_file_scoped_lock() = default;

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock)
    : guard_(lock), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::defer_lock_type)
    : guard_(lock, boost::interprocess::defer_lock), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock,
                                                     boost::interprocess::accept_ownership_type)
    : guard_(lock, boost::interprocess::accept_ownership), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::try_to_lock_type)
    : guard_(lock, boost::interprocess::try_to_lock), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_scoped_lock&& other) noexcept
    : resource_file_scoped_lock()
{
    swap(other);
}

resource_file_scoped_lock& resource_file_scoped_lock::operator=(resource_file_scoped_lock&& other) noexcept
{
    swap(other);
    return *this;
}

resource_file_scoped_lock::~resource_file_scoped_lock() = default;

void resource_file_scoped_lock::swap(resource_file_scoped_lock& other) noexcept
{
    guard_.swap(other.guard_);
    std::swap(lock_, other.lock_);
}

}  // namespace module
}  // namespace kelvomar
