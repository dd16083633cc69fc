// Calls into Python from the library's thread for one client: the GIL taken
// for the call, the call counted as running in the client's room (close and
// join wait for it, waits inside it refuse), and any exception logged on the
// "mdlink" logger with its traceback and counted. Nothing thrown here
// reaches the library but the forced unwind of a thread that CPython ends.
#pragma once

#include "Gil.h"
#include "WaitRoom.h"

#include <pybind11/pybind11.h>

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>

namespace mdpy {

// Logs an exception raised by the handler's `what` on the "mdlink" logger.
void ReportHandlerError(const char* what, pybind11::error_already_set& e);
void ReportHandlerError(const char* what, const char* text);

// Keeps an object alive through a callback that may drop Python's last
// reference. Let go with the GIL held; leaked when a forced unwind has taken
// the GIL away, since its destructor would need it.
template <class T>
class KeepAlive {
public:
    explicit KeepAlive(std::shared_ptr<T> p) : p_(std::move(p)) {}
    ~KeepAlive()
    {
        if (!PyGILState_Check())
            new std::shared_ptr<T>(std::move(p_));
    }
    KeepAlive(const KeepAlive&) = delete;
    KeepAlive& operator=(const KeepAlive&) = delete;

private:
    std::shared_ptr<T> p_;
};

// A reference let go only with the GIL held: a thread ended inside Python
// unwinds without it, and the reference is leaked then.
class OwnedRef {
public:
    explicit OwnedRef(PyObject* p) : p_(p) {}
    ~OwnedRef()
    {
        if (p_ && PyGILState_Check())
            Py_DECREF(p_);
    }
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    PyObject* get() const { return p_; }

private:
    PyObject* p_;
};

// callable(arg) for a handler: `arg` is a new reference (null with a Python
// error set when making it failed). No pybind11 object is alive across the
// call, since their destructors would need the GIL.
inline void CallHandler(PyObject* callable, PyObject* arg)
{
    OwnedRef argument(arg);
    if (!arg)
        throw pybind11::error_already_set();
    Py_INCREF(callable); // a close inside may drop the client's reference
    OwnedRef function(callable);
    OwnedRef result(PyObject_CallOneArg(callable, arg));
    if (!result.get())
        throw pybind11::error_already_set();
}

// Counts the call as running for its scope, unless the client is closing:
// then nothing may start.
class Running {
public:
    explicit Running(WaitRoom& room) : room_(room)
    {
        std::lock_guard<std::mutex> lk(room_.mu);
        entered_ = !room_.closed;
        if (entered_)
            ++room_.running;
    }
    ~Running()
    {
        if (!entered_)
            return;
        {
            std::lock_guard<std::mutex> lk(room_.mu);
            --room_.running;
        }
        room_.Notify(WaitRoom::Wake{true, false});
    }
    bool Entered() const { return entered_; }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    WaitRoom& room_;
    bool entered_ = false;
};

// Runs f() with the GIL held on behalf of `owner` (an
// enable_shared_from_this object), whose room counts it.
template <class T, class F>
void CallPython(T& owner, WaitRoom& room, std::atomic<std::uint64_t>& errors, const char* what, F f)
{
    if (Finalizing())
        return;
    try {
        LoopGil gil;
        KeepAlive<T> keep(owner.shared_from_this()); // its last copy goes with the GIL held
        Running running(room);
        if (!running.Entered())
            return;
        CallbackScope inside;
        try {
            f();
        } catch (pybind11::error_already_set& e) {
            errors.fetch_add(1, std::memory_order_relaxed);
            ReportHandlerError(what, e);
        }
        MDPY_PASS_FORCED_UNWIND
        catch (std::exception& e)
        {
            errors.fetch_add(1, std::memory_order_relaxed);
            ReportHandlerError(what, e.what());
        }
        catch (...)
        {
            errors.fetch_add(1, std::memory_order_relaxed);
            ReportHandlerError(what, "unknown C++ exception");
        }
    }
    MDPY_PASS_FORCED_UNWIND
    catch (...)
    {
        errors.fetch_add(1, std::memory_order_relaxed);
    }
}

} // namespace mdpy
