// One client connection of the front: reads request frames and answers
// them, pushes depth data and for-quote notices for what the client has
// subscribed, and injects the configured faults. Lives on the server's
// io_context thread; every handler holds a shared_ptr to it.
//
//   accepted --login ok--> logged in --subscribe--> pushing
//       |                      |                       |
//       +---- EOF / error / fault / Stop ------------> closed
//   "silent" (a fault) stops all sending in any state; reading goes on.
#pragma once

#include "CaptureBook.h"
#include "DelayLine.h"
#include "FrontConfig.h"
#include "FrontRecorder.h"
#include "InstrumentFeed.h"
#include "ReplayBook.h"
#include "SharedFeed.h"
#include "faults/Fault.h"

#include <asio.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace mdfront {

// What all sessions of one server share; read-only once the server runs.
struct SessionContext {
    FrontConfig config;
    FrontRecorder* recorder = nullptr;
    std::shared_ptr<const ReplayBook> replay;
    std::shared_ptr<const CaptureBook> capture;
    bool any_instrument = false;
    std::map<std::string, std::string> known; // instrument id -> exchange
    std::string trading_day;
};

class FrontSession final : public std::enable_shared_from_this<FrontSession>, private FaultHost {
public:
    FrontSession(asio::ip::tcp::socket socket, std::shared_ptr<const SessionContext> context,
                 std::size_t index, FrontFaults faults);

    void Start();
    // The three below may be called from any thread; they post to the
    // session's thread.
    void PostClose(const std::string& reason);
    void PostSilent();
    void PostRaw(Bytes bytes);
    void PostAbort(); // closes at once, dropping what is queued
    // On the session's thread, when the server stops: ends sending after
    // what is queued, or closes at once.
    void DrainForStop() { CloseAfterDrain("front stopped"); }
    void CloseNowForStop() { CloseNow("front stopped"); }

private:
    // Bytes waiting for the socket, with what the stats learn once they
    // have been written whole.
    struct Queued {
        Bytes bytes;
        std::uint64_t stamp = 0; // of a whole depth frame, else 0
        bool afterFault = false;
    };

    struct Subscription {
        std::string id;
        std::chrono::steady_clock::time_point start;
        std::uint64_t sent = 0;
        std::int64_t nextSlot = 0; // shared feed: the next slot to send
    };

    // Reading and answering (FrontSession.cpp).
    void ReadHeader();
    void ReadBody();
    void Dispatch(const mdlink::FrameHeader& header, Bytes body);
    void OnLogin(const mdlink::FrameHeader& header, const Bytes& body);
    int CheckLogin(const CThostFtdcReqUserLoginField& req, std::string& message) const;
    void OnInstrumentList(const mdlink::FrameHeader& header, const Bytes& body);
    int ApplyInstrument(std::uint32_t requestType, const std::string& id, std::string& message);
    void Event(const std::string& text) const;

    // Writing and faults (FrontSessionWrite.cpp).
    void QueueFrame(Bytes frame, SentFrame record);
    void QueueBytes(Bytes bytes, SentFrame record, std::uint64_t stamp = 0);
    void Enqueue(Queued q);
    void Written(const Queued& q, ConnectionStats& s) const;
    void FaultBegins(const std::string& what);
    void WriteNext();
    void OnWritten(const asio::error_code& ec, std::size_t n, std::size_t count);
    void OnTrickleWritten(const asio::error_code& ec);
    void AfterWrite();
    void AfterLoginFaults();
    BodyShape Shape(BodyKind kind, bool firstDepth = false) const;
    static void ApplyCut(Bytes& body, const BodyShape& shape);
    void HalfClose();
    void CloseNow(const std::string& reason);
    bool SendQueueEmpty();
    void DiscardUnread();
    void ReportClosed(const std::string& reason);

    // What faults may do (FaultHost, FrontSessionWrite.cpp).
    std::uint64_t FramesQueued() const override { return framesQueued_; }
    bool Sending() const override { return !silent_ && !closing_; }
    void GoSilent(const std::string& why) override;
    void CloseAfterDrain(const std::string& reason) override;
    void QueueWholeFrame(Bytes frame) override { QueueFrame(std::move(frame), SentFrame{}); }
    void QueueFaultBytes(Bytes bytes, SentFrame record, const std::string& fault) override;
    Bytes RandomBytes(std::size_t n) override;
    void After(std::chrono::milliseconds delay, std::function<void()> act) override;

