#include "Wakeup.h"

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/eventfd.h>
#endif

namespace mdpy {

Wakeup::~Wakeup()
{
    Close();
}

int Wakeup::Fd()
{
    if (read_ >= 0)
        return read_;
#if defined(__linux__)
    read_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    write_ = read_.load();
#else
    int fds[2];
    if (pipe(fds) == 0) {
        for (int fd : fds) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
        read_ = fds[0];
        write_ = fds[1];
    }
#endif
    return read_;
}

void Wakeup::Signal()
{
    const int fd = write_;
    if (fd < 0)
        return;
    // A full pipe or a counter already set is readable already.
    const std::uint64_t one = 1;
    ssize_t n;
    do {
        n = write(fd, &one, fd == read_ ? sizeof one : 1);
    } while (n < 0 && errno == EINTR);
}

void Wakeup::Drain()
{
    if (read_ < 0)
        return;
    char buf[64];
    for (;;) {
        const ssize_t n = read(read_, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || write_ == read_)
            return; // empty, or an eventfd (one read empties it)
    }
}

void Wakeup::ForgetAfterFork()
{
    Close();
}

void Wakeup::Close()
{
    const int r = read_, w = write_;
    if (r >= 0)
        close(r);
    if (w >= 0 && w != r)
        close(w);
    read_ = -1;
    write_ = -1;
}

} // namespace mdpy
