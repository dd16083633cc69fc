// mdlink._core: the compiled part of the Python package, and where its
// pieces meet.
//
//   library's thread                           Python threads / asyncio
//   ----------------                           ------------------------
//   SessionSpi: OnFrontConnected -> login
//               OnRspUserLogin ok -> subscribe again
//               depth  -> DepthQueue (bounded) ---> Next / TakeBatch (GIL let go)
//               events -> event queue (bounded) --> NextEvent / WaitLogin
//                  both wake their WaitRoom: a condition for threads, a
//                  descriptor for an event loop (Wakeup) --> loop.add_reader
//   or, for what the handler takes and the link log (PythonCall): GIL taken,
//   the method called, exceptions logged with their traceback
//
// The loop thread never holds a lock while it asks for the GIL, and every
// call that may wait for the loop thread (Init, Release, requests) runs with
// the GIL let go: the loop thread may be waiting for the GIL to run a
// callback. While the interpreter finalizes, a thread that asks for the GIL
// is ended by pthread_exit: see Gil.h.
#include "DepthQueue.h"
#include "Gil.h"
#include "Records.h"
#include "Session.h"
#ifdef MDLINK_WITH_NATS
#include "BusSession.h"
#endif
#ifdef MDLINK_CAPTURE
#include "CaptureScan.h"
#include "CaptureSink.h"
#endif

#include "MdApi.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>

namespace py = pybind11;

