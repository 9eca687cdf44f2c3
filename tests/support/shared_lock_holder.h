#ifndef KEVRA_TESTS_SUPPORT_SHARED_LOCK_HOLDER_H
#define KEVRA_TESTS_SUPPORT_SHARED_LOCK_HOLDER_H

#include <sys/types.h>

#include <string>

namespace kevra_test {

// A child process that opens the file at `path` read-only and holds a shared
// record lock on it, as another user who could open a lock file would, until
// this object is destroyed (it is then killed) or `seconds` have passed. With
// `uid` not 0 the child first becomes that user (its group the same number).
class SharedLockHolder {
public:
    SharedLockHolder(const std::string& path, uid_t uid, unsigned seconds);
    ~SharedLockHolder();
    SharedLockHolder(const SharedLockHolder&) = delete;
    SharedLockHolder& operator=(const SharedLockHolder&) = delete;

    // True when the child opened the file and holds its lock.
    bool holds() const { return holds_; }

private:
    pid_t child_ = -1;
    bool holds_ = false;
};

}  // namespace kevra_test

#endif
