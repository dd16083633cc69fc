// Capture files through the tools: mdcli's session capturing what the
// library delivers, mdfront replaying a capture, the replay captured again,
// and the edges of the flags.
#include "CaptureRecords.h"
#include "CaptureTap.h"
#include "ClientSession.h"
#include "FrontOptions.h"
#include "FrontServer.h"
#include "MarketBoard.h"
#include "NewClient.h"
#include "ToolsTestSupport.h"

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace toolstest {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using capturetest::ByInstrument;
using capturetest::Captured;
using capturetest::ReadCapture;

// Every wait is bounded by this: sanitizer builds on two busy cores are slow.
constexpr auto Patience = 60s;

bool WaitFor(const std::function<bool()>& done)
{
    const auto end = std::chrono::steady_clock::now() + Patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

mdcli::CliOptions SessionTo(const std::vector<std::uint16_t>& ports, std::vector<std::string> instruments)
{
    mdcli::CliOptions o = Options();
    o.fronts.clear();
    for (std::uint16_t port : ports)
        o.fronts.push_back("tcp://127.0.0.1:" + std::to_string(port));
    o.instruments = std::move(instruments);
    o.forquote.clear();
    return o;
}

// mdcli's session on the library (links as --links), capturing into dir.
class CapturingClient {
public:
    CapturingClient(const std::vector<std::uint16_t>& ports, std::vector<std::string> instruments,
                    const fs::path& dir, int links = 0, std::int64_t flushMs = 50)
        : options_(SessionTo(ports, std::move(instruments))), session_(options_, board_, nullptr)
    {
        mdtools::CaptureSettings settings;
        settings.directory = dir.string();
        settings.flushMs = flushMs;
        std::string error;
        tap_ = mdtools::CaptureTap::Open(settings, "mdcli test", options_.fronts, error);
        EXPECT_TRUE(tap_) << error;
        session_.Capture(tap_.get());
        mdlink::CRedundantMdApi* redundant = nullptr;
        api_ = mdtools::NewClient(links, redundant);
        session_.Attach(api_);
        api_->RegisterSpi(&session_);
        for (std::string& front : options_.fronts)
            api_->RegisterFront(&front[0]);
        api_->Init();
    }
    ~CapturingClient() { Stop(); }

    std::uint64_t CapturedCount() const { return tap_ ? tap_->Counts().records : 0; }
    std::uint64_t Delivered() const { return board_.Records(); }
    void Stop()
    {
        if (api_)
            api_->Release(); // no callback after it
        api_ = nullptr;
        if (tap_)
            tap_->Close();
    }

private:
    mdcli::CliOptions options_;
    mdtools::MarketBoard board_;
    mdtools::ClientSession session_;
    std::unique_ptr<mdtools::CaptureTap> tap_;
    CThostFtdcMdApi* api_ = nullptr;
};

mdfront::FrontConfig LiveConfig()
{
    mdfront::FrontConfig cfg;
    cfg.instruments = {{"au2612", "SHFE"}, {"ag2612", "SHFE"}, {"IF2612", "CFFEX"}};
    cfg.trading_day = "20261208";
    cfg.rate = 100;
    return cfg;
}

// A live front's records captured; the capture replayed at a speed and
// captured again: the same records, byte for byte, in the same order per
// instrument; and a client subscribed to one instrument gets that one's all.
class CaptureRoundTrip : public TempDirTest, public ::testing::WithParamInterface<double> {};

TEST_P(CaptureRoundTrip, ReplayOfACaptureCapturesTheSameRecords)
{
    const std::vector<std::string> ids = {"au2612", "ag2612", "IF2612"};
    {
        mdfront::FrontServer live(LiveConfig());
        CapturingClient client({live.Start()}, ids, dir_ / "live");
        ASSERT_TRUE(WaitFor([&] { return client.CapturedCount() >= 60; }));
    }
    const std::vector<Captured> first = ReadCapture(dir_ / "live");
    ASSERT_GE(first.size(), 60u);
    EXPECT_EQ(ByInstrument(first).size(), 3u);

    mdfront::FrontConfig cfg;
    for (const auto& entry : fs::directory_iterator(dir_ / "live"))
        cfg.capture_files.push_back(entry.path().string());
    std::sort(cfg.capture_files.begin(), cfg.capture_files.end());
    cfg.replay_speed = GetParam();
    mdfront::FrontServer replay(cfg);
    const std::uint16_t port = replay.Start();
    {
        CapturingClient all({port}, ids, dir_ / "replayed");
        CapturingClient one({port}, {"ag2612"}, dir_ / "one");
        ASSERT_TRUE(WaitFor([&] { return all.CapturedCount() >= first.size(); }));
        ASSERT_TRUE(WaitFor([&] { return one.CapturedCount() >= ByInstrument(first)["ag2612"].size(); }));
    }
    const std::vector<Captured> second = ReadCapture(dir_ / "replayed");
    EXPECT_EQ(second.size(), first.size());
    EXPECT_TRUE(ByInstrument(second) == ByInstrument(first));
    const auto one = ByInstrument(ReadCapture(dir_ / "one"));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_TRUE(one.at("ag2612") == ByInstrument(first).at("ag2612"));
    // Played once: nothing beyond the capture went out.
    EXPECT_EQ(replay.Stats(0).depth_sent + replay.Stats(1).depth_sent,
              first.size() + ByInstrument(first).at("ag2612").size());
}

INSTANTIATE_TEST_SUITE_P(Speeds, CaptureRoundTrip, ::testing::Values(0.0, 20.0),
                         [](const auto& info) { return info.param == 0 ? "Max" : "Times20"; });

class CaptureToolsTest : public TempDirTest {};

// A file cut short in its block: mdfront says where, and plays what came before.
TEST_F(CaptureToolsTest, DamagedCaptureReplaysUpToTheFault)
{
    {
        mdfront::FrontServer live(LiveConfig());
        // One block, written at the end: the cut copy keeps none whole.
        CapturingClient client({live.Start()}, {"au2612"}, dir_ / "live", 0, 60000);
        ASSERT_TRUE(WaitFor([&] { return client.CapturedCount() >= 10; }));
    }
    const std::vector<Captured> good = ReadCapture(dir_ / "live");
    mdfront::FrontConfig cfg;
    cfg.capture_files = {fs::directory_iterator(dir_ / "live")->path().string(),
                         (dir_ / "cut.mdcap").string()};
    fs::copy_file(cfg.capture_files[0], cfg.capture_files[1]);
    fs::resize_file(cfg.capture_files[1], fs::file_size(cfg.capture_files[1]) - 5);
    cfg.replay_speed = 0;
    mdfront::FrontServer replay(cfg);
    const std::uint16_t port = replay.Start();
    ASSERT_EQ(replay.ReplayNotes().size(), 1u);
    EXPECT_EQ(replay.ReplayNotes()[0].rfind(cfg.capture_files[1] + ": at offset ", 0), 0u)
        << replay.ReplayNotes()[0];
    {
        CapturingClient client({port}, {"au2612"}, dir_ / "replayed");
        ASSERT_TRUE(WaitFor([&] { return client.CapturedCount() >= good.size(); }));
    }
    EXPECT_TRUE(ByInstrument(ReadCapture(dir_ / "replayed")) == ByInstrument(good));
    EXPECT_EQ(replay.Stats(0).depth_sent, good.size());
}

// Two links to fronts of one feed: each record delivered once, captured once.
TEST_F(CaptureToolsTest, RedundantClientCapturesWhatItDelivers)
{
    mdfront::FrontConfig cfg = LiveConfig();
    cfg.shared_feed = true;
    cfg.seed = 3;
    cfg.rate = 50;
    mdfront::FrontServer a(cfg), b(cfg);
    std::uint64_t delivered = 0;
    {
        CapturingClient client({a.Start(), b.Start()}, {"au2612"}, dir_ / "cap", 2);
        ASSERT_TRUE(WaitFor([&] { return client.CapturedCount() >= 20; }));
        client.Stop();
        delivered = client.Delivered();
    }
    const std::vector<Captured> records = ReadCapture(dir_ / "cap");
    EXPECT_EQ(records.size(), delivered);
    std::set<int> slots; // the shared feed numbers its slots in Volume
    for (const Captured& r : records)
        EXPECT_TRUE(
            slots.insert(reinterpret_cast<const CThostFtdcDepthMarketDataField*>(r.bytes.data())->Volume)
                .second);
}

// A writer that cannot keep up drops records and says how many.
TEST_F(CaptureToolsTest, WriterBehindCountsWhatItDropped)
{
    mdtools::CaptureSettings s;
    s.directory = (dir_ / "cap").string();
    s.queueRecords = 2;
    std::string error;
    auto tap = mdtools::CaptureTap::Open(s, "mdcli test", {}, error);
    ASSERT_TRUE(tap) << error;
    const CThostFtdcDepthMarketDataField d = Depth("au2612", 450);
    for (int i = 0; i < 1000; ++i)
        tap->Add(d, i);
    tap->Close();
    const mdtools::CaptureCounts c = tap->Counts();
    EXPECT_EQ(c.records + c.dropped, 1000u);
    EXPECT_GT(c.dropped, 0u);
    EXPECT_EQ(ReadCapture(dir_ / "cap").size(), c.records);
    EXPECT_NE(mdtools::CaptureSummary(s.directory, c).find(", " + std::to_string(c.dropped) + " dropped"),
              std::string::npos);
}

// A directory that cannot be made: refused at start, by the tap and by mdcli.
TEST_F(CaptureToolsTest, UnwritableDirectoryIsAnErrorAtStart)
{
    std::ofstream("plain") << "a file, not a directory\n";
    mdtools::CaptureSettings s;
    s.directory = (dir_ / "plain" / "cap").string();
    std::string error;
    EXPECT_FALSE(mdtools::CaptureTap::Open(s, "mdcli test", {}, error));
    EXPECT_NE(error.find("plain"), std::string::npos) << error;
    const std::string command = std::string(MDCLI_PROGRAM) +
        " --front tcp://127.0.0.1:1 --capture plain/cap --duration 5 > out.txt 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    std::ifstream in("out.txt");
    const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(output.rfind("mdcli: ", 0), 0u) << output;
    EXPECT_NE(output.find("plain/cap"), std::string::npos) << output;
    EXPECT_EQ(output.find("front(s)"), std::string::npos) << output; // it never started
}

// mdcli's summary counts what its capture holds, whatever arrived in the time.
TEST_F(CaptureToolsTest, MdcliSummarySaysWhatItCaptured)
{
    mdfront::FrontServer live(LiveConfig());
    const std::string command = std::string(MDCLI_PROGRAM) +
        " --front tcp://127.0.0.1:" + std::to_string(live.Start()) +
        " --instruments au2612,IF2612 --capture cap --quiet --duration 1 > out.txt";
    ASSERT_NE(std::system(command.c_str()), -1);
    std::ifstream in("out.txt");
    const std::string output((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t records = ReadCapture(dir_ / "cap").size();
    EXPECT_NE(output.find("mdcli: " + std::to_string(records) + " depth records"), std::string::npos)
        << output;
    EXPECT_NE(output.find("mdcli: captured " + std::to_string(records) + " records into cap ("),
              std::string::npos)
        << output;
    EXPECT_NE(output.find(" bytes), 0 dropped\n"), std::string::npos) << output;
}

// mdfront --replay tells capture files from CSV by their first bytes.
TEST_F(CaptureToolsTest, ReplayFlagsTellCaptureFromCsv)
{
    mdtools::CaptureSettings s;
    s.directory = "cap";
    std::string error;
    auto tap = mdtools::CaptureTap::Open(s, "mdcli test", {}, error);
    ASSERT_TRUE(tap) << error;
    tap->Add(Depth("au2612", 450), 1);
    tap->Close();
    const std::string file = fs::directory_iterator("cap")->path().string();
    std::ofstream("x.csv") << "not read while parsing\n";
    struct Case {
        std::vector<std::string> args;
        bool ok;
        std::size_t captures;
        double speed;
    };
    const std::vector<Case> cases = {
        {{"--replay", file}, true, 1, 1},
        {{"--replay", file, "--replay", file, "--speed", "max"}, true, 2, 0},
        {{"--replay", file, "--speed", "2.5"}, true, 1, 2.5},
        {{"--replay", "x.csv"}, true, 0, 1},
        {{"--replay", file, "--replay", "x.csv"}, false, 0, 0},
        {{"--replay", "x.csv", "--replay", "x.csv"}, false, 0, 0},
        {{"--replay", file, "--shared-feed"}, false, 0, 0},
        {{"--speed", "0"}, false, 0, 0},
        {{"--speed", "inf"}, false, 0, 0},
        {{"--speed", "0.0001"}, false, 0, 0},
        {{"--speed", "-1"}, false, 0, 0},
        {{"--speed", "fast"}, false, 0, 0},
    };
    for (const Case& c : cases) {
        mdfront::FrontOptions o;
        const bool ok = mdfront::ParseFrontOptions(c.args, o, error);
        EXPECT_EQ(ok, c.ok) << c.args.back() << ": " << error;
        if (ok && c.ok) {
            EXPECT_EQ(o.config.capture_files.size(), c.captures) << c.args.back();
            EXPECT_EQ(o.config.replay_speed, c.speed) << c.args.back();
        }
    }
}

} // namespace
} // namespace toolstest
