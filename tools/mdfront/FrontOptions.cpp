#include "FrontOptions.h"

#include "CaptureBook.h"
#include "CommandLine.h"
#include "ToolMetrics.h"
#include "faults/Fault.h"
#include "faults/FaultKit.h"

#include <cctype>
#include <optional>

namespace mdfront {

namespace {

using namespace mdtools;

const char* const DefaultInstruments = "au2612,ag2612,cu2611,rb2610,IF2612,IC2612,m2609,SR609";

using O = FrontOptions;

bool ParseForm(const std::string& v, O& o)
{
    if (v == "binary")
        o.config.form = DepthForm::Binary;
    else if (v == "text")
        o.config.form = DepthForm::Text;
    else if (v == "joined")
        o.config.form = DepthForm::Joined;
    else
        return false;
    return true;
}

bool ParseInstruments(const std::string& v, O& o)
{
    o.config.instruments.clear();
    if (v == "*")
        return true; // every id is known
    o.config.instruments = ParseInstrumentList(v, o.config.default_exchange);
    return !o.config.instruments.empty();
}

bool ParsePort(const std::string& v, O& o)
{
    std::uint64_t n;
    if (!ToCount(v, n, 65535))
        return false;
    o.config.port = static_cast<std::uint16_t>(n);
    return true;
}

bool ParseTextFields(const std::string& v, O& o)
{
    std::uint64_t n;
    if (!ToCount(v, n, 200) || n < 1)
        return false;
    o.config.text_fields = static_cast<int>(n);
    return true;
}

bool ParseForQuoteInterval(const std::string& v, O& o)
{
    double s;
    if (!NonNegative(v, s) || s <= 0)
        return false;
    o.config.forquote_interval = Millis(s);
    return true;
}

bool ParseMicros(const std::string& v, std::chrono::microseconds& out)
{
    double ms;
    if (!NonNegative(v, ms) || ms > 60000)
        return false;
    out = std::chrono::microseconds(static_cast<long long>(ms * 1000.0 + 0.5));
    return true;
}

// A capture file joins the others; a CSV file is the one replayed. Which
// one a file is, its first bytes say.
bool AddReplay(const std::string& v, O& o)
{
    if (v.empty())
        return false;
    if (IsCaptureFile(v)) {
        o.config.capture_files.push_back(v);
        return true;
    }
    if (!o.config.replay_file.empty())
        throw CLI::ValidationError("--replay takes one CSV file ('" + o.config.replay_file + "' and '" + v +
                                   "')");
    o.config.replay_file = v;
    return true;
}

// A factor, or "max": as fast as the socket takes them (0).
bool ParseSpeed(const std::string& v, O& o)
{
    if (v == "max") {
        o.config.replay_speed = 0;
        return true;
    }
    double x;
    if (!NonNegative(v, x) || x < 0.001 || x > 1e6)
        return false;
    o.config.replay_speed = x;
    return true;
}

bool ParseFrontId(const std::string& v, O& o)
{
    long long n;
    if (!mdtools::ParseInt(v, n))
        return false;
    o.config.front_id = static_cast<int>(n);
    return true;
}

void AddGeneralOptions(CLI::App& app, O& o)
{
    AddSwitch(app, "help", "show this text", [&o] { o.help = true; });
    AddValueFlag(app, "host", "ADDR", "address to listen on (default 127.0.0.1)", [&o](const std::string& s) {
        o.config.host = s;
        return !s.empty();
    });
    AddValueFlag(app, "port", "N", "port to listen on; 0 = ephemeral (default 0)",
                 [&o](const std::string& s) { return ParsePort(s, o); });
    AddValueFlag(app, "user", "NAME", "only this user may log in (default: anyone)",
                 [&o](const std::string& s) {
                     o.config.user = s;
                     return true;
                 });
    AddValueFlag(app, "password", "TEXT", "only this password is accepted (default: any)",
                 [&o](const std::string& s) {
                     o.config.password = s;
                     return true;
                 });
    AddValueFlag(app, "trading-day", "YYYYMMDD", "trading day to report (default: today)",
                 [&o](const std::string& s) {
                     o.config.trading_day = s;
                     return true;
                 });
    AddValueFlag(app, "front-id", "N", "front id in login responses (default 1)",
                 [&o](const std::string& s) { return ParseFrontId(s, o); });
    AddValueFlag(app, "seed", "N", "seed of the random walk and of random bytes (default 1)",
                 [&o](const std::string& s) { return ToCount(s, o.config.seed); });
    AddValueFlag(app, "duration", "SECONDS", "stop after this long (default: run until Ctrl-C)",
                 [&o](const std::string& s) { return NonNegative(s, o.duration_seconds); });
    AddSwitch(app, "verbose", "print one line per connection event", [&o] { o.verbose = true; });
    AddValueFlag(app, "metrics", "[HOST]:PORT", mdtools::MetricsFlagHelp, [&o](const std::string& v) {
        o.metrics = v;
        return mdtools::ValidMetricsAddress(v);
    });
}

void AddDataOptions(CLI::App& app, O& o)
{
    AddValueFlag(app, "instruments", "LIST",
                 "known instruments, ID or ID@EXCHANGE separated by"
                 " commas, or * for any id (default au2612,ag2612,cu2611,rb2610,IF2612,IC2612,"
                 "m2609,SR609)",
                 [&o](const std::string& s) { return ParseInstruments(s, o); });
    AddValueFlag(app, "exchange", "CODE",
                 "exchange of the ids in later --instruments that name"
                 " none and have no usual one (default SHFE)",
                 [&o](const std::string& s) {
                     o.config.default_exchange = s;
                     return !s.empty();
                 });
    AddValueFlag(app, "rate", "R",
                 "depth records per second per subscribed instrument; 0 = as"
                 " fast as the socket takes them (default 2)",
                 [&o](const std::string& s) { return NonNegative(s, o.config.rate); });
    AddValueFlag(app, "form", "binary|text|joined", "body form of depth records (default binary)",
                 [&o](const std::string& s) { return ParseForm(s, o); });
    AddValueFlag(app, "text-fields", "N",
                 "fields per text record: 59..63 are normal, fewer or"
                 " more make malformed records (1..200, default 63)",
                 [&o](const std::string& s) { return ParseTextFields(s, o); });
    AddSwitch(app, "text-empty-zeros", "text forms: send zero numbers as empty fields",
              [&o] { o.config.text_empty_zeros = true; });
    AddValueFlag(app, "replay", "FILE",
                 "instead of the random walk, replay a capture file (mdcli --capture;"
                 " repeat for more, played in the order given) once, spaced as received"
                 " (see --speed), or a CSV file written by mdcli --csv, looping at --rate;"
                 " its instruments become the known ones",
                 [&o](const std::string& s) { return AddReplay(s, o); });
    AddValueFlag(app, "speed", "X|max",
                 "replay capture files X times as fast as they were received (0.001 to"
                 " 1000000), or as fast as the socket takes them (default 1)",
                 [&o](const std::string& s) { return ParseSpeed(s, o); });
    AddValueFlag(app, "forquote-interval", "SECONDS", "period of for-quote notices (default 3)",
                 [&o](const std::string& s) { return ParseForQuoteInterval(s, o); });
    AddSwitch(app, "stamp-sequence",
              "number the depth records of each connection 1, 2,"
              " 3, ... in their Volume (in every body form)",
              [&o] { o.config.stamp_sequence = true; });
    AddSwitch(app, "shared-feed",
              "tie records to wall-clock slots of 1/rate seconds:"
              " fronts with the same --seed serve identical records per instrument and"
              " slot, the slot's number within the day in Volume",
              [&o] { o.config.shared_feed = true; });
    AddValueFlag(app, "delay-ms", "MS",
                 "hold every frame back MS milliseconds before it goes out"
                 " (fractions allowed)",
                 [&o](const std::string& s) { return ParseMicros(s, o.config.delay); });
    AddValueFlag(app, "jitter-ms", "MS",
                 "and a further random 0 to MS milliseconds, drawn for"
                 " each frame (order kept)",
                 [&o](const std::string& s) { return ParseMicros(s, o.config.jitter); });
}

void AddFaultOptions(CLI::App& app, O& o)
{
    for (const FaultKind& kind : FaultKinds())
        for (const FaultFlag& flag : kind.flags) {
            const auto parse = flag.parse;
            if (flag.value)
                AddValueFlag(app, flag.name, flag.value, flag.help,
                             [&o, parse](const std::string& s) { return parse(s, o.config.faults); });
            else
                AddSwitch(app, flag.name, flag.help, [&o, parse] { parse("", o.config.faults); });
        }
}

void Define(CLI::App& app, O& o)
{
    PrepareCommandLine(app);
    AddGeneralOptions(app, o);
    AddDataOptions(app, o);
    AddFaultOptions(app, o);
}

std::string UsualExchange(const std::string& id)
{
    std::string product;
    for (char c : id) {
        if (!std::isalpha(static_cast<unsigned char>(c)))
            break;
        product += c;
    }
    static const char* const cffex[] = {"IF", "IC", "IH", "IM", "T", "TF", "TS", "TL"};
    static const char* const dce[] = {"m",  "y", "a", "b",  "p",  "c",  "cs", "i", "j",
                                      "jm", "l", "v", "pp", "eg", "eb", "lh", "jd"};
    static const char* const czce[] = {"SR", "CF", "TA", "MA", "RM", "OI", "FG", "SA", "AP", "UR"};
    static const char* const ine[] = {"sc", "lu", "nr", "bc", "ec"};
    for (const char* p : cffex)
        if (product == p)
            return "CFFEX";
    for (const char* p : dce)
        if (product == p)
            return "DCE";
    for (const char* p : czce)
        if (product == p)
            return "CZCE";
    for (const char* p : ine)
        if (product == p)
            return "INE";
    return std::string();
}

} // namespace

std::vector<InstrumentInfo> ParseInstrumentList(const std::string& text, const std::string& defaultExchange)
{
    std::vector<InstrumentInfo> out;
    for (const std::string& item : mdtools::SplitList(text)) {
        InstrumentInfo instrument;
        const auto at = item.find('@');
        instrument.id = item.substr(0, at);
        instrument.exchange = at == std::string::npos ? UsualExchange(instrument.id) : item.substr(at + 1);
        if (instrument.exchange.empty())
            instrument.exchange = defaultExchange;
        if (!instrument.id.empty())
            out.push_back(instrument);
    }
    return out;
}

bool ParseFrontOptions(const std::vector<std::string>& args, FrontOptions& out, std::string& error)
{
    out.config.rate = 2.0;
    out.config.record_limit = 0; // nobody inspects a command-line front
    out.config.instruments = ParseInstrumentList(DefaultInstruments, out.config.default_exchange);
    CLI::App app;
    Define(app, out);
    if (!ParseCommandLine(app, args, error))
        return false;
    if (!out.config.replay_file.empty() && !out.config.capture_files.empty()) {
        error = "--replay takes a CSV file or capture files, not both";
        return false;
    }
    if (out.config.shared_feed &&
        (out.config.rate <= 0 || !out.config.replay_file.empty() || !out.config.capture_files.empty())) {
        error = "--shared-feed needs a --rate above 0 and no --replay";
        return false;
    }
    return true;
}

std::vector<std::string> FrontFlagNames()
{
    CLI::App app;
    FrontOptions unused;
    Define(app, unused);
    return FlagNames(app);
}

std::string FrontUsage()
{
    CLI::App app;
    FrontOptions unused;
    Define(app, unused);
    return "usage: mdfront [flags]\n"
           "A market-data front simulator: accepts clients on TCP, answers logins,\n"
           "subscriptions and heartbeats, and pushes depth data and for-quote notices.\n"
           "Prints 'mdfront listening on HOST:PORT' once it accepts connections.\n\n" +
        FlagsHelp(app);
}

} // namespace mdfront