namespace mdpy {

namespace {

double Seconds(const py::object& timeout)
{
    if (timeout.is_none())
        return -1;
    const double t = timeout.cast<double>();
    if (std::isnan(t) || t < 0)
        throw py::value_error("timeout must be a number of seconds from 0, or None");
    return t;
}

std::shared_ptr<Session> MakeSession(std::vector<std::string> fronts, std::string broker, std::string user,
                                     std::string password, std::size_t queueSize, std::size_t eventQueueSize,
                                     py::object encoding, py::object depthCallback, py::object eventCallback,
                                     std::vector<std::string> pushKinds, std::vector<std::string> callKinds,
                                     int links, std::string captureDir, std::string captureWriter)
{
    if (fronts.empty())
        throw py::value_error("at least one front address is needed");
    Options o;
    o.fronts = std::move(fronts);
    o.broker = std::move(broker);
    o.user = std::move(user);
    o.password = std::move(password);
    o.queueSize = queueSize;
    o.eventQueueSize = eventQueueSize;
    o.encoding = std::move(encoding);
    o.depthCallback = std::move(depthCallback);
    o.eventCallback = std::move(eventCallback);
    o.pushKinds = std::move(pushKinds);
    o.callKinds = std::move(callKinds);
    o.links = links;
    o.captureDir = std::move(captureDir);
    o.captureWriter = std::move(captureWriter);
    auto s = std::make_shared<Session>(std::move(o));
    s->Start();
    return s;
}

// The Session a Python object holds, or null while pybind11 has not built
// it (the factory runs with the GIL let go, so the collector may visit the
// object then). A cast would not do: pybind11 hands an unbuilt instance
// fresh uninitialised memory instead of failing.
Session* BuiltSession(PyObject* self)
{
    const py::detail::value_and_holder vh =
        reinterpret_cast<py::detail::instance*>(self)->get_value_and_holder(nullptr, false);
    return vh.inst && vh.holder_constructed() ? vh.value_ptr<Session>() : nullptr;
}

// A Session is collectable: the garbage collector sees the handler's
// callbacks it holds, and clearing it closes it.
void CollectableSession(PyHeapTypeObject* heap)
{
    PyTypeObject* type = &heap->ht_type;
    type->tp_flags |= Py_TPFLAGS_HAVE_GC;
    type->tp_traverse = [](PyObject* self, visitproc visit, void* arg) {
        Py_VISIT(Py_TYPE(self));
        Session* s = BuiltSession(self);
        return s ? s->Traverse(visit, arg) : 0;
    };
    type->tp_clear = [](PyObject* self) {
        if (Session* s = BuiltSession(self)) {
            try {
                s->Close();
            }
            MDPY_PASS_FORCED_UNWIND
            catch (...)
            {
                // The collector has nobody to tell.
            }
        }
        return 0;
    };
    // Out of the collector's sight before the Session goes: its destructor
    // lets the GIL go while it closes, and another thread's collection must
    // not visit a Session being destroyed.
    type->tp_dealloc = [](PyObject* self) {
        PyObject_GC_UnTrack(self);
        py::detail::pybind11_object_dealloc(self);
    };
}

void AddDepthQueue(py::module_& m)
{
    py::class_<DepthQueue, std::shared_ptr<DepthQueue>>(
        m, "DepthQueue", "Depth records waiting for Python readers, and where they wait.")
        .def("next_depth", [](DepthQueue& q, py::object t) { return q.Next(Seconds(t)); })
        .def("take_batch",
             [](DepthQueue& q, std::size_t max, py::object t, std::size_t least, bool withTime) {
                 return q.TakeBatch(max, Seconds(t), least, withTime);
             })
        .def(
            "arm", [](DepthQueue& q, std::size_t least) { q.Room().Arm(least); },
            "The next change (or `least` queued records) makes fileno() readable once.")
        .def("fileno", [](DepthQueue& q) { return q.Room().Fd(); })
        .def("drain", [](DepthQueue& q) { q.Room().Drain(); })
        .def_property_readonly("closed", &DepthQueue::Closed)
        .def_property_readonly("queued", &DepthQueue::Queued)
        .def_property_readonly("waiting", &DepthQueue::Waiting)
        .def_property_readonly("received", &DepthQueue::Received)
        .def_property_readonly("dropped", &DepthQueue::Dropped)
        .def_property_readonly("consumed", &DepthQueue::Consumed)
        .def("counters", &DepthQueue::Counters)
        .def_property_readonly("allocated", &DepthQueue::Allocated)
        .def_property_readonly("queue_size", &DepthQueue::Capacity);
}

void AddSession(py::module_& m)
{
    py::class_<Session, std::shared_ptr<Session>>(m, "Session", py::custom_type_setup(CollectableSession))
        .def(py::init(&MakeSession), py::arg("fronts"), py::arg("broker"), py::arg("user"),
             py::arg("password"), py::arg("queue_size"), py::arg("event_queue_size"), py::arg("encoding"),
             py::arg("depth_callback"), py::arg("event_callback"), py::arg("push_kinds"),
             py::arg("call_kinds"), py::arg("links") = 1, py::arg("capture_dir") = "",
             py::arg("capture_writer") = "")
        .def("close", &Session::Close)
        .def("forget_after_fork", &Session::ForgetAfterFork)
        .def_property_readonly("closed", &Session::Closed)
        .def_property_readonly("depth", &Session::Depth)
        .def(
            "request",
            [](Session& s, const py::bytes& ids, bool forQuote, bool subscribe) {
                if (s.Closed())
                    throw ClosedError("the client is closed");
                std::string mine = ids; // one copy; the rest with the GIL let go
                GilRelease unlocked;
                return s.Request(mine, forQuote, subscribe);
            },
            py::arg("ids"), py::arg("for_quote"), py::arg("subscribe"))
        .def("next_event", [](Session& s, py::object t) { return s.NextEvent(Seconds(t)); })
        .def("wait_login", [](Session& s, py::object t) { return s.WaitLogin(Seconds(t)); })
        .def("join", [](Session& s, py::object t) { return s.Join(Seconds(t)); })
        .def_property_readonly("events_queued", &Session::EventsQueued)
        .def_property_readonly("events_dropped", &Session::EventsDropped)
        .def_property_readonly("callback_errors", &Session::CallbackErrors)
        .def_property_readonly("connected", &Session::Connected)
        .def_property_readonly("logged_in", &Session::LoggedIn)
        .def_property_readonly("last_reason", &Session::LastReason)
        .def("link_counters", &Session::LinkCounters)
        .def("capture_stats", &Session::CaptureCounters);
}

#ifdef MDLINK_CAPTURE
void AddCapture(py::module_& m)
{
    py::register_exception<CaptureFault>(m, "CaptureError", PyExc_ValueError);
    py::class_<CaptureRows>(m, "CaptureRows", py::buffer_protocol(),
                            "Rows read from capture files, for numpy.")
        .def_buffer([](CaptureRows& r) {
            return py::buffer_info(r.Data(), 1, py::format_descriptor<unsigned char>::format(), 1,
                                   {static_cast<py::ssize_t>(r.Size())}, {1});
        })
        .def("__len__", &CaptureRows::Size);
    py::class_<CaptureScan>(m, "CaptureScan",
                            "Depth records of capture files, in rows of a record and its time.")
        .def(py::init([](std::vector<std::string> paths, std::vector<py::bytes> ids, std::int64_t start,
                         std::int64_t end) {
                 CaptureFilter f;
                 f.start = start;
                 f.end = end;
                 for (const py::bytes& id : ids)
                     f.instruments.push_back(id);
                 return new CaptureScan(std::move(paths), std::move(f));
             }),
             py::arg("paths"), py::arg("instruments"), py::arg("start"), py::arg("end"))
        .def("take", &CaptureScan::Take, py::arg("max_records"));
    m.def(
        "read_capture",
        [](const std::vector<std::string>& paths, const std::vector<py::bytes>& ids, std::int64_t start,
           std::int64_t end, unsigned threads) {
            CaptureFilter f;
            f.start = start;
            f.end = end;
            for (const py::bytes& id : ids)
                f.instruments.push_back(id);
            return ReadAllRows(paths, f, threads);
        },
        py::arg("paths"), py::arg("instruments"), py::arg("start"), py::arg("end"), py::arg("threads"));
    m.def("capture_index", &CaptureIndex, py::arg("path"),
          "capture_index(path) -> (header, [(offset, first_ns, last_ns, records, compressed_bytes, "
          "raw_bytes)], fault or '')");
    m.def("write_capture", &WriteCapture, py::arg("directory"), py::arg("rows"), py::arg("writer"),
          py::arg("fronts"));
    m.attr("CAPTURE_ROW_SIZE") = CaptureScan::RowSize;
}
#endif

} // namespace

} // namespace mdpy

