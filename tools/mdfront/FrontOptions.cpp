#include "FrontOptions.h"

#include "faults/Fault.h"
#include "faults/FaultKit.h"

#include <cctype>
#include <functional>
#include <optional>
#include <sstream>

namespace mdfront {

namespace {

const char* const DefaultInstruments = "au2612,ag2612,cu2611,rb2610,IF2612,IC2612,m2609,SR609";

struct Option {
    const char* name;
    const char* value; // nullptr: a switch without a value
    const char* help;
    std::function<bool(const std::string&, FrontOptions&)> apply;
};

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

bool ParseFrontId(const std::string& v, O& o)
{
    long long n;
    if (!mdtools::ParseInt(v, n))
        return false;
    o.config.front_id = static_cast<int>(n);
    return true;
}

void AddGeneralOptions(std::vector<Option>& v)
{
    v.push_back({"help", nullptr, "show this text",
                 [](const std::string&, O& o) { return o.help = true; }});
    v.push_back({"host", "ADDR", "address to listen on (default 127.0.0.1)",
                 [](const std::string& s, O& o) { o.config.host = s; return !s.empty(); }});
    v.push_back({"port", "N", "port to listen on; 0 = ephemeral (default 0)", ParsePort});
    v.push_back({"user", "NAME", "only this user may log in (default: anyone)",
                 [](const std::string& s, O& o) { o.config.user = s; return true; }});
    v.push_back({"password", "TEXT", "only this password is accepted (default: any)",
                 [](const std::string& s, O& o) { o.config.password = s; return true; }});
    v.push_back({"trading-day", "YYYYMMDD", "trading day to report (default: today)",
                 [](const std::string& s, O& o) { o.config.trading_day = s; return true; }});
    v.push_back({"front-id", "N", "front id in login responses (default 1)", ParseFrontId});
    v.push_back({"seed", "N", "seed of the random walk and of random bytes (default 1)",
                 [](const std::string& s, O& o) { return ToCount(s, o.config.seed); }});
    v.push_back({"duration", "SECONDS", "stop after this long (default: run until Ctrl-C)",
                 [](const std::string& s, O& o) { return NonNegative(s, o.duration_seconds); }});
    v.push_back({"verbose", nullptr, "print one line per connection event",
                 [](const std::string&, O& o) { return o.verbose = true; }});
}

void AddDataOptions(std::vector<Option>& v)
{
    v.push_back({"instruments", "LIST", "known instruments, ID or ID@EXCHANGE separated by"
                 " commas, or * for any id (default au2612,ag2612,cu2611,rb2610,IF2612,IC2612,"
                 "m2609,SR609)", ParseInstruments});
    v.push_back({"exchange", "CODE", "exchange of the ids in later --instruments that name"
                 " none and have no usual one (default SHFE)",
                 [](const std::string& s, O& o) { o.config.default_exchange = s; return !s.empty(); }});
    v.push_back({"rate", "R", "depth records per second per subscribed instrument; 0 = as"
                 " fast as the socket takes them (default 2)",
                 [](const std::string& s, O& o) { return NonNegative(s, o.config.rate); }});
    v.push_back({"form", "binary|text|joined", "body form of depth records (default binary)",
                 ParseForm});
    v.push_back({"text-fields", "N", "fields per text record: 59..63 are normal, fewer or"
                 " more make malformed records (1..200, default 63)", ParseTextFields});
    v.push_back({"text-empty-zeros", nullptr, "text forms: send zero numbers as empty fields",
                 [](const std::string&, O& o) { return o.config.text_empty_zeros = true; }});
    v.push_back({"replay", "FILE", "replay a CSV file written by mdcli --csv, looping,"
                 " instead of the random walk; its instruments become the known ones",
                 [](const std::string& s, O& o) { o.config.replay_file = s; return !s.empty(); }});
    v.push_back({"forquote-interval", "SECONDS", "period of for-quote notices (default 3)",
                 ParseForQuoteInterval});
    v.push_back({"stamp-sequence", nullptr, "number the depth records of each connection 1, 2,"
                 " 3, ... in their Volume (in every body form)",
                 [](const std::string&, O& o) { return o.config.stamp_sequence = true; }});
    v.push_back({"shared-feed", nullptr, "tie records to wall-clock slots of 1/rate seconds:"
                 " fronts with the same --seed serve identical records per instrument and"
                 " slot, the slot's number within the day in Volume",
                 [](const std::string&, O& o) { return o.config.shared_feed = true; }});
    v.push_back({"delay-ms", "MS", "hold every frame back MS milliseconds before it goes out"
                 " (fractions allowed)", [](const std::string& s, O& o) {
                     return ParseMicros(s, o.config.delay);
                 }});
    v.push_back({"jitter-ms", "MS", "and a further random 0 to MS milliseconds, drawn for"
                 " each frame (order kept)", [](const std::string& s, O& o) {
                     return ParseMicros(s, o.config.jitter);
                 }});
}

void AddFaultOptions(std::vector<Option>& v)
{
    for (const FaultKind& kind : FaultKinds())
        for (const FaultFlag& flag : kind.flags)
            v.push_back({flag.name, flag.value, flag.help,
                         [parse = flag.parse](const std::string& s, O& o) {
                             return parse(s, o.config.faults);
                         }});
}

std::vector<Option> MakeOptions()
{
    std::vector<Option> v;
    AddGeneralOptions(v);
    AddDataOptions(v);
    AddFaultOptions(v);
    return v;
}

const std::vector<Option>& Options()
{
    static const std::vector<Option> all = MakeOptions();
    return all;
}

const Option* Find(const std::string& name)
{
    for (const Option& o : Options())
        if (name == o.name)
            return &o;
    return nullptr;
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
    static const char* const dce[] = {"m", "y", "a", "b", "p", "c", "cs", "i", "j", "jm", "l",
                                      "v", "pp", "eg", "eb", "lh", "jd"};
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

// Breaks help text into lines that end before column 79.
std::string Wrap(const std::string& text)
{
    const std::size_t width = 79 - 30;
    std::string out;
    std::size_t lineLength = 0;
    std::stringstream ss(text);
    std::string word;
    while (ss >> word) {
        if (lineLength > 0 && lineLength + 1 + word.size() > width) {
            out += "\n" + std::string(30, ' ');
            lineLength = 0;
        } else if (lineLength > 0) {
            out += ' ';
            ++lineLength;
        }
        out += word;
        lineLength += word.size();
    }
    return out;
}

} // namespace

std::vector<InstrumentInfo> ParseInstrumentList(const std::string& text,
                                                const std::string& defaultExchange)
{
    std::vector<InstrumentInfo> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) {
        if (item.empty())
            continue;
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

bool ParseFrontOptions(const std::vector<std::string>& args, FrontOptions& out,
                       std::string& error)
{
    out.config.rate = 2.0;
    out.config.record_limit = 0; // nobody inspects a command-line front
    out.config.instruments = ParseInstrumentList(DefaultInstruments, out.config.default_exchange);
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument '" + name + "'";
            return false;
        }
        name = name.substr(2);
        const auto eq = name.find('=');
        const bool inlineValue = eq != std::string::npos;
        if (inlineValue) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const Option* opt = Find(name);
        if (!opt) {
            error = "unknown flag --" + name;
            return false;
        }
        if (opt->value && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = "--" + name + " needs a value " + opt->value;
                return false;
            }
            value = args[++i];
        }
        if (!opt->apply(value, out)) {
            error = "bad value '" + value + "' for --" + name;
            return false;
        }
    }
    if (out.config.shared_feed && (out.config.rate <= 0 || !out.config.replay_file.empty())) {
        error = "--shared-feed needs a --rate above 0 and no --replay";
        return false;
    }
    return true;
}

std::vector<std::string> FrontFlagNames()
{
    std::vector<std::string> names;
    for (const Option& o : Options())
        names.push_back(o.name);
    return names;
}

std::string FrontUsage()
{
    const std::size_t HelpColumn = 30;
    std::string text =
        "usage: mdfront [flags]\n"
        "A market-data front simulator: accepts clients on TCP, answers logins,\n"
        "subscriptions and heartbeats, and pushes depth data and for-quote notices.\n"
        "Prints 'mdfront listening on HOST:PORT' once it accepts connections.\n\nflags:\n";
    for (const Option& o : Options()) {
        std::string head = std::string("  --") + o.name;
        if (o.value)
            head += std::string(" ") + o.value;
        text += head;
        text += head.size() < HelpColumn ? std::string(HelpColumn - head.size(), ' ')
                                         : "\n" + std::string(HelpColumn, ' ');
        text += Wrap(o.help);
        text += '\n';
    }
    return text;
}

} // namespace mdfront
