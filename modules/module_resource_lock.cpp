// Resource lock files: their name and place, creation and removal, and the
// operating-system file lock on them.
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
#include <boost/system/error_code.hpp>

#include "common/hx_logger.h"
#include "common/quoting.h"
#include "crypto/keyed_hash.h"

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
    boost::system::error_code ec;
    if (fs::exists(lock_file_path_, ec)) {
        return;
    }
    const fs::path parent = lock_file_path_.parent_path();
    if (!fs::is_directory(parent, ec)) {
        const bool created = fs::create_directories(parent, ec);
        // Another run may have made the directory a moment ago: only a
        // directory that is still missing is a failure.
        if (!created && !fs::is_directory(parent, ec)) {
            HxLogStream(HxLogLvl::Error) << "lock file parent directories creation at " << parent << " fails!"
                                         << std::endl;
            throw std::runtime_error("unable to prepare resources lock file parent directories");
        }
    }
    const int fd = ::open(lock_file_path_.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        HxLogStream(HxLogLvl::Error) << "lock file " << lock_file_path_ << " for module " << quoted(module_name_)
                                     << " with resource " << quoted(resource_name_) << " creation fails!"
                                     << std::endl;
        throw std::runtime_error("unable to create lock file");
    }
    ::close(fd);
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
    if (!module_name_.empty() && !resource_name_.empty() && !lock_file_path_.empty() && identity_fd_ >= 0) {
        try {
            // Succeeds also while this process holds the lock itself; fails
            // while another process holds it, whose file is then left alone.
            if (file_lock_.try_lock()) {
                // A file at the path that is not the one locked here belongs
                // to another run: it is not removed.
                if (still_at_lock_path()) {
                    HxLogStream(HxLogLvl::Debug) << "resource_file_lock dtor:" << " module " << quoted(module_name_)
                                                 << ", resource " << quoted(resource_name_) << ", file lock path "
                                                 << lock_file_path_ << " -> try remove..." << std::endl;
                    remove();
                }
                file_lock_.unlock();
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
    file_lock_.swap(other.file_lock_);
    std::swap(identity_fd_, other.identity_fd_);
    std::swap(device_, other.device_);
    std::swap(inode_, other.inode_);
}

bool resource_file_lock::try_lock()
{
    if (identity_fd_ < 0) {
        return false;
    }
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        if (!file_lock_.try_lock()) {
            return false;
        }
        if (still_at_lock_path()) {
            return true;
        }
        // The holder removed this file before we got it, and a new file may
        // already be locked by another run: try again with the file now there.
        file_lock_.unlock();
        close_file();
        open_current_file();
    }
    return false;
}

void resource_file_lock::lock()
{
    if (identity_fd_ < 0) {
        throw std::runtime_error("no lock file to lock");
    }
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        file_lock_.lock();
        if (still_at_lock_path()) {
            return;
        }
        file_lock_.unlock();
        close_file();
        open_current_file();
    }
    throw std::runtime_error("lock file keeps changing");
}

void resource_file_lock::unlock()
{
    if (identity_fd_ >= 0) {
        file_lock_.unlock();
    }
}

void resource_file_lock::open_current_file()
{
    for (int attempt = 0; attempt < kReopenAttempts; ++attempt) {
        create();
        const int fd = ::open(lock_file_path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) {
                continue;  // removed between its creation and now
            }
            throw std::runtime_error(std::string("unable to open lock file: ") + std::strerror(errno));
        }
        struct stat pinned {};
        if (::fstat(fd, &pinned) != 0) {
            ::close(fd);
            throw std::runtime_error("unable to examine lock file");
        }
        try {
            boost::interprocess::file_lock opened(lock_file_path_.generic_string().c_str());
            // `fd` keeps the pinned file's identity from being reused, so the
            // path naming it now means the file lock opened that same file.
            struct stat now {};
            if (::stat(lock_file_path_.c_str(), &now) == 0 && now.st_dev == pinned.st_dev &&
                now.st_ino == pinned.st_ino) {
                file_lock_.swap(opened);
                identity_fd_ = fd;
                device_ = pinned.st_dev;
                inode_ = pinned.st_ino;
                return;
            }
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
    }
    throw std::runtime_error("lock file keeps changing");
}

void resource_file_lock::close_file() noexcept
{
    boost::interprocess::file_lock closed;
    file_lock_.swap(closed);
    if (identity_fd_ >= 0) {
        ::close(identity_fd_);
    }
    identity_fd_ = -1;
    device_ = 0;
    inode_ = 0;
}

bool resource_file_lock::still_at_lock_path() const
{
    struct stat now {};
    return ::stat(lock_file_path_.c_str(), &now) == 0 && now.st_dev == device_ && now.st_ino == inode_;
}

// ---- resource_file_scoped_lock -------------------------------------------------

namespace {

using file_guard = boost::interprocess::scoped_lock<boost::interprocess::file_lock>;

file_guard locked_guard(resource_file_lock& lock)
{
    lock.lock();
    return file_guard(lock.file_lock(), boost::interprocess::accept_ownership);
}

file_guard tried_guard(resource_file_lock& lock)
{
    if (lock.try_lock()) {
        return file_guard(lock.file_lock(), boost::interprocess::accept_ownership);
    }
    return file_guard(lock.file_lock(), boost::interprocess::defer_lock);
}

}  // namespace

resource_file_scoped_lock::resource_file_scoped_lock() = default;

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock)
    : guard_(locked_guard(lock)), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::defer_lock_type)
    : guard_(lock.file_lock(), boost::interprocess::defer_lock), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock,
                                                     boost::interprocess::accept_ownership_type)
    : guard_(lock.file_lock(), boost::interprocess::accept_ownership), lock_(&lock)
{
}

resource_file_scoped_lock::resource_file_scoped_lock(resource_file_lock& lock, boost::interprocess::try_to_lock_type)
    : guard_(tried_guard(lock)), lock_(&lock)
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