PYBIND11_MODULE(_core, m)
{
    m.doc() = "The compiled part of mdlink: one client of the market-data library per Session.";
    if (!mdpy::AddRecordTypes(m.ptr()))
        throw py::error_already_set();
    py::register_exception<mdpy::ClosedError>(m, "ClosedError", PyExc_RuntimeError);
    m.attr("__version__") = MDLINK_VERSION;
    py::list lateBounds;
    for (unsigned int bound : mdlink::RedundantLateBoundsUs)
        lateBounds.append(bound);
    m.attr("LATE_BOUNDS_US") = py::tuple(lateBounds);
    m.def(
        "api_version", [] { return std::string(CThostFtdcMdApi::GetApiVersion()); },
        "The library's version text.");
    m.def(
        "members",
        [](const std::string& name) {
            static const char* const names[] = {"Depth", "LoginResponse", "RspInfo", "ForQuote"};
            for (int i = 0; i < 4; ++i)
                if (name == names[i])
                    return py::reinterpret_steal<py::object>(
                        mdpy::MemberTable(static_cast<mdpy::RecordKind>(i)));
            throw py::key_error(name);
        },
        "members(record) -> [(name, kind, offset, size)] of a record type.");
    mdpy::AddDepthQueue(m);
    mdpy::AddSession(m);
#ifdef MDLINK_WITH_NATS
    mdpy::AddBusSession(m); // BusReader: built where libnats is found
    m.attr("has_bus") = true;
#else
    m.attr("has_bus") = false;
#endif
#ifdef MDLINK_CAPTURE
    mdpy::AddCapture(m); // capture files: built where libzstd is found
    m.attr("has_capture") = true;
#else
    m.attr("has_capture") = false;
#endif
}
