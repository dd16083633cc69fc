#include "Screen.h"

#include "Terminal.h"

#include <cstdio>

namespace mdtools {

Display ChooseDisplay(bool quiet)
{
    if (quiet)
        return Display::Quiet;
    return StdoutIsTerminal() && EnableAnsi() ? Display::Terminal : Display::Lines;
}

void Refresh(MarketBoard& board, Ticker& ticker, Display display)
{
    const std::vector<std::string> events = board.TakeEvents();
    std::string out;
    if (display == Display::Quiet) {
        out = Ticker::Lines(events, {});
    } else if (display == Display::Lines) {
        out = Ticker::Lines(events, board.Rows(true));
    } else {
        if (events.empty() && board.Rows(true).empty())
            return; // nothing new: leave the screen alone
        int columns = 0;
        int lines = 0;
        TerminalSize(columns, lines);
        out = ticker.Redraw(events, board.Rows(false), columns, lines - 1, board.HiddenInstruments());
    }
    if (!out.empty()) {
        std::fputs(out.c_str(), stdout);
        std::fflush(stdout);
    }
}

std::string Summary(const MarketBoard& board, const char* program, const std::vector<std::string>& lines)
{
    std::string text = std::string(program) + ": " + std::to_string(board.Records()) + " depth records for " +
        std::to_string(board.Instruments()) + " instruments, " + std::to_string(board.ForQuotes()) +
        " for-quote notices\n";
    for (const std::string& line : lines)
        text += std::string(program) + ": " + line + "\n";
    if (board.HiddenRecords() > 0)
        text += std::string(program) + ": " + board.HiddenText() + " more instrument ids not shown (" +
            std::to_string(board.HiddenRecords()) + " records)\n";
    return text;
}

} // namespace mdtools
