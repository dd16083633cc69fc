#include "RelayFixture.h"

#include "DepthCsv.h"

#include <csignal>
#include <sstream>
#include <thread>

namespace relaytest {

std::map<std::string, std::uint64_t> LastStatus(const std::string& output)
{
    std::map<std::string, std::uint64_t> status;
    const std::size_t at = output.rfind("mdrelay: received=");
    if (at == std::string::npos)
        return status;
    std::istringstream line(output.substr(at + 9, output.find('\n', at) - at - 9));
    std::string pair;
    while (line >> pair) {
        const std::size_t eq = pair.find('=');
        if (eq != std::string::npos)
            status[pair.substr(0, eq)] = std::stoull(pair.substr(eq + 1));
    }
    return status;
}

std::vector<int> CsvVolumes(const std::filesystem::path& file)
{
    std::vector<mdtools::CsvDepthRow> rows;
    std::string error;
    std::vector<int> volumes;
    if (mdtools::ReadDepthCsv(file.string(), rows, error))
        for (const auto& row : rows)
            volumes.push_back(row.depth.Volume);
    return volumes;
}

std::string Consecutive(const std::vector<int>& numbers)
{
    for (std::size_t i = 0; i < numbers.size(); ++i)
        if (numbers[i] != static_cast<int>(i) + 1)
            return "record " + std::to_string(i) + " is number " + std::to_string(numbers[i]) + ", want " +
                std::to_string(i + 1);
    return "";
}

void RelayTest::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::filesystem::temp_directory_path() /
        ("mdrelay-" + std::string(info->test_suite_name()) + "-" + info->name() + "-" +
         std::to_string(::getpid()));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    previousDir_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
}

void RelayTest::TearDown()
{
    relays_.clear(); // kills whatever still runs
    for (auto& front : fronts_)
        front->Stop();
    std::filesystem::current_path(previousDir_);
    if (!HasFailure())
        std::filesystem::remove_all(dir_);
    else
        std::printf("kept %s\n", dir_.c_str());
}

mdfront::FrontServer& RelayTest::StartFront(double rate, int forQuoteMs, bool sharedFeed)
{
    mdfront::FrontConfig cfg;
    cfg.instruments = {{"au2612", "SHFE"}, {"IF2612", "CFFEX"}};
    cfg.trading_day = "20261208";
    cfg.rate = rate;
    cfg.record_limit = 0;
    cfg.stamp_sequence = !sharedFeed;
    cfg.shared_feed = sharedFeed;
    cfg.forquote_interval = std::chrono::milliseconds(forQuoteMs);
    fronts_.push_back(std::make_unique<mdfront::FrontServer>(cfg));
    fronts_.back()->Start();
    return *fronts_.back();
}

std::string RelayTest::FrontAddress(std::size_t front) const
{
    return "tcp://127.0.0.1:" + std::to_string(fronts_.at(front)->Port());
}

Child& RelayTest::StartRelay(const std::string& name, const std::string& urls,
                             const std::vector<std::string>& flags, const std::vector<std::string>& env,
                             std::size_t front)
{
    std::vector<std::string> argv = {
        MDRELAY_PROGRAM, "--front", FrontAddress(front), "--nats", urls, "--instruments", "au2612,IF2612",
        "--name",        name,      "--status-interval", "1s"};
    argv.insert(argv.end(), flags.begin(), flags.end());
    relays_.push_back(std::make_unique<Child>());
    EXPECT_TRUE(relays_.back()->Start(argv, (dir_ / (name + ".out")).string(), env));
    return *relays_.back();
}

int RelayTest::StopRelay(Child& relay)
{
    relay.Signal(SIGTERM);
    return relay.Wait(Patience);
}

int RelayTest::Read(const std::vector<std::string>& flags, std::string* output)
{
    std::vector<std::string> argv = {MDRELAY_PROGRAM, "--read", "--quiet"};
    argv.insert(argv.end(), flags.begin(), flags.end());
    Child reader;
    const std::string out = (dir_ / ("read" + std::to_string(++reads_) + ".out")).string();
    if (!reader.Start(argv, out))
        return -1;
    const int status = reader.Wait(Patience);
    if (output)
        *output = reader.Output();
    return status;
}

} // namespace relaytest
