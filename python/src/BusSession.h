// A reader of the bus for Python: the records mdrelay publishes, read back
// from the JetStream stream and queued for Python's tick readers exactly as
// the library's client queues its own, with the relay's receive time.
//
//   NATS client threads                      Python threads / asyncio
//   -------------------                      ------------------------
//   BusConsumer: depth record -> DepthQueue --> Next / TakeBatch (GIL let go)
//   to_end: all stored read -> queue closed --> readers end once drained
//
// Nothing here takes the GIL: the queue's producer side needs none.
#pragma once

#include "BusConsumer.h"
#include "BusOptions.h"
#include "DepthQueue.h"
#include "NatsLink.h"

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace mdpy {

// Why a reader could not start (no server, refused login, no stream).
struct BusError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct BusReaderOptions {
    mdrelay::BusOptions bus;              // servers, stream, prefix, credentials
    std::vector<std::string> instruments; // none: every depth record
    mdrelay::ReadStart start;
    std::string durable;
    bool toEnd = false;
    std::size_t queueSize = 65536;
    pybind11::object encoding;
};

class BusSession {
public:
    explicit BusSession(BusReaderOptions o); // GIL held: the queue keeps the encoding
    ~BusSession();

    // Connects and starts reading; throws BusError saying why not. Call
    // without the GIL.
    void Start();
    // Idempotent, from any thread, without the GIL: no callback runs after it.
    void Close();
    bool Closed() const { return closed_.load(); }
    // In a child made by fork(): the parent's connection is not touched;
    // the reader is closed, with nothing of the parent's queued.
    void ForgetAfterFork();

    const std::shared_ptr<DepthQueue>& Depth() const { return depth_; }
    bool AtEnd() const { return consumer_ && consumer_->AtEnd(); }
    std::uint64_t Skipped() const { return consumer_ ? consumer_->Skipped() : 0; }

private:
    void Take(const mdrelay::BusDelivery& d);

    BusReaderOptions opt_;
    std::shared_ptr<DepthQueue> depth_;
    // Pointers, so that a fork() child can let go of the parent's without
    // running their teardown (its threads are not there).
    std::unique_ptr<mdrelay::NatsLink> link_;
    std::unique_ptr<mdrelay::BusConsumer> consumer_;
    std::atomic<bool> closed_{false};
};

// Adds BusSession to the module, and has_bus.
void AddBusSession(pybind11::module_& m);

} // namespace mdpy
