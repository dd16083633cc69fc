// FrameReader: frames out of a byte stream, with no I/O.
//
// Whoever reads the link asks Next where to put the next bytes and how many
// of those ready to take, copies exactly that many there, and tells Took. A
// header is asked for only when all 24 bytes are ready, a body only when all
// of it is, each in one read; a count of 0 asks for nothing yet.
//
//   state        event                                      next state
//   WaitHeader   Next, 24 or more ready: asks for 24        HeaderAsked
//   HeaderAsked  Took, BodyLength 0: HeartBeat              WaitHeader
//   HeaderAsked  Took, BodyLength over 1 MiB: TooLarge      Corrupt
//   HeaderAsked  Took, any other BodyLength: None           WaitBody
//   WaitBody     Next, BodyLength or more ready: asks all   BodyAsked
//   BodyAsked    Took: Body                                 WaitHeader
//   Corrupt      Next: asks for nothing                     Corrupt
//   any          Reset                                      WaitHeader
//
// Each Next answers anew (in HeaderAsked as in WaitHeader, in BodyAsked as
// in WaitBody; an answer of 0 withdraws the one before); a Took that no Next
// asked for is None and changes nothing.
//
// Bodies up to 800 bytes land in a buffer inside the reader, larger ones in
// a spill buffer made once the whole body is ready, kept while bodies that
// fit it follow and given back by Reset. A body announced over 1 MiB leaves
// no way to find the next frame: the reader asks for nothing more until
// Reset. The header and the body stay readable until the next Took.
#pragma once

#include "wire/FrameHeader.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace mdlink {

class FrameReader {
public:
    static constexpr std::uint32_t BodyBufferSize = 800;
    // Larger announced bodies mean the stream is corrupt.
    static constexpr std::uint32_t MaxBodyLength = 1024 * 1024;
    // A header and one byte more, never written: the size the header has
    // always been read into.
    static constexpr std::uint32_t HeaderStoreSize = FrameHeaderSize + 1;

    enum class State { WaitHeader, HeaderAsked, WaitBody, BodyAsked, Corrupt };
    enum class Event { None, HeartBeat, Body, TooLarge };

    FrameReader() : HeaderStore(new char[HeaderStoreSize]) {}
    FrameReader(const FrameReader&) = delete;
    FrameReader& operator=(const FrameReader&) = delete;

    // Given in size the count of bytes ready, returns where to put the next
    // ones and leaves in size how many to put there (0: none yet). Throws
    // std::bad_alloc, the reader unchanged, when a large body's buffer
    // cannot be made.
    char* Next(long& size)
    {
        switch (Now) {
        case State::WaitHeader:
        case State::HeaderAsked:
            if (size >= static_cast<long>(FrameHeaderSize)) {
                size = static_cast<long>(FrameHeaderSize);
                Now = State::HeaderAsked;
            } else {
                size = 0;
                Now = State::WaitHeader;
            }
            return HeaderStore.get();
        case State::WaitBody:
        case State::BodyAsked:
            if (size < static_cast<long>(Length)) {
                // Nothing is put there; a big body's buffer may not exist yet.
                size = 0;
                Now = State::WaitBody;
                return BodyStore;
            }
            if (Length > BodyBufferSize && Spill.size() < Length)
                MakeSpill();
            size = static_cast<long>(Length);
            Now = State::BodyAsked;
            return Body();
        case State::Corrupt: break;
        }
        size = 0;
        return HeaderStore.get();
    }

    // The bytes the last Next asked for are there.
    Event Took()
    {
        switch (Now) {
        case State::HeaderAsked:
            Current = DecodeHeader(reinterpret_cast<const unsigned char*>(HeaderStore.get()));
            Length = Current.BodyLength;
            if (Length == 0) {
                Now = State::WaitHeader;
                return Event::HeartBeat;
            }
            if (Length > MaxBodyLength) {
                Now = State::Corrupt;
                return Event::TooLarge;
            }
            Now = State::WaitBody;
            return Event::None;
        case State::BodyAsked: Now = State::WaitHeader; return Event::Body;
        default: return Event::None;
        }
    }

    // Back to a new stream's start: a big body's buffer goes too, as kept it
    // would stay resident for a body that may never come again.
    void Reset();

    State GetState() const { return Now; }
    // The last header taken; its BodyLength is BodyLength().
    const FrameHeader& Header() const { return Current; }
    std::uint32_t BodyLength() const { return Length; }
    // Where the current body is (or goes).
    char* Body() { return Length <= BodyBufferSize ? BodyStore : Spill.data(); }

private:
    void MakeSpill();

    std::unique_ptr<char[]> HeaderStore;
    alignas(8) char BodyStore[BodyBufferSize];
    State Now = State::WaitHeader;
    std::uint32_t Length = 0;
    FrameHeader Current;
    std::vector<char> Spill;
};

} // namespace mdlink
