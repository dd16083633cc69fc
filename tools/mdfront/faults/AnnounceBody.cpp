// After a successful login, a depth header announcing an oversized body,
// a few KiB of it, then silence.
#include "FaultKit.h"
#include "Faults.h"

#include "FrameBuilder.h"

#include <algorithm>

namespace mdfront {

namespace {

constexpr std::size_t AnnouncedBytesSent = 4096;

class AnnounceBody : public Fault {
public:
    explicit AnnounceBody(std::uint32_t length) : length_(length) {}
    void AfterLogin(FaultHost& host) override
    {
        if (!host.Sending())
            return;
        Bytes filler = host.RandomBytes(std::min<std::size_t>(length_, AnnouncedBytesSent));
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
    std::uint32_t length_;
};

} // namespace

FaultKind AnnounceBodyFault()
{
    return {{{"announce-body", "BYTES", "fault: after login, send a depth header announcing"
              " BYTES of body (e.g. 2097152), up to 4 KiB of them, then go silent",
              CountInto(&FrontFaults::announce_body_length, 1, 0xFFFFFFFFu)}},
            WhenSet<AnnounceBody>(&FrontFaults::announce_body_length)};
}

} // namespace mdfront
