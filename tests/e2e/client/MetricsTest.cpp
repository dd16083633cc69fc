// The metrics page of an unchanged application: MDLINK_METRICS set before
// its first client, scraped over HTTP once records flowed, and, where
// Prometheus's promtool is installed, checked by it. Each test is a process
// of its own (the variable is read once a process).
#include "E2eSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace e2e {
namespace {

void SetVariable(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    if (*value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

// The page's body, after a 200 answer; "" otherwise.
std::string Scrape(unsigned short port)
{
    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    socket.connect(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), port));
    const std::string request = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    asio::write(socket, asio::buffer(request));
    std::string reply;
    asio::error_code ec;
    asio::read(socket, asio::dynamic_buffer(reply), ec);
    const std::size_t body = reply.find("\r\n\r\n");
    // The answer's head is the listener's own tests' matter.
    if (reply.compare(0, 13, "HTTP/1.1 200 ") != 0 || body == std::string::npos)
        return "";
    return reply.substr(body + 4);
}

// The value of the one series with exactly these labels; -1 when absent.
double Value(const std::string& page, const std::string& series)
{
    std::istringstream in(page);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, series.size() + 1, series + " ") == 0)
            return std::strtod(line.c_str() + series.size() + 1, nullptr);
    return -1;
}

bool HasThreadNamed(const char* name)
{
#ifdef __linux__
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string text;
        std::getline(comm, text);
        if (text == name)
            return true;
    }
#endif
    (void)name;
    return false;
}

// "" when promtool accepts the page, else why not.
std::string PromtoolVerdict(const std::string& page)
{
    const std::string file = "scrape.txt";
    std::ofstream(file, std::ios::binary) << page;
    const std::string out = "promtool.txt";
    const int rc = std::system(("promtool check metrics < " + file + " > " + out + " 2>&1").c_str());
    if (rc == 0)
        return "";
    std::ifstream in(out);
    std::stringstream text;
    text << in.rdbuf();
    return "promtool: exit " + std::to_string(rc) + ": " + text.str();
}

class Metrics : public ClientTest {
protected:
    void TearDown() override
    {
        ClientTest::TearDown();
        SetVariable("MDLINK_METRICS", "");
        SetVariable("MDLINK_LINKS", "");
        SetVariable("MDLINK_METRICS_STALE", "");
    }

    // The port from the log record the listener's start left.
    unsigned short ServingPort()
    {
        static const std::regex serving("metrics: serving on 127\\.0\\.0\\.1:([0-9]+)$");
        for (const std::string& line : LogLines()) {
            std::smatch m;
            if (std::regex_search(line, m, serving))
                return static_cast<unsigned short>(std::stoi(m[1]));
        }
        return 0;
    }

    bool Logged(const std::string& text)
    {
        for (const std::string& line : LogLines())
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    void CheckWithPromtool(const std::string& page)
    {
        const bool have = std::system("promtool --version > /dev/null 2>&1") == 0;
        const char* require = std::getenv("MDLINK_REQUIRE_PROMETHEUS");
        if (!have) {
            ASSERT_FALSE(require && std::string(require) == "1") << "promtool is required and not found";
            GTEST_SKIP() << "promtool not installed: the page was not checked by it";
        }
        EXPECT_EQ(PromtoolVerdict(page), "") << page;
    }
};

TEST_F(Metrics, ASingleClientIsServedOnceRecordsFlowed)
{
    SetVariable("MDLINK_METRICS", "127.0.0.1:0");
    SetVariable("MDLINK_METRICS_STALE", "0.3");
    mdfront::FrontServer& front = AddFront(BaseConfig());
    // The front has no zz0000: it goes stale.
    session_->instruments = {"au2612", "zz0000"};
    StartClient({Address(front)});
    const unsigned short port = ServingPort();
    ASSERT_NE(port, 0) << "no \"metrics: serving on\" record in the log";
    EXPECT_TRUE(HasThreadNamed("mdlink-metrics"));
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 5));

    const std::string labels = "{client=\"1\",front=\"" + Address(front) + "\"}";
    std::string page;
    // The figures are counted before the callback: once five came, the page
    // shows at least five.
    page = Scrape(port);
    EXPECT_GE(Value(page, "mdlink_records_total" + labels), 5) << page;
    EXPECT_EQ(Value(page, "mdlink_logged_in" + labels), 1) << page;
    EXPECT_EQ(Value(page, "mdlink_connected" + labels), 1) << page;
    EXPECT_EQ(Value(page, "mdlink_reconnections_total" + labels), 0) << page;
    EXPECT_GT(Value(page, "mdlink_received_bytes_total" + labels), 0) << page;
    EXPECT_GE(Value(page, "mdlink_last_record_age_seconds" + labels), 0) << page;
    EXPECT_EQ(page.find("mdlink_redundant_"), std::string::npos) << page;
    // Sampled at the metrics thread's ticks.
    ASSERT_TRUE(session_->WaitUntil([&] {
        page = Scrape(port);
        return Value(page, "mdlink_stale_instruments" + labels) == 1 &&
            page.find("mdlink_feed_lag_seconds_count{client=\"1\",front=\"" + Address(front)) !=
            std::string::npos;
    })) << page;
    EXPECT_EQ(Value(page, "mdlink_subscribed_instruments" + labels), 2) << page;
    EXPECT_GT(Value(page, "mdlink_stalest_instrument_age_seconds" + labels), 0.3) << page;
    EXPECT_GE(Value(page, "mdlink_loop_stall_seconds"), 0) << page;
    CheckWithPromtool(page);
}

