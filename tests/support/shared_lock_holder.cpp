#include "tests/support/shared_lock_holder.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kevra_test {

SharedLockHolder::SharedLockHolder(const std::string& path, uid_t uid, unsigned seconds)
{
    int ready[2];
    if (::pipe(ready) != 0) {
        return;
    }
    child_ = ::fork();
    if (child_ == 0) {
        ::close(ready[0]);
        char answer = 'n';
        if (uid == 0 || (::setgroups(0, nullptr) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0)) {
            const int fd = ::open(path.c_str(), O_RDONLY);
            struct flock lock {};
            lock.l_type = F_RDLCK;
            lock.l_whence = SEEK_SET;
            answer = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
        }
        if (::write(ready[1], &answer, 1) != 1) {
            ::_exit(1);
        }
        ::alarm(seconds);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char answer = 'n';
    holds_ = child_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
}

SharedLockHolder::~SharedLockHolder()
{
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
}

}  // namespace kevra_test
