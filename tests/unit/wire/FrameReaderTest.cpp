// The frame reader alone: byte streams in every chunking, driven as the base
// layer drives the client, and what it asks for at each step.
#include "TestSupport.h"

#include "wire/FrameReader.h"

#include <algorithm>
#include <cstdio>

using namespace mdlink;
using test::Bytes;
using test::Frame;
using test::RawHeader;

namespace {

using Event = FrameReader::Event;
using State = FrameReader::State;

// Feeds a stream to a reader in chunks of the given sizes (the last one
// repeats), as the base layer does: after each chunk, asks and hands over
// until the reader wants more than is ready. Checks every answer against
// the stream's own bytes, and notes what the reader made of it.
class Driver {
public:
    explicit Driver(FrameReader& reader) : reader(reader) {}

    void Feed(const std::string& stream, const std::vector<std::size_t>& chunks = {})
    {
        std::size_t at = 0;
        for (std::size_t i = 0; at < stream.size(); ++i) {
            const std::size_t chunk = chunks.empty() ? stream.size() : chunks[std::min(i, chunks.size() - 1)];
            ready += stream.substr(at, chunk);
            at += chunk;
            Drain();
        }
    }

    std::vector<std::string> seen;
    std::string ready; // bytes arrived and not taken

private:
    void Drain()
    {
        for (;;) {
            long size = static_cast<long>(ready.size());
            char* where = reader.Next(size);
            ASSERT_NE(where, nullptr);
            const std::size_t wanted = Wanted();
            if (ready.size() < wanted || wanted == 0) {
                ASSERT_EQ(size, 0) << "asked for more than is there, or for something unannounced";
                return;
            }
            ASSERT_EQ(static_cast<std::size_t>(size), wanted) << "a header or a body, whole";
            std::memcpy(where, ready.data(), wanted);
            const std::string taken = ready.substr(0, wanted);
            ready.erase(0, wanted);
            Note(reader.Took(), taken, where);
        }
    }

    // What the stream itself says comes next: 24 bytes, or the body its
    // last header announced (0 once the stream cannot be followed).
    std::size_t Wanted() const
    {
        if (corrupt)
            return 0;
        return inBody ? announced : FrameHeaderSize;
    }

    void Note(Event event, const std::string& taken, const char* where)
    {
        char line[96];
        if (!inBody) {
            announced = GetU32(reinterpret_cast<const unsigned char*>(taken.data()) + 8);
            ASSERT_EQ(reader.BodyLength(), announced);
            ASSERT_EQ(reader.Header().MsgType,
                      GetU32(reinterpret_cast<const unsigned char*>(taken.data()) + 4));
            if (announced == 0) {
                ASSERT_EQ(event, Event::HeartBeat);
                std::snprintf(line, sizeof line, "heartbeat %d", reader.Header().RequestId);
                seen.push_back(line);
            } else if (announced > FrameReader::MaxBodyLength) {
                ASSERT_EQ(event, Event::TooLarge);
                std::snprintf(line, sizeof line, "too large %u", announced);
                seen.push_back(line);
                corrupt = true;
            } else {
                ASSERT_EQ(event, Event::None);
                inBody = true;
            }
            return;
        }
        ASSERT_EQ(event, Event::Body);
        ASSERT_EQ(where, reader.Body()) << "the body is where it was read into";
        std::snprintf(line, sizeof line, "body %08x %zu ", reader.Header().MsgType, taken.size());
        seen.push_back(line + taken.substr(0, 8));
        inBody = false;
    }

