#include "Ticker.h"

#include "LocalTime.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace mdtools {

namespace {

bool HasPrice(double v)
{
    return std::isfinite(v) && v != 0.0 && std::fabs(v) < 1e300;
}

// Up to three decimals, without trailing zeros.
std::string Trimmed(double v, bool sign)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, sign ? "%+.3f" : "%.3f", v);
    std::string s = buf;
    while (!s.empty() && s.back() == '0')
        s.pop_back();
    if (!s.empty() && s.back() == '.')
        s.pop_back();
    return s;
}

std::string Bounded(const char* text, std::size_t width)
{
    const void* nul = std::memchr(text, 0, width);
    return std::string(text, nul ? static_cast<const char*>(nul) : text + width);
}

std::string UpdateTime(const CThostFtdcDepthMarketDataField& d)
{
    char ms[16];
    std::snprintf(ms, sizeof ms, ".%03d", d.UpdateMillisec % 1000);
    return Bounded(d.UpdateTime, sizeof d.UpdateTime) + ms;
}

std::string Fit(const std::string& line, int columns)
{
    const std::size_t width = columns > 1 ? static_cast<std::size_t>(columns - 1) : 1;
    return line.size() > width ? line.substr(0, width) : line;
}

} // namespace

std::string Ticker::Price(double v)
{
    return HasPrice(v) ? Trimmed(v, false) : "-";
}

std::string Ticker::Change(const CThostFtdcDepthMarketDataField& d)
{
    const double base = HasPrice(d.PreSettlementPrice) ? d.PreSettlementPrice : d.PreClosePrice;
    if (!HasPrice(d.LastPrice) || !HasPrice(base))
        return "-";
    return Trimmed(d.LastPrice - base, true);
}

std::string Ticker::Header()
{
    char buf[256];
    std::snprintf(buf, sizeof buf, "%-14s %11s %9s %11s %6s %11s %6s %10s %-12s %s", "INSTRUMENT", "LAST",
                  "CHANGE", "BID", "BIDVOL", "ASK", "ASKVOL", "VOLUME", "UPDATED", "RECEIVED");
    return buf;
}

std::string Ticker::Row(const TickerRow& row)
{
    const CThostFtdcDepthMarketDataField& d = row.depth;
    char buf[512];
    std::snprintf(buf, sizeof buf, "%-14s %11s %9s %11s %6d %11s %6d %10d %-12s %s",
                  Bounded(d.InstrumentID, sizeof d.InstrumentID).c_str(), Price(d.LastPrice).c_str(),
                  Change(d).c_str(), Price(d.BidPrice1).c_str(), d.BidVolume1, Price(d.AskPrice1).c_str(),
                  d.AskVolume1, d.Volume, UpdateTime(d).c_str(),
                  mdtools::MicrosTimeOfDay(row.recv_us).c_str());
    return buf;
}

std::string Ticker::PlainLine(const TickerRow& row)
{
    const CThostFtdcDepthMarketDataField& d = row.depth;
    char buf[512];
    std::snprintf(
        buf, sizeof buf, "%s last=%s change=%s bid=%s x%d ask=%s x%d volume=%d updated=%s received=%s",
        Bounded(d.InstrumentID, sizeof d.InstrumentID).c_str(), Price(d.LastPrice).c_str(), Change(d).c_str(),
        Price(d.BidPrice1).c_str(), d.BidVolume1, Price(d.AskPrice1).c_str(), d.AskVolume1, d.Volume,
        UpdateTime(d).c_str(), mdtools::MicrosTimeOfDay(row.recv_us).c_str());
    return buf;
}

std::string Ticker::Redraw(const std::vector<std::string>& events, const std::vector<TickerRow>& rows,
                           int columns, int maxLines, std::size_t hidden)
{
    std::string out;
    if (drawn_ > 0)
        out += "\x1b[" + std::to_string(drawn_) + "A\r\x1b[J"; // up over the old table, clear
    for (const std::string& e : events)
        out += Fit(e, columns) + "\n";
    drawn_ = 0;
    if (rows.empty())
        return out;
    out += Fit(Header(), columns) + "\n";
    ++drawn_;
    const std::size_t room = maxLines > 2 ? static_cast<std::size_t>(maxLines - 2) : 1;
    for (std::size_t i = 0; i < rows.size() && i < room; ++i, ++drawn_)
        out += Fit(Row(rows[i]), columns) + "\n";
    const std::size_t more = (rows.size() > room ? rows.size() - room : 0) + hidden;
    if (more > 0) {
        out += Fit("... " + std::to_string(more) + " more instruments", columns) + "\n";
        ++drawn_;
    }
    return out;
}

std::string Ticker::Lines(const std::vector<std::string>& events, const std::vector<TickerRow>& rows)
{
    std::string out;
    for (const std::string& e : events)
        out += e + "\n";
    for (const TickerRow& r : rows)
        out += PlainLine(r) + "\n";
    return out;
}

} // namespace mdtools
