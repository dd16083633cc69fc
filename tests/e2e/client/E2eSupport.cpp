#include "E2eSupport.h"

#include "LocalTime.h"
#include "wire/DepthMembers.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#ifdef __linux__
#include <unistd.h>
#endif

namespace e2e {

namespace fs = std::filesystem;

namespace {

char* Writable(std::string& s)
{
    return &s[0];
}

std::string Show(const char* text, std::size_t width)
{
    return mdfront::MemberText(text, width);
}

template <class Number>
std::string Show(Number v, std::size_t)
{
    std::ostringstream out;
    out.precision(17);
    out << v;
    return out.str();
}

#ifdef __linux__
// Whether the base library mapped into this process is the fast-time variant.
bool FastTimeBaseLoaded()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("/fasttime/libkelvobase") != std::string::npos)
            return true;
    return false;
}

long CountEntries(const char* dir)
{
    long n = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}
#endif

} // namespace

Session::~Session()
{
    // The last step of a callback runs under the mutex: wait for it.
    std::lock_guard<std::mutex> lock(mu_);
}

std::vector<Event> Session::Events() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return events_;
}

std::vector<Event> Session::Of(Kind kind) const
{
    std::vector<Event> out;
    for (const Event& e : Events())
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

std::size_t Session::Count(Kind kind) const
{
    std::lock_guard<std::mutex> lock(mu_);
    return counts_[static_cast<std::size_t>(kind)];
}

bool Session::WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit)
{
    return changes_.WaitUntil(mu_, limit, pred);
}

bool Session::WaitCount(Kind kind, std::size_t n, std::chrono::milliseconds limit)
{
    return WaitUntil([&] { return Count(kind) >= n; }, limit);
}

void Session::Record(Event e)
{
    ++active_;
    if (released_)
        ++late_;
    {
        std::lock_guard<std::mutex> lock(mu_);
        ++counts_[static_cast<std::size_t>(e.kind)];
        if (e.kind != Kind::Depth || keepDepth)
            events_.push_back(e);
    }
    if (releaseOn && *releaseOn == e.kind && ClaimRelease()) {
        api->Release();
        MarkReleased();
    } else if (!released_) {
        Act(e);
        if (onEvent)
            onEvent(e);
    }
    std::lock_guard<std::mutex> lock(mu_);
    --active_;
    changes_.Changed();
}

// What an application does on its own: the library never logs in or
// subscribes again after a reconnect.
void Session::Act(const Event& e)
{
    if (!api)
        return;
    if (e.kind == Kind::Connected && login) {
        CThostFtdcReqUserLoginField req{};
        std::strcpy(req.BrokerID, "9999");
        std::strcpy(req.UserID, "trader");
        std::strcpy(req.Password, "secret");
        api->ReqUserLogin(&req, ++requestId_);
    }
    if (e.kind == Kind::Login && (!e.hasInfo || e.info.ErrorID == 0)) {
        for (auto* list : {&instruments, &quotes}) {
            if (list->empty())
                continue;
            std::vector<std::string> copy = *list;
            std::vector<char*> ids;
            for (std::string& id : copy)
                ids.push_back(Writable(id));
            const int n = static_cast<int>(ids.size());
            if (list == &instruments)
                api->SubscribeMarketData(ids.data(), n);
            else
                api->SubscribeForQuoteRsp(ids.data(), n);
        }
    }
}

void Session::OnFrontConnected()
{
    Record(Event{});
}

void Session::OnFrontDisconnected(int nReason)
{
    Event e;
    e.kind = Kind::Disconnected;
    e.reason = nReason;
    Record(e);
}

void Session::OnRspUserLogin(CThostFtdcRspUserLoginField* login, CThostFtdcRspInfoField* info, int requestId,
                             bool isLast)
{
    Event e;
    e.kind = Kind::Login;
    e.login = *login;
    e.hasInfo = info != nullptr;
    if (info)
        e.info = *info;
    e.requestId = requestId;
    e.isLast = isLast;
    Record(e);
}

void Session::Response(Kind kind, CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                       int requestId, bool isLast)
{
    Event e;
    e.kind = kind;
    e.instrument = *instrument;
    e.hasInfo = info != nullptr;
    if (info)
        e.info = *info;
    e.requestId = requestId;
    e.isLast = isLast;
    Record(e);
}

void Session::OnRspSubMarketData(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                                 int requestId, bool isLast)
{
    Response(Kind::SubMd, instrument, info, requestId, isLast);
}

void Session::OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* instrument,
                                   CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    Response(Kind::UnSubMd, instrument, info, requestId, isLast);
}

void Session::OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument, CThostFtdcRspInfoField* info,
                                  int requestId, bool isLast)
{
    Response(Kind::SubQuote, instrument, info, requestId, isLast);
}

void Session::OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* instrument,
                                    CThostFtdcRspInfoField* info, int requestId, bool isLast)
{
    Response(Kind::UnSubQuote, instrument, info, requestId, isLast);
}

void Session::OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* depth)
{
    Event e;
    e.kind = Kind::Depth;
    e.depth = *depth;
    Record(e);
}

void Session::OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* quote)
{
    Event e;
    e.kind = Kind::Quote;
    e.quote = *quote;
    Record(e);
}

