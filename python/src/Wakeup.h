// A descriptor that becomes readable when the library's thread has news for
// asyncio: the event loop watches it (loop.add_reader) instead of a thread
// per waiter. An eventfd on Linux, a pipe on other POSIX systems.
#pragma once

#include <atomic>

namespace mdpy {

class Wakeup {
public:
    Wakeup() = default;
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // The descriptor to watch, made on first use; -1 with errno set when
    // the system has none left.
    int Fd();
    // Makes the descriptor readable (from any thread; nothing if none was
    // made yet: nobody watches).
    void Signal();
    // Makes it unreadable again (the event loop's side).
    void Drain();
    // In a child made by fork(): the descriptors are the parent's too. The
    // child's copies are closed so that it neither steals nor makes the
    // parent's wake-ups.
    void ForgetAfterFork();

private:
    void Close();

    // Made by the event loop's thread, signalled from the library's.
    std::atomic<int> read_{-1};
    std::atomic<int> write_{-1};
};

} // namespace mdpy
