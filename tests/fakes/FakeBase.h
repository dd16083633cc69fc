// A link-time fake of the asynchronous base services, for unit tests.
//
// It records every Connect, Close, SetReconnectAddr and Abort, every frame
// given to SendData (which refuses while not connected, and which a test can
// make refuse), every SetTimer and
// ClearTimer against a virtual clock that the test advances, and every Trace
// line. The test plays the base layer's loop: it delivers connection events,
// feeds bytes through OnRecvBuffer/OnRecvData in any chunking, fires due
// timers and runs what was posted to the loop. Strings, field splitting and
// addresses are the real ones.
#pragma once

#include "KelvoBase.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace fake {

struct ConnectCall {
    Kelvo_TcpClientHandler* handler;
    std::string host;
    int port;
};

struct SentFrame {
    Kelvo_TcpClientHandler* handler;
    std::string bytes;
};

struct TimerCall {
    Kelvo_Timer* owner;
    unsigned int id;
    unsigned int ms; // SetTimer only
    int user;        // SetTimer only
};

struct PendingTimer {
    Kelvo_Timer* owner;
    unsigned int id;
    int user;
    std::uint64_t due;
};

struct TraceLine {
    Kelvo_Log* log;
    int level;
    std::string text;
};

struct LogSetup {
    Kelvo_Log* log;
    int mode;
    std::string dir;
    std::string name;
    int keepDays;
};

class World {
public:
    static World& Get();
    // Forgets everything recorded; objects still alive stay registered.
    void Reset();
    // Reset, and no timer pending, the clock back at 0: what every test
    // starts from (done before each test by the fake itself).
    void Restart();

    // --- network ---
    std::vector<Kelvo_TcpClientHandler*> handlers; // alive, in creation order
    std::vector<ConnectCall> connects;
    std::vector<Kelvo_TcpClientHandler*> closes;
    std::vector<ConnectCall> reconnectAddrs;
    std::vector<Kelvo_TcpClientHandler*> aborts;
    std::vector<SentFrame> sent;
    // SendData results to use, one per call, before falling back to sendResult.
    std::deque<int> sendScript;
    int sendResult = 1;
    int refusedSends = 0;
    // Virtual time each SendData call takes.
    std::uint64_t sendCost = 0;

    // --- timers, on the virtual clock (ms) ---
    std::uint64_t now = 0;
    std::vector<TimerCall> sets;
    std::vector<TimerCall> clears;
    std::vector<PendingTimer> pending;
    // SetTimer fails (std::bad_alloc), as the real one does without memory
    // for a timer.
    bool failSetTimer = false;
    // Moves the clock forward, firing every due timer in deadline order.
    void Advance(std::uint64_t ms);
    // The pending timers of one object.
    std::vector<PendingTimer> PendingOf(const Kelvo_Timer* owner) const;

    // --- logs ---
    std::vector<LogSetup> logs; // of the logs alive, and of those gone since the last Reset
    LogSetup& SetupOf(const Kelvo_Log* log);
    std::vector<TraceLine> lines;
    // Off: Trace keeps nothing and formats nothing (for the fuzz targets,
    // which read no line). Back on at Restart.
    bool recordLines = true;
    std::vector<std::string> LinesOf(const Kelvo_Log* log) const;
    std::vector<std::string> Texts() const;

    // --- the loop ---
    // True while the test plays the loop (delivering a callback).
    bool inLoop = false;
    std::vector<std::function<void()>> posted;
    int loopCalls = 0;
    // Kelvo_LOOP_Call fails before running anything (std::bad_alloc).
    bool failLoopCalls = false;
    void RunPosted();
    // Kelvo_LOOP_Generation: a test bumps it to play a fork.
    unsigned int forkGeneration = 0;

    unsigned int nextTimerId = 0;
};

// Plays the loop delivering one callback: Kelvo_LOOP_InThread is true inside.
void InLoop(const std::function<void()>& fn);

// Connection events, delivered as the loop would. The ones that return a
// delay return it here.
void ConnectOk(Kelvo_TcpClientHandler* handler);
int ConnectFail(Kelvo_TcpClientHandler* handler, int reason);
int Disconnect(Kelvo_TcpClientHandler* handler, int reason);

// Received bytes, offered to the handler exactly as the base layer does:
// ready bytes accumulate, and the handler takes what it asks for.
void Feed(Kelvo_TcpClientHandler* handler, const std::string& bytes);
void Feed(Kelvo_TcpClientHandler* handler, const char* bytes, std::size_t size);
// The same bytes in chunks of the given sizes (the last size repeats).
void FeedChunked(Kelvo_TcpClientHandler* handler, const std::string& bytes,
                 const std::vector<std::size_t>& chunks);
// Bytes received but not yet taken by the handler.
std::size_t Unread(const Kelvo_TcpClientHandler* handler);
bool IsConnected(const Kelvo_TcpClientHandler* handler);

} // namespace fake
