// The process-wide event loop: one thread running one asio::io_context.
//
// Everything asynchronous in the base services runs here. The loop starts on
// first use, is never destroyed (so nothing is torn down under a running
// thread) and is stopped at process exit without running what is queued.
// A forked child starts a loop of its own on first use (ForkGeneration.h).
// Should its thread be ended by a forced unwind (pthread_exit inside a
// callback), the loop counts as stopped from then on.
#pragma once

#include "inline/ThreadKey.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace kelvo {

using Clock = std::chrono::steady_clock;

class TimerService;
class TcpLink;

class Loop {
public:
    // Starts this process's loop on first call; safe from any thread.
    static Loop& Get()
    {
        Loop* loop = s_current.load(std::memory_order_acquire);
        return loop != nullptr ? *loop : Start();
    }

    asio::io_context& Context() { return io_; }
    TimerService& Timers() { return *timers_; }

    bool InThread() const { return threadKey_.load(std::memory_order_relaxed) == ThisThreadKey(); }
    bool Stopped() const { return stopped_.load(std::memory_order_acquire); }

    // Queues fn to run on the loop after the current handler.
    template <class Fn>
    void Post(Fn&& fn)
    {
        asio::post(io_, std::forward<Fn>(fn));
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

    // The pthread_atfork hook that gives a forked child a loop of its own.
    static void OnForkChild();

    // The low-latency mode reads up to PolledLinks links straight from their
    // sockets on every turn, with no readiness wait between a frame's arrival
    // and its read; further links, and everything else, go through the
    // io_context. Loop thread: false when the link is to wait as usual.
    static constexpr std::size_t PolledLinks = 4;
    bool Polling() const { return polling_; }
    bool Poll(std::shared_ptr<TcpLink> link);

private:
    Loop();
    ~Loop() = delete;
    static Loop& Start();
    static void AtExit();
    void Run();
    void RunPolling();
    void Abandon();

    static std::atomic<Loop*> s_current;

    asio::io_context io_;
    std::atomic<ThreadKey> threadKey_;
    std::atomic<bool> stopped_;
    // Kelvo_LOOP_Call's hand-over between a caller and the loop.
    std::mutex callMutex_;
    std::condition_variable callDone_;
    TimerService* timers_ = nullptr;
    // A parent's loop that a fork left behind, kept reachable, never touched.
    Loop* forsaken_ = nullptr;
    std::thread thread_;
    // Loop thread: the mode, and the links it reads itself.
    bool polling_ = false;
    std::vector<std::shared_ptr<TcpLink>> polled_;
};

} // namespace kelvo