RefusingPort::RefusingPort()
{
    socket_.open(asio::ip::tcp::v4());
    socket_.bind(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
}

std::string RefusingPort::Address() const
{
    return "tcp://127.0.0.1:" + std::to_string(socket_.local_endpoint().port());
}

Witness::Witness(const std::string& front) : api_(CThostFtdcMdApi::CreateFtdcMdApi())
{
    session_.login = false;
    api_->RegisterSpi(&session_);
    std::string address = front;
    api_->RegisterFront(Writable(address));
    api_->Init();
}

Witness::~Witness()
{
    api_->Release();
}

bool Witness::WaitFailures(std::size_t n)
{
    return session_.WaitCount(Kind::Disconnected, session_.Count(Kind::Disconnected) + n);
}

void ClientTest::SetUp()
{
    previousDir_ = fs::current_path();
#ifdef __linux__
    // The fast-time tests get their base library through LD_LIBRARY_PATH;
    // make sure the one meant is the one running.
    const char* path = std::getenv("LD_LIBRARY_PATH");
    const bool wantFast = path && std::string(path).find("/fasttime") != std::string::npos;
    ASSERT_EQ(FastTimeBaseLoaded(), wantFast) << "LD_LIBRARY_PATH=" << (path ? path : "");
#endif
    // A fresh directory of our own: parallel tests never share a log folder.
    std::random_device random;
    do
        dir_ = fs::temp_directory_path() / ("mdlink-e2e-" + std::to_string(random()));
    while (!fs::create_directory(dir_));
    fs::current_path(dir_);
}

void ClientTest::TearDown()
{
    ReleaseClient();
    for (auto& front : fronts_)
        front->Stop();
    fs::current_path(previousDir_);
    if (dir_.empty())
        return;
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
}

mdfront::FrontConfig ClientTest::BaseConfig(mdfront::DepthForm form)
{
    mdfront::FrontConfig cfg;
    cfg.instruments = {{"au2612", "SHFE"}, {"ag2612", "SHFE"}, {"IF2612", "CFFEX"}};
    cfg.trading_day = "20261208";
    cfg.rate = 200;
    cfg.front_id = 7;
    cfg.form = form;
    return cfg;
}

mdfront::FrontServer& ClientTest::AddFront(const mdfront::FrontConfig& config)
{
    fronts_.push_back(std::make_unique<mdfront::FrontServer>(config));
    fronts_.back()->Start();
    return *fronts_.back();
}

std::string ClientTest::Address(const mdfront::FrontServer& front)
{
    return "tcp://127.0.0.1:" + std::to_string(front.Port());
}

void ClientTest::StartClient(const std::vector<std::string>& fronts)
{
    api_ = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
    session_->api = api_;
    api_->RegisterSpi(session_.get());
    for (std::string address : fronts)
        api_->RegisterFront(Writable(address));
    api_->Init();
}

void ClientTest::ReleaseClient()
{
    if (!api_ || !session_)
        return;
    if (session_->ClaimRelease()) {
        api_->Release();
        session_->MarkReleased();
    } else {
        // Released from inside a callback: let that callback return.
        EXPECT_TRUE(session_->WaitUntil([&] { return session_->Released() && session_->Active() == 0; }));
    }
    api_ = nullptr;
}

std::string DepthDiff(const Depth& w, const Depth& g)
{
    std::string out;
#define E2E_Text(m)                                                                                          \
    if (std::memcmp(w.m, g.m, sizeof w.m) != 0)                                                              \
        out += " " #m "=" + Show(w.m, sizeof w.m) + "/" + Show(g.m, sizeof g.m);
#define E2E_Double(m)                                                                                        \
    if (w.m != g.m)                                                                                          \
        out += " " #m "=" + Show(w.m, 0) + "/" + Show(g.m, 0);
#define E2E_Int(m) E2E_Double(m)
#define E2E_MEMBER(kind, m, offset, width) E2E_##kind(m)
    MDLINK_DEPTH_MEMBERS(E2E_MEMBER)
#undef E2E_MEMBER
#undef E2E_Int
#undef E2E_Double
#undef E2E_Text
    return out;
}

std::vector<mdfront::SentFrame> SentOfType(const mdfront::ConnectionRecord& conn, std::uint32_t msgType)
{
    std::vector<mdfront::SentFrame> out;
    for (const mdfront::SentFrame& f : conn.sent)
        if (f.kind == mdfront::SentKind::Frame && f.header.MsgType == msgType)
            out.push_back(f);
    return out;
}

Depth ExpectedDepth(const mdfront::SentFrame& frame, const mdfront::FrontConfig& config, bool first)
{
    if (frame.header.Marker == mdlink::MarkerBinary)
        return mdfront::ExpectedFromBinary(frame.depth, frame.Body().size());
    mdfront::TextOptions opt;
    opt.form = config.form;
    opt.field_count = config.text_fields;
    opt.empty_zeros = config.text_empty_zeros;
    opt.pad_to = first ? config.faults.big_body_length : 0;
    return mdfront::ExpectedFromText(frame.depth, opt);
}

std::vector<std::string> LogLines()
{
    std::vector<std::string> lines;
    const auto now = std::chrono::system_clock::now();
    for (auto t : {now - std::chrono::hours(24), now}) {
        std::ifstream in("KVMDLog/KVMDLog_" + mdtools::ToLocalStamp(t).date + ".log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
    }
    return lines;
}

ProcessCounts CountProcess()
{
    ProcessCounts c;
#ifdef __linux__
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    c.residentKiB = resident * (::sysconf(_SC_PAGESIZE) / 1024);
    c.threads = CountEntries("/proc/self/task");
    c.fds = CountEntries("/proc/self/fd");
#endif
    return c;
}

long ThreadsOnceAtMost(long limit)
{
    const auto deadline = std::chrono::steady_clock::now() + Patience;
    long threads = CountProcess().threads;
    // No event marks the kernel's reaping: poll at a coarse interval, which
    // leaves the processor to the threads being reaped.
    while (threads > 0 && threads > limit && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        threads = CountProcess().threads;
    }
    return threads;
}

} // namespace e2e
