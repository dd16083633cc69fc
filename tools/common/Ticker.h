// Turns the board into text: a table redrawn in place with ANSI cursor
// movement on a terminal, or plain lines for the instruments that changed.
#pragma once

#include "MarketBoard.h"

#include <string>
#include <vector>

namespace mdtools {

class Ticker {
public:
    // The text of one refresh on a terminal: events scroll above the table,
    // which replaces the one drawn before. At most maxLines table lines,
    // each cut to fit `columns`; the last says how many instruments are
    // not shown, counting `hidden` ids that have no row at all.
    std::string Redraw(const std::vector<std::string>& events, const std::vector<TickerRow>& rows,
                       int columns, int maxLines, std::size_t hidden = 0);

    // The text of one refresh elsewhere: events, then one line per row given.
    static std::string Lines(const std::vector<std::string>& events, const std::vector<TickerRow>& rows);

    static std::string Header();
    static std::string Row(const TickerRow& row);
    static std::string PlainLine(const TickerRow& row);

    // A price for display: "-" when the front sent none (0 or a huge sentinel).
    static std::string Price(double v);
    // Last price against pre-settlement, or pre-close when there is none.
    static std::string Change(const CThostFtdcDepthMarketDataField& d);

private:
    int drawn_ = 0; // table lines now on screen, below the events
};

} // namespace mdtools
