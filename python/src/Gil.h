// The GIL from the binding's side: let go around every wait and every call
// that may wait for the library's thread, taken on the library's thread for
// a callback into Python.
//
// While the interpreter finalizes, CPython ends any thread that asks for the
// GIL with pthread_exit. Its forced unwind must pass through our frames:
// nothing on its way may be noexcept (pybind11's gil_scoped_release
// destructor is), and every catch (...) lets it through first
// (MDPY_PASS_FORCED_UNWIND).
#pragma once

#include <Python.h>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#define MDPY_PASS_FORCED_UNWIND                                                                              \
    catch (abi::__forced_unwind&)                                                                            \
    {                                                                                                        \
        throw;                                                                                               \
    }
#else
#define MDPY_PASS_FORCED_UNWIND
#endif

namespace mdpy {

// The interpreter is going away: no new call into Python may start.
inline bool Finalizing()
{
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0 || !Py_IsInitialized();
#else
    return _Py_IsFinalizing() != 0 || !Py_IsInitialized();
#endif
}

// Lets go of the GIL for its scope. Taking it back may end the thread (see
// above), hence a destructor that may throw.
class GilRelease {
public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    ~GilRelease() noexcept(false) { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease&) = delete;
    GilRelease& operator=(const GilRelease&) = delete;

private:
    PyThreadState* state_;
};

// Holds the GIL on the library's thread for one callback. The first use
// keeps a thread state for that thread for good, so that later callbacks do
// not create and destroy one each.
class LoopGil {
public:
    LoopGil()
    {
        thread_local bool primed = false;
        if (!primed) {
            PyGILState_Ensure();
            PyEval_SaveThread();
            primed = true;
        }
        state_ = PyGILState_Ensure();
    }
    // A forced unwind out of Python leaves this thread without the GIL:
    // nothing to give back then.
    ~LoopGil()
    {
        if (PyGILState_Check())
            PyGILState_Release(state_);
    }
    LoopGil(const LoopGil&) = delete;
    LoopGil& operator=(const LoopGil&) = delete;

private:
    PyGILState_STATE state_;
};

// True on a thread while it runs a Python callback for any client: waiting
// there for the library's thread would wait for itself.
bool InsideCallback();

// Marks the current thread as inside a callback for its scope.
class CallbackScope {
public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

// Raises RuntimeError when `what` would wait (timeout other than 0) inside a
// callback.
void RefuseWaitInsideCallback(const char* what, double timeout);

} // namespace mdpy
