// Everything a FrontServer can be told: where to listen, whom to accept,
// what to publish and how, and which faults to inject. The command line of
// mdfront maps onto it one to one; tests fill it directly.
#pragma once

#include "faults/FaultRegistry.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace mdfront {

// Body form of pushed depth records.
enum class DepthForm { Binary, Text, Joined };

struct InstrumentInfo {
    std::string id;
    std::string exchange;
};

struct FrontConfig {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0; // 0: an ephemeral port
    // Empty: any user and password log in.
    std::string user;
    std::string password;
    // Empty: every instrument id is known, on default_exchange.
    std::vector<InstrumentInfo> instruments;
    std::string default_exchange = "SHFE";
    // Depth records per second per subscribed instrument; 0 = as fast as
    // the socket takes them.
    double rate = 1.0;
    DepthForm form = DepthForm::Binary;
    // Fields of a text record; 59 to 63 are normal, fewer or more make
    // truncated or extended records.
    int text_fields = 63;
    // Text form: zero numbers go out as empty fields.
    bool text_empty_zeros = false;
    // A CSV file recorded by mdcli: replay it (looping) instead of the
    // random walk; its instruments become the known ones.
    std::string replay_file;
    // Capture files (mdcli --capture, mdrelay --capture) to replay once, in
    // the order given, instead of the random walk: each record byte for
    // byte, to every session subscribed to its instrument then, spaced as
    // it was received; their instruments become the known ones.
    std::vector<std::string> capture_files;
    // The capture's spacing divided by this; 0: as fast as the socket takes them.
    double replay_speed = 1.0;
    std::chrono::milliseconds forquote_interval{3000};
    // Empty: today's local date.
    std::string trading_day;
    int front_id = 1;
    std::uint64_t seed = 1;
    // Frames kept per direction per connection for inspection; counters
    // go on past it.
    std::size_t record_limit = 100000;
    // One line per connection event (accept, login, close); null = quiet.
    std::function<void(const std::string&)> on_event;
    // Each connection numbers the depth records it sends 1, 2, 3, ... and
    // carries the number in the record's Volume, which every body form
    // holds and a client decodes unchanged. ConnectionStats says which
    // numbers were written whole (stamp_written, stamp_before_fault).
    bool stamp_sequence = false;
    // Records tied to wall-clock slots of 1/rate seconds: every front with
    // the same seed serves the same record per instrument and slot, with the
    // slot's number in Volume (SharedFeed.h). Needs a rate above 0.
    bool shared_feed = false;
    // Every frame held back this long plus a uniform jitter up to `jitter`
    // before it goes out, in order (DelayLine.h); the jitter's own seed, 0
    // for a random one.
    std::chrono::microseconds delay{0};
    std::chrono::microseconds jitter{0};
    std::uint64_t jitter_seed = 0;
    FrontFaults faults;
    // The faults of one connection, asked on accept with its index; null:
    // every connection has `faults`. Runs on the server's thread.
    std::function<FrontFaults(std::size_t conn)> faults_of;
};

} // namespace mdfront
