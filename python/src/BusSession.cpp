#include "BusSession.h"

#include "Quantities.h"
#include "Subjects.h"

#include <pybind11/stl.h>

#include <cstring>
#include <stdexcept>

namespace py = pybind11;

namespace mdpy {

namespace {

// Depth records only: for-quote notices have a subject token more.
std::vector<std::string> Filters(const BusReaderOptions& o)
{
    std::vector<std::string> filters;
    for (const std::string& id : o.instruments)
        filters.push_back(mdrelay::DepthFilter(o.bus.prefix, id));
    if (filters.empty())
        filters.push_back(o.bus.prefix + ".*.*");
    return filters;
}

} // namespace

BusSession::BusSession(BusReaderOptions o)
    : opt_(std::move(o)), depth_(std::make_shared<DepthQueue>(opt_.queueSize, opt_.encoding)),
      link_(std::make_unique<mdrelay::NatsLink>()),
      consumer_(std::make_unique<mdrelay::BusConsumer>(
          [this](const mdrelay::BusDelivery& d) { Take(d); },
          [this] {
              if (opt_.toEnd)
                  depth_->Close(); // readers end once they have what is queued
          }))
{}

BusSession::~BusSession()
{
    py::gil_scoped_release free;
    Close();
}

void BusSession::Take(const mdrelay::BusDelivery& d)
{
    if (d.info.kind != mdrelay::RecordKind::Depth)
        return;
    mdpy::Depth depth;
    std::memcpy(&depth, d.payload, sizeof depth);
    depth_->Push(depth, d.info.recvNs);
}

void BusSession::Start()
{
    std::string error;
    if (!mdrelay::CheckBusOptions(opt_.bus, error) || !link_->Connect(opt_.bus, error))
        throw BusError(error);
    mdrelay::ConsumerSpec spec;
    spec.stream = opt_.bus.stream;
    spec.filters = Filters(opt_);
    spec.start = opt_.start;
    spec.durable = opt_.durable;
    if (!consumer_->Start(link_->Connection(), spec, error)) {
        link_->Close();
        throw BusError(error);
    }
}

void BusSession::Close()
{
    if (closed_.exchange(true))
        return;
    consumer_->Stop();
    link_->Close();
    depth_->Close(); // blocked readers return
}

void BusSession::ForgetAfterFork()
{
    closed_ = true;
    // Their teardown would wait for the parent's threads: let them go.
    (void)link_.release();
    (void)consumer_.release();
    depth_->ForgetAfterFork();
}

void AddBusSession(py::module_& m)
{
    py::register_exception<BusError>(m, "BusError", PyExc_ConnectionError);
    py::class_<BusSession, std::shared_ptr<BusSession>>(
        m, "BusSession", "Depth records read back from the stream mdrelay publishes into.")
        .def(py::init([](std::vector<std::string> servers, std::string stream, std::string prefix,
                         std::vector<std::string> instruments, std::string from, std::int64_t timeNs,
                         std::uint64_t last, std::string durable, bool toEnd, std::size_t queueSize,
                         py::object encoding, py::dict login) {
            BusReaderOptions o;
            o.bus.servers = std::move(servers);
            o.bus.stream = std::move(stream);
            o.bus.prefix = std::move(prefix);
            o.bus.name = login["name"].cast<std::string>();
            o.bus.user = login["user"].cast<std::string>();
            o.bus.password = login["password"].cast<std::string>();
            o.bus.token = login["token"].cast<std::string>();
            o.bus.credsFile = login["creds"].cast<std::string>();
            o.bus.tlsCa = login["tls_ca"].cast<std::string>();
            o.bus.tlsCert = login["tls_cert"].cast<std::string>();
            o.bus.tlsKey = login["tls_key"].cast<std::string>();
            o.bus.tls = login["tls"].cast<bool>();
            o.instruments = std::move(instruments);
            using From = mdrelay::ReadStart::From;
            o.start.from = from == "all" ? From::All
                : from == "time"         ? From::Time
                : from == "last"         ? From::Last
                                         : From::New;
            o.start.timeNs = timeNs;
            o.start.last = last;
            o.durable = std::move(durable);
            o.toEnd = toEnd;
            o.queueSize = queueSize;
            o.encoding = std::move(encoding);
            auto s = std::make_shared<BusSession>(std::move(o));
            {
                py::gil_scoped_release free;
                s->Start();
            }
            return s;
        }))
        .def("close", &BusSession::Close, py::call_guard<py::gil_scoped_release>())
        .def("forget_after_fork", &BusSession::ForgetAfterFork)
        .def_property_readonly("closed", &BusSession::Closed)
        .def_property_readonly("depth", &BusSession::Depth)
        .def_property_readonly("at_end", &BusSession::AtEnd)
        .def_property_readonly("skipped", &BusSession::Skipped);
    m.def(
        "parse_time",
        [](const std::string& text, std::int64_t nowNs) -> py::object {
            std::int64_t ns = 0;
            if (!mdrelay::ParseTime(text, nowNs, ns))
                return py::none();
            return py::int_(ns);
        },
        "ns since the epoch of a time as mdrelay --since takes it, or None.");
}

} // namespace mdpy
