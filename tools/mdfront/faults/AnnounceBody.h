// After a successful login, a depth header announcing an oversized body,
// a few KiB of it, then silence.
#pragma once

#include "FaultKit.h"
#include "FrameBuilder.h"

#include <algorithm>

namespace mdfront {

class AnnounceBody : public Fault {
public:
    struct Settings {
        // After a successful login: a depth header announcing this many body
        // bytes, a few KiB of them, then silence.
        std::uint32_t announce_body_length = 0;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"announce-body", "BYTES",
                  "fault: after login, send a depth header announcing"
                  " BYTES of body (e.g. 2097152), up to 4 KiB of them, then go silent",
                  CountInto(&Settings::announce_body_length, 1, 0xFFFFFFFFu)}},
                WhenSet<AnnounceBody>(&Settings::announce_body_length)};
    }

    explicit AnnounceBody(std::uint32_t length) : length_(length) {}
    void AfterLogin(FaultHost& host) override
    {
        if (!host.Sending())
            return;
        Bytes filler = host.RandomBytes(std::min<std::size_t>(length_, BytesSent));
        Bytes bytes = MakeFrame(mdlink::MsgDepthMarketData, 0, false, filler);
        mdlink::FrameHeader h = mdlink::DecodeHeader(bytes.data());
        h.BodyLength = length_;
        mdlink::EncodeHeader(h, bytes.data());
        SentFrame rec;
        rec.kind = SentKind::Announce;
        rec.header = h;
        host.QueueFaultBytes(std::move(bytes), std::move(rec), "announce-body fault");
        host.GoSilent("announced an oversized body");
    }

private:
    static constexpr std::size_t BytesSent = 4096;
    std::uint32_t length_;
};

} // namespace mdfront
