// A fault is one header here: its settings, its command-line flags (name,
// value parsing, help) and its hooks at the points where a session writes.
// FrontFaults holds every fault's settings; the session builds the faults
// they turn on and calls every hook in registry order. Adding a fault is its
// file and its line in FaultRegistry.h's list (with the file's #include).
//
//   accept ------> OnAccept
//   login check -> RefusesLogin
//   login ok ----> AfterLogin                (once per connection)
//   each body ---> ShapeBody                 (cut short, pad)
//   each frame --> TakeFrame, then AfterFrame (when it went out whole)
//   each write --> ByteDelay                 (one byte per send)
#pragma once

#include "FrontRecord.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mdfront {

// What a fault may do to its session. All on the session's thread.
class FaultHost {
public:
    // Whole frames queued so far, heartbeat replies included.
    virtual std::uint64_t FramesQueued() const = 0;
    // Neither silent nor closing: what is queued now goes out.
    virtual bool Sending() const = 0;
    virtual void GoSilent(const std::string& why) = 0;
    virtual void CloseAfterDrain(const std::string& why) = 0;
    // A whole frame, counted and subject to every fault like any other.
    virtual void QueueWholeFrame(Bytes frame) = 0;
    // Bytes that break the stream: from here on the stats count a fault.
    virtual void QueueFaultBytes(Bytes bytes, SentFrame record, const std::string& fault) = 0;
    virtual Bytes RandomBytes(std::size_t n) = 0;
    // Runs act after the delay unless the connection has closed by then.
    virtual void After(std::chrono::milliseconds delay, std::function<void()> act) = 0;

protected:
    ~FaultHost() = default;
};

enum class BodyKind { Login, Instrument, ForQuote, Depth };

// How a body goes out; 0 leaves it as built.
struct BodyShape {
    std::size_t cut_to = 0; // cut short to this many bytes (binary bodies)
    std::size_t pad_to = 0; // padded to this many bytes (depth bodies)
};

// One fault acting on one connection. Every hook does nothing by default.
class Fault {
public:
    virtual ~Fault() = default;
    virtual void OnAccept(FaultHost&) {}
    virtual bool RefusesLogin() const { return false; }
    virtual void AfterLogin(FaultHost&) {}
    // firstDepth: the connection's first depth body.
    virtual void ShapeBody(BodyKind, bool /*firstDepth*/, BodyShape&) const {}
    // A whole frame about to be queued; true when the fault has queued
    // something else in its place.
    virtual bool TakeFrame(FaultHost&, Bytes& /*frame*/, SentFrame& /*record*/) { return false; }
    virtual void AfterFrame(FaultHost&) {}
    virtual std::optional<std::chrono::microseconds> ByteDelay() const { return std::nullopt; }
};

// A fault's flag, parsed into its own settings S.
template <class S>
struct FlagOf {
    const char* name;
    const char* value; // nullptr: a switch without a value
    const char* help;
    std::function<bool(const std::string& value, S& out)> parse;
};

// What a fault's file gives the registry: its flags, and the fault for one
// connection, or null when the settings leave it off.
template <class S>
struct EntryOf {
    std::vector<FlagOf<S>> flags;
    std::function<std::unique_ptr<Fault>(const S&)> make;
};

// Every fault's settings (FaultRegistry.h).
struct FrontFaults;

// A registry entry over all the settings.
using FaultFlag = FlagOf<FrontFaults>;
using FaultKind = EntryOf<FrontFaults>;

// Every fault, in the order their hooks run and --help lists them.
const std::vector<FaultKind>& FaultKinds();

// The faults settings turn on, in registry order.
std::vector<std::unique_ptr<Fault>> MakeFaults(const FrontFaults& settings);

} // namespace mdfront
