#include "PythonCall.h"

#include <stdexcept>
#include <string>

namespace py = pybind11;

namespace mdpy {

namespace {

thread_local bool insideCallback = false;

void Log(const char* what, const py::object& message, const py::object& excInfo)
{
    try {
        py::object log = py::module_::import("logging").attr("getLogger")("mdlink");
        log.attr("error")("exception in the handler's %s%s; the client goes on", what, message,
                          py::arg("exc_info") = excInfo);
    } catch (py::error_already_set&) {
        // A logger that fails cannot be told so.
    }
}

} // namespace

bool InsideCallback()
{
    return insideCallback;
}

CallbackScope::CallbackScope()
{
    insideCallback = true;
}

CallbackScope::~CallbackScope()
{
    insideCallback = false;
}

void RefuseWaitInsideCallback(const char* what, double timeout)
{
    if (timeout != 0 && insideCallback)
        throw std::runtime_error(
            std::string(what) +
            " would wait inside a handler's method, on the library's thread, which every "
            "client needs: call it with timeout=0 there, or wait in another thread");
}

void ReportHandlerError(const char* what, py::error_already_set& e)
{
    // (type, value, traceback): the record carries the handler's traceback.
    py::object trace = e.trace() ? py::reinterpret_borrow<py::object>(e.trace()) : py::none();
    Log(what, py::str(""), py::make_tuple(e.type(), e.value(), trace));
}

void ReportHandlerError(const char* what, const char* text)
{
    Log(what, py::str(std::string(": C++ exception: ") + text), py::none());
}

} // namespace mdpy
