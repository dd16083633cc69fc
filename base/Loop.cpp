#include "Loop.h"

#include "TcpLink.h"

#include "ForkGeneration.h"
#include "KelvoBase.h"
#include "LoopOptions.h"
#include "TimerService.h"
#include "inline/ForcedUnwind.h"

#include <asio/executor_work_guard.hpp>

#include <cstdlib>
#include <exception>
#include <memory>
#include <new>

#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#else
#include <windows.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define KELVO_LSAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KELVO_LSAN 1
#endif
#endif
#ifdef KELVO_LSAN
#include <sanitizer/lsan_interface.h>
#endif

namespace kelvo {

std::atomic<unsigned> g_forkGeneration{0};
std::atomic<Loop*> Loop::s_current{nullptr};

namespace {

// A Kelvo_LOOP_Call waiting for the loop. Exactly one side runs fn: the loop,
// or the caller itself once the loop has stopped without getting to it.
struct CallRecord {
    enum State { Pending, Taken, Done };
    void (*fn)(void*);
    void* arg;
    State state = Pending;
    std::exception_ptr error;
};

// Guards the start of a loop. Rebuilt in a forked child: a parent's thread
// may have held it at the fork.
std::mutex g_startMutex;
Loop* g_forsaken = nullptr; // the loops that forks left behind, newest first

#ifndef _WIN32
[[maybe_unused]] const bool g_forkHooked = pthread_atfork(nullptr, nullptr, &Loop::OnForkChild) == 0;
#endif

// Pins the calling thread to one CPU; a CPU that does not exist or is not
// allowed to this process leaves the thread where it was.
void PinToCpu(int cpu)
{
    if (cpu < 0)
        return;
#ifndef _WIN32
    if (cpu >= CPU_SETSIZE)
        return;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(static_cast<unsigned>(cpu), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
#else
    if (cpu < 64)
        SetThreadAffinityMask(GetCurrentThread(), DWORD_PTR(1) << cpu);
#endif
}

} // namespace

void LeakOnPurpose(const void* object)
{
#ifdef KELVO_LSAN
    __lsan_ignore_object(object);
#else
    (void)object;
#endif
}

Loop& Loop::Start()
{
    std::lock_guard<std::mutex> lock(g_startMutex);
    if (Loop* loop = s_current.load(std::memory_order_acquire))
        return *loop;
    // Leaked on purpose: static destructors must never run under the thread.
    Loop* loop = new Loop();
    // Once per process family: a child inherits the registration.
    static const bool atExit = std::atexit(&Loop::AtExit) == 0;
    (void)atExit;
    KeepLoaded(&s_current); // the loop thread runs this module's code
    s_current.store(loop, std::memory_order_release);
    return *loop;
}

void Loop::OnForkChild()
{
    // The child's only thread runs here, before fork() returns to it: nothing
    // can race, and nothing of the parent's loop may be touched.
    Loop* parent = s_current.load(std::memory_order_relaxed);
    if (parent != nullptr) {
        parent->forsaken_ = g_forsaken;
        g_forsaken = parent;
    }
    s_current.store(nullptr, std::memory_order_relaxed);
    new (&g_startMutex) std::mutex();
    g_forkGeneration.fetch_add(1, std::memory_order_relaxed);
}

Loop::Loop() : io_(1), threadKey_(ThreadKey()), stopped_(false)
{
    timers_ = new TimerService(*this);
#ifndef _WIN32
    // The loop thread takes no process signal: they stay with the
    // application's own threads.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    thread_ = std::thread([this] { Run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#else
    thread_ = std::thread([this] { Run(); });
#endif
}

void Loop::Run()
{
    // Before any handler runs, so that InThread() is right inside all of them.
    threadKey_.store(ThisThreadKey(), std::memory_order_relaxed);
    const LoopOptions options = LoopOptionsFromEnvironment();
    PinToCpu(options.cpu);
    auto work = asio::make_work_guard(io_);
    for (;;) {
        try {
            if (options.poll) {
                polling_ = true;
                RunPolling();
            } else {
                io_.run();
            }
            return;
        }
#if defined(__GLIBCXX__)
        catch (abi::__forced_unwind&) {
            // The thread is ending (pthread_exit in a callback): whoever
            // waits for the loop must stop waiting.
            Abandon();
            throw;
        }
#endif
        catch (...) {
            // Connections and timers contain what their callbacks throw; what
            // reaches here is a posted function's own (Kelvo_LOOP_Post),
            // which loses only itself: the loop carries on.
        }
    }
}

// Never asleep in the kernel: ready work is picked up at the next turn
// instead of after a wake-up, and the links polled here are read at once.
// The io_context's own turn (timers, posted calls, writes, the other links)
// costs a readiness check, a system call: with links to read it comes every
// AsioEvery turns, some tens of microseconds apart.
void Loop::RunPolling()
{
    constexpr unsigned AsioEvery = 16;
    unsigned turn = 0;
    for (;;) {
        for (std::size_t i = 0; i < polled_.size();) {
            if (polled_[i]->PollOnce()) {
                ++i;
                continue;
            }
            polled_[i].swap(polled_.back());
            polled_.pop_back();
        }
        if (polled_.empty() || ++turn % AsioEvery == 0) {
            io_.poll();
            if (io_.stopped())
                return;
        }
    }
}

bool Loop::Poll(std::shared_ptr<TcpLink> link)
{
    if (!polling_ || polled_.size() >= PolledLinks)
        return false;
    polled_.push_back(std::move(link));
    return true;
}

void Loop::Abandon()
{
    {
        std::lock_guard<std::mutex> lock(callMutex_);
        stopped_.store(true, std::memory_order_release);
        // No thread is the loop's any more, also not a new one given the
        // same id.
        threadKey_.store(ThreadKey(), std::memory_order_relaxed);
    }
    callDone_.notify_all();
}

void Loop::AtExit()
{
    // A forked child that never used the library has no loop of its own.
    Loop* loop = s_current.load(std::memory_order_acquire);
    if (loop == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lock(loop->callMutex_);
        loop->stopped_.store(true, std::memory_order_release);
    }
    loop->callDone_.notify_all();
    loop->io_.stop();
#ifndef _WIN32
    // exit() on the loop thread itself cannot wait for itself.
    if (!loop->InThread() && loop->thread_.joinable())
        loop->thread_.join();
#endif
    // Windows: static destructors run under the loader lock, where joining a
    // thread deadlocks; the stopped thread is left to the process's end.
}

void Loop::Call(void (*fn)(void*), void* arg)
{
    if (InThread() || Stopped()) {
        fn(arg);
        return;
    }
    auto record = std::make_shared<CallRecord>();
    record->fn = fn;
    record->arg = arg;
    asio::post(io_, [this, record] {
        {
            std::lock_guard<std::mutex> lock(callMutex_);
            if (record->state != CallRecord::Pending)
                return;
            record->state = CallRecord::Taken;
        }
        try {
            record->fn(record->arg);
        }
#if defined(__GLIBCXX__)
        catch (abi::__forced_unwind&) {
            // The loop thread ends inside fn: the caller stops waiting.
            {
                std::lock_guard<std::mutex> lock(callMutex_);
                record->state = CallRecord::Done;
            }
            callDone_.notify_all();
            throw;
        }
#endif
        catch (...) {
            record->error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(callMutex_);
        record->state = CallRecord::Done;
        callDone_.notify_all();
    });
    std::unique_lock<std::mutex> lock(callMutex_);
    callDone_.wait(lock, [&] {
        return record->state == CallRecord::Done || (record->state == CallRecord::Pending && Stopped());
    });
    if (record->state == CallRecord::Pending) {
        record->state = CallRecord::Taken;
        lock.unlock();
        fn(arg);
        return;
    }
    if (record->error)
        std::rethrow_exception(record->error);
}

void Loop::KeepLoaded(const void* address)
{
#ifdef _WIN32
    // An application that unloads the DLLs (a plugin host, say) would
    // otherwise pull the code from under the running loop thread. Pinned
    // once per module: the handle lookup takes the loader lock.
    static std::mutex mutex;
    static const void* lastAddress = nullptr;
    std::lock_guard<std::mutex> lock(mutex);
    if (address == lastAddress)
        return;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       static_cast<LPCWSTR>(address), &module);
    lastAddress = address;
#else
    (void)address;
#endif
}

} // namespace kelvo

extern "C" {

int Kelvo_LOOP_InThread(void)
{
    return kelvo::Loop::Get().InThread() ? 1 : 0;
}

void Kelvo_LOOP_Post(void (*fn)(void*), void* arg)
{
    if (fn == nullptr)
        return;
    kelvo::Loop::Get().Post([fn, arg] { fn(arg); });
}

void Kelvo_LOOP_Call(void (*fn)(void*), void* arg)
{
    if (fn == nullptr)
        return;
    kelvo::Loop::Get().Call(fn, arg);
}

unsigned int Kelvo_LOOP_Generation(void)
{
    return kelvo::ForkGeneration();
}

} // extern "C"
