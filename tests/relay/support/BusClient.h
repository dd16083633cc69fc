// The tests' own look into the stream, with the NATS client library alone
// (not mdrelay's reader, which is under test): its state, its leader, and
// every record it holds with its headers.
#pragma once

#include <nats/nats.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace relaytest {

struct StoredRecord {
    std::string subject;
    std::uint64_t streamSeq = 0;
    std::int64_t storedNs = 0; // the server's time stamp
    std::map<std::string, std::string> headers;
    std::string payload;
};

struct StreamState {
    bool exists = false;
    std::uint64_t messages = 0;
    std::uint64_t lastSeq = 0;
    std::string leader;
    std::string storage;
    int replicas = 0;
    std::int64_t maxAgeNs = 0;
};

class BusClient {
public:
    explicit BusClient(const std::string& urls);
    ~BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    bool Connected() const { return js_ != nullptr; }
    StreamState State(const std::string& stream);
    // Every record from the first, in stream order (an ordered consumer).
    std::vector<StoredRecord> ReadAll(const std::string& stream);
    bool Delete(const std::string& stream);
    // Asks the stream's leader to step down; another is elected.
    bool StepDown(const std::string& stream);
    jsCtx* JetStream() { return js_; }

private:
    natsConnection* nc_ = nullptr;
    jsCtx* js_ = nullptr;
};

// Client options for a comma-separated list of server URLs, reconnecting
// for as long as it lives; the caller destroys them.
natsOptions* ClientOptions(const std::string& urls);

// The numbers mdfront --stamp-sequence put in the Volume of depth records.
std::vector<int> Volumes(const std::vector<StoredRecord>& records);

} // namespace relaytest