    FrameReader& reader;
    bool inBody = false;
    bool corrupt = false;
    std::uint32_t announced = 0;
};

std::string Filled(std::size_t size, char first)
{
    std::string body(size, 'b');
    for (std::size_t i = 0; i < std::min<std::size_t>(size, 8); ++i)
        body[i] = static_cast<char>(first + i);
    return body;
}

struct Stream {
    const char* what;
    std::string bytes;
    std::vector<std::string> frames;
};

std::vector<Stream> Streams()
{
    const std::string small = Filled(31, 'A');
    const std::string edge = Filled(800, 'K');
    const std::string spill = Filled(801, 'S');
    const std::string big = Filled(5000, 'X');
    return {
        {"one small body", Frame(MsgRspSubscribeMarketData, small, 1, 1), {"body 20050001 31 ABCDEFGH"}},
        {"heartbeat replies of any type",
         RawHeader(MsgHeartBeat, 0, -1) + RawHeader(0x1234, 0, 7),
         {"heartbeat -1", "heartbeat 7"}},
        {"bodies on both sides of the inner buffer",
         Frame(MsgDepthMarketData, edge) + Frame(MsgDepthMarketData, spill) +
             Frame(MsgDepthMarketData, small) + Frame(MsgDepthMarketData, big),
         {"body 40050001 800 KLMNOPQR", "body 40050001 801 STUVWXYZ", "body 40050001 31 ABCDEFGH",
          "body 40050001 5000 XYZ[\\]^_"}},
        {"a one-byte body then a heartbeat",
         Frame(0x7777, "z") + RawHeader(MsgHeartBeat, 0, 3),
         {"body 00007777 1 z", "heartbeat 3"}},
        {"the largest body, then one past it",
         Frame(MsgDepthMarketData, Filled(FrameReader::MaxBodyLength, 'L')) +
             RawHeader(MsgDepthMarketData, FrameReader::MaxBodyLength + 1) + Frame(0x7777, "never"),
         {"body 40050001 1048576 LMNOPQRS", "too large 1048577"}},
    };
}

TEST(FrameReader, EveryStreamInEveryChunkingGivesItsFrames)
{
    for (const Stream& s : Streams()) {
        SCOPED_TRACE(s.what);
        const bool huge = s.bytes.size() > 100000;
        std::vector<std::vector<std::size_t>> chunkings = {{}, {1}, {7}, {23}, {24}, {25}, {801}};
        if (huge)
            chunkings = {{}, {4096}, {FrameHeaderSize, FrameReader::MaxBodyLength - 1, 1, 100}};
        for (const std::vector<std::size_t>& chunks : chunkings) {
            SCOPED_TRACE(chunks.empty() ? 0 : chunks[0]);
            FrameReader reader;
            Driver driver(reader);
            driver.Feed(s.bytes, chunks);
            ASSERT_EQ(driver.seen, s.frames);
        }
        if (huge)
            continue;
        for (std::size_t split = 1; split < s.bytes.size(); ++split) {
            FrameReader reader;
            Driver driver(reader);
            driver.Feed(s.bytes, {split, s.bytes.size()});
            ASSERT_EQ(driver.seen, s.frames) << "split at " << split;
            EXPECT_TRUE(driver.ready.empty());
        }
    }
}

TEST(FrameReader, AsksForAHeaderOnlyWhenAll24BytesAreReadyAndForNothingMore)
{
    FrameReader reader;
    long size = 23;
    char* header = reader.Next(size);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(reader.GetState(), State::WaitHeader);
    size = 1000;
    EXPECT_EQ(reader.Next(size), header);
    EXPECT_EQ(size, 24);
    EXPECT_EQ(reader.GetState(), State::HeaderAsked);
}

TEST(FrameReader, ABodyIsAskedForWholeAndTheBytesBehindItWait)
{
    FrameReader reader;
    Driver driver(reader);
    const std::string frame = Frame(MsgRspSubscribeMarketData, Filled(119, 'a'), 4, 1);
    driver.Feed(frame.substr(0, frame.size() - 1));
    EXPECT_TRUE(driver.seen.empty());
    EXPECT_EQ(reader.GetState(), State::WaitBody);
    EXPECT_EQ(driver.ready.size(), 118u);
    driver.Feed(frame.substr(frame.size() - 1) + frame.substr(0, 10));
    EXPECT_EQ(driver.seen, std::vector<std::string>{"body 20050001 119 abcdefgh"});
    EXPECT_EQ(driver.ready.size(), 10u) << "the next header waits for its 24 bytes";
}

TEST(FrameReader, AHandOverNobodyAskedForChangesNothing)
{
    FrameReader reader;
    EXPECT_EQ(reader.Took(), Event::None);
    EXPECT_EQ(reader.GetState(), State::WaitHeader);
    Driver driver(reader);
    driver.Feed(RawHeader(MsgDepthMarketData, 50));
    ASSERT_EQ(reader.GetState(), State::WaitBody);
    EXPECT_EQ(reader.Took(), Event::None);
    EXPECT_EQ(reader.GetState(), State::WaitBody);
    EXPECT_EQ(reader.BodyLength(), 50u);

    // An answer of 0 withdraws the request before it.
    long size = 50;
    reader.Next(size);
    ASSERT_EQ(size, 50);
    size = 49;
    reader.Next(size);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(reader.Took(), Event::None);
    EXPECT_EQ(reader.GetState(), State::WaitBody);
}

TEST(FrameReader, ResetMidBodyReadsTheNextBytesAsAHeader)
{
    FrameReader reader;
    Driver cut(reader);
    cut.Feed(Frame(MsgDepthMarketData, Filled(2000, 'c')).substr(0, 500));
    ASSERT_EQ(reader.GetState(), State::WaitBody);
    reader.Reset();
    EXPECT_EQ(reader.GetState(), State::WaitHeader);
    EXPECT_EQ(reader.BodyLength(), 0u);
    EXPECT_EQ(reader.Header().MsgType, 0u);
    Driver next(reader);
    next.Feed(Frame(0x7777, "fresh"));
    EXPECT_EQ(next.seen, std::vector<std::string>{"body 00007777 5 fresh"});
}

TEST(FrameReader, ACorruptStreamAsksForNothingUntilReset)
{
    FrameReader reader;
    Driver driver(reader);
    driver.Feed(RawHeader(MsgDepthMarketData, FrameReader::MaxBodyLength + 1) + std::string(100, 'g'));
    EXPECT_EQ(driver.seen, std::vector<std::string>{"too large 1048577"});
    EXPECT_EQ(reader.GetState(), State::Corrupt);
    long size = 1 << 20;
    reader.Next(size);
    EXPECT_EQ(size, 0);
    reader.Reset();
    Driver after(reader);
    after.Feed(Frame(0x7777, "ok"));
    EXPECT_EQ(after.seen, std::vector<std::string>{"body 00007777 2 ok"});
}

TEST(FrameReader, SmallBodiesLandInPlaceAndAllocateNothing)
{
    FrameReader reader;
    std::string stream;
    for (std::size_t size : {1u, 31u, 408u, 800u})
        stream += Frame(MsgDepthMarketData, Filled(size, 'p')) + RawHeader(MsgHeartBeat, 0, 1);
    Driver driver(reader);
    driver.Feed(stream); // once, so that the driver's own strings have their room
    test::StartCountingAllocations();
    long size = static_cast<long>(stream.size());
    for (const char* p = stream.data();;) {
        long ready = size;
        char* where = reader.Next(ready);
        if (ready == 0)
            break;
        std::memcpy(where, p, static_cast<std::size_t>(ready));
        p += ready;
        size -= ready;
        if (reader.Took() == Event::Body) {
            EXPECT_GE(reinterpret_cast<const char*>(&reader) + sizeof reader, where + reader.BodyLength())
                << "inside the reader";
        }
    }
    EXPECT_EQ(test::StopCountingAllocations(), 0);
    EXPECT_EQ(size, 0);
}

// The spill buffer is made once the whole body is there, kept while bodies
// it holds follow, and given back by Reset.
TEST(FrameReader, TheSpillBufferIsMadeWhenABigBodyIsWholeAndGivenBackByReset)
{
    if (test::HeapBytesInUse() < 0)
        GTEST_SKIP() << "the heap in use cannot be told here";
    const std::string frame = Frame(MsgDepthMarketData, Filled(FrameReader::MaxBodyLength, 'm'));
    FrameReader reader;
    Driver driver(reader);
    driver.ready.reserve(frame.size());
    driver.seen.reserve(8);
    const long before = test::HeapBytesInUse();
    driver.Feed(frame.substr(0, FrameHeaderSize + 100));
    EXPECT_LT(test::HeapBytesInUse() - before, 65536) << "nothing made for a body not yet there";
    driver.Feed(frame.substr(FrameHeaderSize + 100));
    EXPECT_GE(test::HeapBytesInUse() - before, 1048576);
    test::StartCountingAllocations();
    long ready = static_cast<long>(frame.size());
    char* where = reader.Next(ready);
    std::memcpy(where, frame.data(), FrameHeaderSize);
    reader.Took();
    ready = static_cast<long>(frame.size() - FrameHeaderSize);
    where = reader.Next(ready);
    std::memcpy(where, frame.data() + FrameHeaderSize, static_cast<std::size_t>(ready));
    EXPECT_EQ(reader.Took(), Event::Body);
    EXPECT_EQ(test::StopCountingAllocations(), 0) << "a second big body reuses the buffer";
    reader.Reset();
    EXPECT_LT(test::HeapBytesInUse() - before, 65536);
}

} // namespace
