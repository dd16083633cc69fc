// What a FrontServer remembers of each connection, for tests to compare the
// two ends of a link.
#pragma once

#include "FrameBuilder.h"
#include "MdApi.h"
#include "wire/FrameHeader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mdfront {

struct ReceivedFrame {
    mdlink::FrameHeader header;
    Bytes body;
};

enum class SentKind {
    Frame,        // a whole frame
    PartialFrame, // header and part of the body, then the link was closed
    Garbage,      // random bytes
    Announce,     // a header announcing an oversized body, and some of it
    Raw,          // bytes a test asked for with SendRaw
};

struct SentFrame {
    SentKind kind = SentKind::Frame;
    mdlink::FrameHeader header; // meaningless for Garbage and Raw
    Bytes bytes;                // everything queued, header included
    // The record a depth frame was built from (its body may be text, cut
    // short or padded); see DepthText.h for what a client makes of it.
    bool has_depth = false;
    CThostFtdcDepthMarketDataField depth{};

    Bytes Body() const;
};

struct ConnectionStats {
    std::string peer;
    bool open = true;
    std::string close_reason;
    bool logged_in = false;
    std::string user;
    bool silent = false;
    std::vector<std::string> subscribed;          // market data, in order
    std::vector<std::string> forquote_subscribed; // for-quote notices
    std::uint64_t frames_received = 0;
    std::uint64_t heartbeats_received = 0;
    std::uint64_t frames_sent = 0; // whole frames queued
    std::uint64_t depth_sent = 0;
    std::uint64_t forquote_sent = 0;
    std::uint64_t frames_suppressed = 0; // dropped because silent or closing
    std::uint64_t bytes_written = 0;     // confirmed by the socket
    std::uint64_t write_calls = 0;

    // With FrontConfig::stamp_sequence. "Written" is handed whole to the
    // socket; a record whose write a close cut short may still arrive.
    std::uint64_t stamp_written = 0; // last number written
    // Last number written before the first byte of a stream fault: random
    // or raw bytes, a cut frame, an oversized announcement, silence, or
    // the end of sending (a close, for whatever reason, or Stop). Equal to
    // stamp_written while no such fault has begun.
    std::uint64_t stamp_before_fault = 0;
    bool faulted = false;
    std::string fault; // what began it
    // The socket is closed, and whether everything written had reached
    // the client's end then (the client's end of stream was read, or the
    // kernel held no unacknowledged bytes). When false, records written
    // last may be lost in a reset.
    bool socket_closed = false;
    bool all_acknowledged = false;
};

struct ConnectionRecord {
    ConnectionStats stats;
    std::vector<ReceivedFrame> received; // up to the record limit
    std::vector<SentFrame> sent;         // up to the record limit
};

} // namespace mdfront
