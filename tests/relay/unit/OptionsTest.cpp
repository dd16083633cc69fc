// mdrelay's command lines, the quantities they take, the stream check's
// report, what readers accept of a message, and the counters line.
#include "BusFormat.h"
#include "Quantities.h"
#include "ReadOptions.h"
#include "RelayOptions.h"
#include "RelayStatus.h"
#include "StreamSetup.h"
#include "StreamSpec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

using namespace mdrelay;

const std::vector<std::string> Base = {
    "--front", "tcp://127.0.0.1:7000", "--nats", "nats://a:4222,nats://b:4222", "--instruments", "au2612"};

std::vector<std::string> With(std::vector<std::string> more)
{
    std::vector<std::string> args = Base;
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

TEST(OptionsTest, RelayFlagsDefaultsAndRefusals)
{
    RelayOptions o;
    std::string error;
    ASSERT_TRUE(ParseRelayOptions(
        With({"--storage", "memory", "--max-age=90m", "--replicas", "3", "--max-bytes", "10G", "--queue",
              "100", "--prefix", "desk.md", "--stream-mismatch", "use", "--links", "3"}),
        o, error))
        << error;
    EXPECT_EQ(o.bus.servers, (std::vector<std::string>{"nats://a:4222", "nats://b:4222"}));
    EXPECT_EQ(o.stream.storage, Storage::Memory);
    EXPECT_EQ(o.stream.maxAgeNs, 90LL * 60 * 1'000'000'000);
    EXPECT_EQ(o.stream.maxBytes, 10LL << 30);
    EXPECT_EQ(o.stream.replicas, 3);
    EXPECT_EQ(o.stream.subjects, std::vector<std::string>{"desk.md.>"});
    EXPECT_EQ(o.queueRecords, 100u);
    EXPECT_EQ(o.mismatch, MismatchPolicy::Use);
    EXPECT_EQ(o.links, 3);
    EXPECT_FALSE(o.bus.name.empty()) << "the host name by default";

    RelayOptions d;
    ASSERT_TRUE(ParseRelayOptions(Base, d, error)) << error;
    EXPECT_EQ(d.stream.name, "MD");
    EXPECT_EQ(d.stream.storage, Storage::File);
    EXPECT_EQ(d.stream.duplicateWindowNs, 120LL * 1'000'000'000);
    EXPECT_EQ(d.queueRecords, 65536u);
    EXPECT_EQ(d.mismatch, MismatchPolicy::Fail);
    EXPECT_EQ(d.links, 0) << "the library's own client unless asked";

    const std::vector<std::vector<std::string>> bad = {
        {"--nats", "nats://a:1", "--instruments", "x"}, // no front
        {"--front", "tcp://h:1", "--instruments", "x"}, // no NATS
        With({"--storage", "disk"}),
        With({"--replicas", "6"}),
        With({"--replicas", "0"}),
        With({"--max-age", "soon"}),
        With({"--queue", "0"}),
        With({"--prefix", "md.>"}),
        With({"--stream", "a.b"}),
        With({"--tls-cert", "c.pem"}),
        With({"--nosuch"}),
        With({"--password", "secret"}), // secrets do not go on the command line
        With({"--nats-password-file", "p"}),
        With({"--max-age", "1m"}),
        With({"--stall", "0"}),
        With({"--links", "0"}),
        With({"--links", "9"}),
        With({"--links", "two"}),
    };
    for (const auto& args : bad) {
        RelayOptions b;
        EXPECT_FALSE(ParseRelayOptions(args, b, error)) << args.back();
    }
    for (const char* flag : {"--queue", "--in-flight", "--flush", "--storage", "--max-age",
                             "--duplicate-window", "--links", "--creds", "--tls-ca", "Exit codes"})
        EXPECT_NE(RelayUsage().find(flag), std::string::npos) << flag;
}

TEST(OptionsTest, InstrumentsFileAndSecrets)
{
    const std::string ids = testing::TempDir() + "mdrelay-ids.txt";
    std::ofstream(ids) << "IF2612, IC2612\n# a comment line\nag2612 # and a comment\n\n";
    RelayOptions o;
    std::string error;
    ASSERT_TRUE(ParseRelayOptions(With({"--instruments-file", ids}), o, error));
    ASSERT_TRUE(LoadInstrumentsFile(o, error)) << error;
    EXPECT_EQ(o.instruments, (std::vector<std::string>{"au2612", "IF2612", "IC2612", "ag2612"}));

    const std::string secret = testing::TempDir() + "mdrelay-secret.txt";
    std::ofstream(secret) << "pass word\r\nsecond line\n";
    std::string value;
    ASSERT_TRUE(LoadSecret(secret, "MDRELAY_TEST_UNSET", value, error));
    EXPECT_EQ(value, "pass word");
    setenv("MDRELAY_TEST_SECRET", "from env", 1);
    ASSERT_TRUE(LoadSecret("", "MDRELAY_TEST_SECRET", value, error));
    EXPECT_EQ(value, "from env");
    ASSERT_TRUE(LoadSecret("", "MDRELAY_TEST_UNSET", value, error));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(LoadSecret(secret + ".missing", "MDRELAY_TEST_SECRET", value, error));
}

TEST(OptionsTest, ReaderStartsAndFilters)
{
    ReadOptions o;
    std::string error;
    ASSERT_TRUE(ParseReadOptions({"--read", "--nats", "nats://a:1", "--last", "5", "--instruments",
                                  "au2612,a.b", "--forquote", "IF2612"},
                                 o, error))
        << error;
    EXPECT_EQ(o.start.from, ReadStart::From::Last);
    EXPECT_EQ(o.start.last, 5u);
    EXPECT_EQ(ReadFilters(o),
              (std::vector<std::string>{"md.*.au2612", "md.*.a%2Eb", "md.forquote.*.IF2612"}));
    ReadOptions all;
    ASSERT_TRUE(ParseReadOptions({"--nats", "nats://a:1", "--since", "2026-12-08T09:30:00Z"}, all, error));
    EXPECT_EQ(all.start.timeNs, 1796722200LL * 1'000'000'000);
    EXPECT_EQ(ReadFilters(all), std::vector<std::string>{"md.>"});
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"--nats", "nats://a:1", "--all", "--last", "3"},
                                               {"--all"},
                                               {"--nats", "nats://a:1", "--since", "yesterday"},
                                               {"--nats", "nats://a:1", "--durable", "a.b"}}) {
        ReadOptions b;
        EXPECT_FALSE(ParseReadOptions(args, b, error)) << args.back();
    }
}

TEST(OptionsTest, Quantities)
{
    const struct {
        const char* text;
        std::int64_t ns;
    } durations[] = {{"500ms", 500'000'000},      {"90s", 90'000'000'000},
                     {"2", 2'000'000'000},        {"10m", 600'000'000'000},
                     {"24h", 86'400'000'000'000}, {"1.5h", 5'400'000'000'000},
                     {"7d", 604'800'000'000'000}, {"0", 0}};
    for (const auto& d : durations) {
        std::int64_t ns = -1;
        EXPECT_TRUE(ParseDuration(d.text, ns)) << d.text;
        EXPECT_EQ(ns, d.ns) << d.text;
    }
    std::int64_t v = 0;
    for (const char* bad : {"", "h", "-5s", "5x", "1e300d", "5 s"})
        EXPECT_FALSE(ParseDuration(bad, v)) << bad;
    EXPECT_TRUE(ParseSize("512M", v));
    EXPECT_EQ(v, 512LL << 20);
    EXPECT_TRUE(ParseSize("4096", v));
    EXPECT_EQ(v, 4096);
    EXPECT_FALSE(ParseSize("4MB", v));
    EXPECT_EQ(DurationText(86'400'000'000'000), "1d");
    EXPECT_EQ(DurationText(90'000'000'000), "90s");
    EXPECT_EQ(DurationText(1'500'000), "1500000ns");
    EXPECT_EQ(SizeText(10LL << 30), "10G");
    EXPECT_EQ(SizeText(1000), "1000");
    EXPECT_EQ(SizeText(0), "0");
    const std::int64_t now = 1'000'000'000'000'000'000;
    EXPECT_TRUE(ParseTime("10m", now, v));
    EXPECT_EQ(v, now - 600'000'000'000);
    EXPECT_TRUE(ParseTime("2026-12-08T09:30:00.25Z", now, v));
    EXPECT_EQ(v, 1796722200'250'000'000LL);
    EXPECT_FALSE(ParseTime("2026-12-08 09:30:00", now, v));
    EXPECT_FALSE(ParseTime("2026-12-08T09:30:00x", now, v));
}

TEST(OptionsTest, StreamDifferencesNameEachMember)
{
    StreamSpec want;
    want.subjects = {"md.>"};
    StreamSpec have = want;
    EXPECT_TRUE(StreamDifferences(want, have).empty());
    have.replicas = 3;
    have.storage = Storage::Memory;
    have.maxBytes = 1LL << 30;
    have.subjects = {"md.>", "x.>"};
    EXPECT_EQ(StreamDifferences(want, have),
              (std::vector<std::string>{"subjects: the stream has md.>,x.>, the options say md.>",
                                        "storage: the stream has memory, the options say file",
                                        "max-bytes: the stream has 1G, the options say 0",
                                        "replicas: the stream has 3, the options say 1"}));
    // Whether an existing stream's subjects take the relay's prefix.
    EXPECT_TRUE(TakesPrefix({"other.>", "md.>"}, "md"));
    EXPECT_TRUE(TakesPrefix({"*.>"}, "md.x"));
    EXPECT_FALSE(TakesPrefix({"md.SHFE.>", "md.*.*"}, "md"));
}

TEST(OptionsTest, RecordHeaderWrittenAndChecked)
{
    char header[64];
    EXPECT_EQ(RecordHeader(header, sizeof header, RecordKind::Depth, 1700000000123456789LL, 42, "relay a"),
              std::strlen("1 depth 1700000000123456789 42 relay a"));
    EXPECT_STREQ(header, "1 depth 1700000000123456789 42 relay a");
    BusRecordInfo info;
    EXPECT_EQ(CheckBusRecord(header, 408, info), BusCheck::Ok);
    EXPECT_EQ(info.kind, RecordKind::Depth);
    EXPECT_EQ(info.recvNs, 1700000000123456789LL);
    EXPECT_EQ(info.sequence, 42u);
    EXPECT_STREQ(info.relay, "relay a");
    RecordHeader(header, sizeof header, RecordKind::ForQuote, 5, 6, "r");
    EXPECT_EQ(CheckBusRecord(header, 88, info), BusCheck::Ok);
    EXPECT_EQ(info.kind, RecordKind::ForQuote);
    EXPECT_EQ(RecordHeader(header, 12, RecordKind::Depth, 5, 6, "a long name"), 11u) << "cut to fit";
    const struct {
        const char* header;
        std::size_t size;
        BusCheck check;
    } refused[] = {
        {nullptr, 408, BusCheck::UnknownFormat},          {"2 depth 1 1 r", 408, BusCheck::UnknownFormat},
        {"10 depth 1 1 r", 408, BusCheck::UnknownFormat}, {"1 trade 1 1 r", 408, BusCheck::UnknownKind},
        {"1 depthx 1 1 r", 408, BusCheck::UnknownKind},   {"1 depth 1 1 r", 400, BusCheck::WrongSize},
        {"1 forquote 1 1 r", 408, BusCheck::WrongSize},
    };
    for (const auto& r : refused)
        EXPECT_EQ(CheckBusRecord(r.header, r.size, info), r.check) << (r.header ? r.header : "none");
}

TEST(OptionsTest, StatusLine)
{
    RelayStatus s;
    s.received = 10;
    s.dropped = 2;
    s.queued = 3;
    s.reconnections = 1;
    s.publisher.published = 5;
    s.publisher.acknowledged = 4;
    s.publisher.duplicates = 1;
    s.publisher.retried = 6;
    s.publisher.unbuilt = 1;
    s.publisher.refused = 7;
    s.publisher.held = 1;
    EXPECT_EQ(StatusLine(s),
              "mdrelay: received=10 published=5 acknowledged=4 duplicates=1 "
              "dropped=3 refused=7 reconnections=1 retried=6 queued=3 in-flight=1");
}

} // namespace
