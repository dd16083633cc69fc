// The process-wide event loop: one thread running one asio::io_context.
//
// Everything asynchronous in the base services runs here. The loop starts on
// first use, is never destroyed (so nothing is torn down under a running
// thread) and is stopped at process exit without running what is queued.
#pragma once

#include "inline/ThreadKey.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include <atomic>
#include <chrono>
#include <thread>
#include <type_traits>
#include <utility>

namespace kelvo {

using Clock = std::chrono::steady_clock;

class Loop {
public:
    // Starts the loop on first call; safe from any thread.
    static Loop& Get();

    asio::io_context& Context() { return m_io; }

    bool InThread() const
    {
        return m_threadKey.load(std::memory_order_relaxed) == ThisThreadKey();
    }
    bool Stopped() const { return m_stopped.load(std::memory_order_acquire); }

    // Queues fn to run on the loop after the current handler.
    template <class Fn>
    void Post(Fn&& fn)
    {
        asio::post(m_io, std::forward<Fn>(fn));
    }

    // Runs fn(arg) on the loop and waits; inline when already on the loop or
    // once the loop has stopped. An exception thrown by fn reaches the caller.
    void Call(void (*fn)(void*), void* arg);

    // The same for any callable: the one way the base services carry work
    // onto the loop and wait for it.
    template <class Fn>
    void Call(Fn&& fn)
    {
        using Callable = std::remove_reference_t<Fn>;
        Call([](void* p) { (*static_cast<Callable*>(p))(); }, &fn);
    }

    // Windows: keeps the module that holds `address` loaded until the
    // process ends, whatever FreeLibrary calls follow, since the loop thread
    // may run its code at any time. Elsewhere nothing.
    static void KeepLoaded(const void* address);

private:
    Loop();
    ~Loop() = delete;
    void Run();
    static void AtExit();

    asio::io_context m_io;
    std::atomic<ThreadKey> m_threadKey;
    std::atomic<bool> m_stopped;
    std::thread m_thread;
};

}  // namespace kelvo
