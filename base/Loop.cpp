#include "Loop.h"

#include "KelvoBase.h"
#include "LoopOptions.h"

#include <asio/executor_work_guard.hpp>

#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>

#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#else
#include <windows.h>
#endif

namespace kelvo {

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

std::mutex g_callMutex;
std::condition_variable g_callDone;
Loop* g_loop = nullptr;  // set once; the loop is never destroyed

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

}  // namespace

Loop& Loop::Get()
{
    // Leaked on purpose: static destructors must never run under the thread.
    static Loop* const instance = [] {
        Loop* loop = new Loop();
        g_loop = loop;
        std::atexit(&Loop::AtExit);
        KeepLoaded(&g_loop); // the loop thread runs this module's code
        return loop;
    }();
    return *instance;
}

Loop::Loop() : m_io(1), m_threadKey(ThreadKey()), m_stopped(false)
{
#ifndef _WIN32
    // The loop thread takes no process signal: they stay with the
    // application's own threads.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &previous);
    m_thread = std::thread([this] { Run(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
#else
    m_thread = std::thread([this] { Run(); });
#endif
}

void Loop::Run()
{
    // Before any handler runs, so that InThread() is right inside all of them.
    m_threadKey.store(ThisThreadKey(), std::memory_order_relaxed);
    const LoopOptions options = LoopOptionsFromEnvironment();
    PinToCpu(options.cpu);
    auto work = asio::make_work_guard(m_io);
    for (;;) {
        try {
            if (options.poll) {
                // Never asleep in the kernel: ready work is picked up at the
                // next turn instead of after a wake-up.
                while (!m_io.stopped())
                    m_io.poll();
            } else {
                m_io.run();
            }
            return;
        } catch (...) {
            // Connections and timers contain what their callbacks throw; what
            // reaches here is a posted function's own (Kelvo_LOOP_Post),
            // which loses only itself: the loop carries on.
        }
    }
}

void Loop::AtExit()
{
    Loop& loop = *g_loop;
    {
        std::lock_guard<std::mutex> lock(g_callMutex);
        loop.m_stopped.store(true, std::memory_order_release);
    }
    g_callDone.notify_all();
    loop.m_io.stop();
#ifndef _WIN32
    // exit() on the loop thread itself cannot wait for itself.
    if (!loop.InThread() && loop.m_thread.joinable())
        loop.m_thread.join();
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
    asio::post(m_io, [record] {
        {
            std::lock_guard<std::mutex> lock(g_callMutex);
            if (record->state != CallRecord::Pending)
                return;
            record->state = CallRecord::Taken;
        }
        try {
            record->fn(record->arg);
        } catch (...) {
            record->error = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(g_callMutex);
        record->state = CallRecord::Done;
        g_callDone.notify_all();
    });
    std::unique_lock<std::mutex> lock(g_callMutex);
    g_callDone.wait(lock, [&] {
        return record->state == CallRecord::Done ||
               (record->state == CallRecord::Pending && Stopped());
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

}  // namespace kelvo

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

}  // extern "C"