    // Pushing (FrontSessionPush.cpp).
    void Subscribe(const std::string& id);
    void Unsubscribe(const std::string& id);
    void SubscribeForQuote(const std::string& id);
    void UnsubscribeForQuote(const std::string& id);
    bool MayPush() const;
    void PushDepth(const std::string& id);
    void PushRecord(CThostFtdcDepthMarketDataField d);
    void PushTick();
    void ArmPushTimer();
    void Flood();
    void PushForQuotes();
    void PushForQuote(const std::string& id);
    void ArmForQuoteTimer();
    InstrumentFeed& FeedOf(const std::string& id);
    std::string ExchangeOf(const std::string& id) const;

    // The shared feed (FrontSessionSlots.cpp).
    void PushSlots();
    void ArmSlotTimer();
    SlotFeed& SlotFeedOf(const std::string& id);
    std::chrono::steady_clock::duration UntilNextNotice() const;

    // Replaying capture files (FrontSessionReplay.cpp).
    void StartReplay();
    void PushCaptured();
    void ArmReplayTimer();
    // Fills the pending record from the files; false once they are done.
    bool NextCaptured();
    std::chrono::steady_clock::time_point DueOf(std::int64_t receiveNs) const;
    bool FloodsSocket() const;
    const Subscription* SubscriptionOf(const std::string& id) const;

    // Frames held back (FrontSessionDelay.cpp).
    void ArmDelayTimer();
    bool NothingQueued() const { return queue_.empty() && delayed_.Empty(); }

    asio::ip::tcp::socket socket_;
    std::shared_ptr<const SessionContext> ctx_;
    const FrontConfig& cfg_;
    FrontRecorder& rec_;
    const std::size_t index_;
    const int sessionId_;
    std::mt19937_64 rng_;

    std::array<unsigned char, mdlink::FrameHeaderSize> header_{};
    mdlink::FrameHeader current_;
    Bytes body_;

    const std::vector<std::unique_ptr<Fault>> faults_;
    const std::optional<std::chrono::microseconds> byteDelay_;
    std::deque<Queued> queue_;
    std::size_t queuedBytes_ = 0;
    std::size_t trickleOffset_ = 0;
    std::vector<asio::const_buffer> gather_;
    bool writing_ = false;
    std::uint64_t framesQueued_ = 0;
    bool silent_ = false;
    bool closing_ = false;
    bool closed_ = false;
    bool reportedClosed_ = false;
    bool faultBegun_ = false;
    bool halfClosed_ = false;
    bool peerEnded_ = false;
    std::uint64_t stamp_ = 0;
    std::string closeReason_;

    bool loggedIn_ = false;
    bool faultsDone_ = false;
    bool firstDepth_ = true;
    std::vector<Subscription> subs_;
    std::vector<std::string> forQuoteSubs_;
    std::map<std::string, InstrumentFeed> feeds_;
    std::vector<std::string> newForQuoteSubs_;
    std::uint64_t forQuoteSeq_ = 0;
    bool forQuoteArmed_ = false;
    std::optional<SlotClock> slots_;
    std::map<std::string, SlotFeed> slotFeeds_;
    std::unique_ptr<CapturePlayer> player_;
    std::chrono::steady_clock::time_point replayStart_;
    bool replayPending_ = false; // replayNs_ and replayDepth_ hold the next record
    bool replayDone_ = false;
    std::int64_t replayNs_ = 0;
    CThostFtdcDepthMarketDataField replayDepth_{};
    DelayLine<Queued> delayed_;
    bool delayArmed_ = false;

    asio::steady_timer pushTimer_;
    asio::steady_timer forQuoteTimer_;
    asio::steady_timer trickleTimer_;
    std::vector<std::unique_ptr<asio::steady_timer>> faultTimers_;
    asio::steady_timer closeTimer_;
    asio::steady_timer delayTimer_;
};

} // namespace mdfront