TEST_F(Metrics, ARedundantClientListsItsLinksNotItsInnerClients)
{
    SetVariable("MDLINK_METRICS", "127.0.0.1:0");
    SetVariable("MDLINK_LINKS", "2");
    mdfront::FrontConfig config = BaseConfig();
    config.shared_feed = true;
    mdfront::FrontServer& a = AddFront(config);
    mdfront::FrontServer& b = AddFront(config);
    session_->instruments = {"au2612"};
    StartClient({Address(a), Address(b)});
    const unsigned short port = ServingPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 5));

    const std::string link0 = "{client=\"1\",front=\"" + Address(a) + "\",link=\"0\"}";
    const std::string link1 = "{client=\"1\",front=\"" + Address(b) + "\",link=\"1\"}";
    // Both links log in; the arbiter's figures come with the watch, four
    // times a second.
    std::string page;
    ASSERT_TRUE(session_->WaitUntil([&] {
        page = Scrape(port);
        return Value(page, "mdlink_logged_in" + link0) == 1 && Value(page, "mdlink_logged_in" + link1) == 1 &&
            Value(page, "mdlink_redundant_first_total" + link0) +
                Value(page, "mdlink_redundant_first_total" + link1) >
            0;
    })) << page;
    EXPECT_GT(Value(page, "mdlink_records_total" + link0) + Value(page, "mdlink_records_total" + link1), 0);
    EXPECT_GE(Value(page, "mdlink_redundant_lateness_seconds_count" + link0), 0) << page;
    // Only client 1, only through its links.
    EXPECT_EQ(page.find("client=\"2\""), std::string::npos) << page;
    EXPECT_EQ(page.find("mdlink_records_total{client=\"1\",front=\"" + Address(a) + "\"}"),
              std::string::npos);
    CheckWithPromtool(page);
}

// Values that serve nothing: the client works as without them, and the log
// says why (or nothing, when unset). "TAKEN" stands for a port in use.
struct NoPage {
    const char* name;
    const char* value;
    const char* logged; // "" when nothing about metrics is logged
};

void PrintTo(const NoPage& p, std::ostream* os)
{
    *os << p.name;
}

class MetricsOff : public Metrics, public ::testing::WithParamInterface<NoPage> {};

TEST_P(MetricsOff, TheClientWorksWithoutAListener)
{
    asio::io_context io;
    asio::ip::tcp::acceptor taken(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const std::string port = std::to_string(taken.local_endpoint().port());
    auto expand = [&](std::string text) {
        const std::size_t at = text.find("TAKEN");
        return at == std::string::npos ? text : text.replace(at, 5, port);
    };
    SetVariable("MDLINK_METRICS", expand(GetParam().value).c_str());
    mdfront::FrontServer& front = AddFront(BaseConfig());
    session_->instruments = {"au2612"};
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 3));
    if (*GetParam().logged)
        EXPECT_TRUE(Logged(expand(GetParam().logged)));
    else
        EXPECT_FALSE(Logged("metrics:"));
    EXPECT_FALSE(HasThreadNamed("mdlink-metrics"));
}

INSTANTIATE_TEST_SUITE_P(
    Values, MetricsOff,
    ::testing::Values(
        NoPage{"Unset", "", ""},
        NoPage{"Unreadable", "everywhere",
               "<war>[   KVMDApi][     Metrics] - metrics: MDLINK_METRICS=\"everywhere\" is not [HOST]:PORT"},
        NoPage{"PortInUse", "127.0.0.1:TAKEN",
               "<war>[   KVMDApi][     Metrics] - metrics: cannot serve on 127.0.0.1:TAKEN"}),
    [](const ::testing::TestParamInfo<NoPage>& info) { return std::string(info.param.name); });

#ifndef _WIN32
TEST_F(Metrics, AForkedChildServesNothingAndTheParentStillCan)
{
    SetVariable("MDLINK_METRICS", "127.0.0.1:0");
    // Forked while this process has one thread, as POSIX asks of a child
    // that goes on to allocate and start threads (a sanitizer's runtime or
    // the C library may hold a lock in another thread at the fork): the
    // front starts after, and the child reads its address from a pipe.
    int addressPipe[2];
    ASSERT_EQ(pipe(addressPipe), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(120); // a hang ends the child, and the parent sees the signal
        close(addressPipe[1]);
        std::string address;
        char c;
        while (read(addressPipe[0], &c, 1) == 1)
            address += c;
        Session child;
        child.instruments = {"au2612"};
        CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
        child.api = api;
        api->RegisterSpi(&child);
        std::string writable = address;
        api->RegisterFront(&writable[0]);
        api->Init();
        int failed = child.WaitCount(Kind::Depth, 2) ? 0 : 1;
        if (HasThreadNamed("mdlink-metrics") || ServingPort() != 0)
            failed |= 2;
        api->Release();
        _exit(failed);
    }
    ASSERT_GT(pid, 0);
    close(addressPipe[0]);
    mdfront::FrontServer& front = AddFront(BaseConfig());
    const std::string address = Address(front);
    const bool told =
        write(addressPipe[1], address.data(), address.size()) == static_cast<ssize_t>(address.size());
    close(addressPipe[1]); // the end of the address
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(told);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no records in the child, 2: it served metrics";

    session_->instruments = {"au2612"};
    StartClient({address});
    const unsigned short port = ServingPort();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 2));
    EXPECT_GE(Value(Scrape(port), "mdlink_records_total{client=\"1\",front=\"" + address + "\"}"), 2);
}
#endif

} // namespace
} // namespace e2e
