// mdcli: a market-data client on the published interface only.
#include "CliOptions.h"
#include "CliSpi.h"
#include "CsvWriter.h"
#include "Interrupt.h"
#include "LinkSummary.h"
#include "MarketBoard.h"
#include "MdApi.h"
#include "RedundantMdApi.h"
#include "Terminal.h"
#include "Ticker.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr std::chrono::milliseconds RefreshPeriod{100}; // at most ten redraws a second

enum class Display { Quiet, Terminal, Lines };

void Refresh(mdcli::MarketBoard& board, mdcli::Ticker& ticker, Display display)
{
    const std::vector<std::string> events = board.TakeEvents();
    std::string out;
    if (display == Display::Quiet) {
        out = mdcli::Ticker::Lines(events, {});
    } else if (display == Display::Lines) {
        out = mdcli::Ticker::Lines(events, board.Rows(true));
    } else {
        if (events.empty() && board.Rows(true).empty())
            return; // nothing new: leave the screen alone
        int columns = 0;
        int lines = 0;
        mdcli::TerminalSize(columns, lines);
        out = ticker.Redraw(events, board.Rows(false), columns, lines - 1,
                            board.HiddenInstruments());
    }
    if (!out.empty()) {
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
    }
}

CThostFtdcMdApi* NewSingleClient()
{
    return CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
}

// --links: the links are plain clients of the shared library, which makes
// them only while MDLINK_LINKS does not ask for more.
CThostFtdcMdApi* CreateClient(const mdcli::CliOptions& opts, mdlink::CRedundantMdApi*& redundant)
{
    redundant = nullptr;
    if (opts.links == 0)
        return NewSingleClient();
#ifdef _WIN32
    _putenv_s("MDLINK_LINKS", "");
#else
    unsetenv("MDLINK_LINKS");
#endif
    if (opts.links == 1)
        return NewSingleClient();
    redundant = mdlink::CRedundantMdApi::Create(opts.links, &NewSingleClient);
    return redundant;
}

bool Expired(const mdcli::CliOptions& opts, std::chrono::steady_clock::time_point start)
{
    return opts.duration_seconds > 0 &&
           std::chrono::steady_clock::now() - start >=
               std::chrono::duration<double>(opts.duration_seconds);
}

} // namespace

int main(int argc, char** argv)
{
    mdcli::CliOptions opts;
    std::string error;
    if (!mdcli::ParseCliOptions(std::vector<std::string>(argv + 1, argv + argc), opts, error)) {
        std::fprintf(stderr, "mdcli: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (opts.help) {
        std::fputs(mdcli::CliUsage().c_str(), stdout);
        return 0;
    }
    if (!mdcli::ResolvePassword(opts, std::getenv(mdcli::PasswordVariable), error)) {
        std::fprintf(stderr, "mdcli: %s\n", error.c_str());
        return 2;
    }
    mdcli::CsvWriter csv;
    if (!opts.csv.empty() && !csv.Open(opts.csv, error)) {
        std::fprintf(stderr, "mdcli: %s\n", error.c_str());
        return 1;
    }
    const Display display = opts.quiet ? Display::Quiet
                            : (mdcli::StdoutIsTerminal() && mdcli::EnableAnsi()) ? Display::Terminal
                                                                                 : Display::Lines;
    mdcli::MarketBoard board;
    mdcli::CliSpi spi(opts, board, opts.csv.empty() ? nullptr : &csv);
    mdlink::CRedundantMdApi* redundant = nullptr;
    CThostFtdcMdApi* api = CreateClient(opts, redundant);
    spi.Attach(api);
    api->RegisterSpi(&spi);
    std::vector<std::string> fronts = opts.fronts; // the interface takes mutable text
    for (std::string& front : fronts)
        api->RegisterFront(&front[0]);
    std::printf("mdcli on library version %s, %s front(s)\n", CThostFtdcMdApi::GetApiVersion(),
                std::to_string(fronts.size()).c_str());
    mdtools::InstallInterruptHandler();
    api->Init();

    mdcli::Ticker ticker;
    const auto start = std::chrono::steady_clock::now();
    while (!mdtools::Interrupted() && !Expired(opts, start)) {
        std::this_thread::sleep_for(RefreshPeriod);
        Refresh(board, ticker, display);
    }
    mdlink::RedundantLinkCounters links[mdlink::RedundantMaxLinks];
    const int linkCount = redundant ? redundant->GetLinkCounters(links, mdlink::RedundantMaxLinks) : 0;
    api->Release(); // waits until no callback runs; none follows
    Refresh(board, ticker, display);
    if (!csv.Close())
        std::fprintf(stderr, "mdcli: writing %s failed\n", opts.csv.c_str());
    std::printf("mdcli: %s depth records for %s instruments, %s for-quote notices\n",
                std::to_string(board.Records()).c_str(), std::to_string(board.Instruments()).c_str(),
                std::to_string(board.ForQuotes()).c_str());
    for (const std::string& line : mdcli::LinkSummary(links, linkCount))
        std::printf("mdcli: %s\n", line.c_str());
    if (board.HiddenRecords() > 0)
        std::printf("mdcli: %s more instrument ids not shown (%s records)\n",
                    board.HiddenText().c_str(), std::to_string(board.HiddenRecords()).c_str());
    return board.Records() > 0 ? 0 : 1;
}
