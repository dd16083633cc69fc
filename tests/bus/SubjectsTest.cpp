// Subjects and message ids: the escaping rule, and ids that depend on the
// record's content only.
#include "Subjects.h"
#include "RecordKey.h"
#include "Throttle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

using namespace mdrelay;

TEST(SubjectsTest, TokensFollowTheEscapingRule)
{
    const struct {
        std::string id;
        const char* token;
    } cases[] = {
        {"au2612", "au2612"},
        {"IF2612-C-4000", "IF2612-C-4000"},
        {"", "_"},
        {"_", "%5F"},
        {"__", "__"},
        {"a.b", "a%2Eb"},
        {"a b", "a%20b"},
        {"*", "%2A"},
        {">", "%3E"},
        {"50%", "50%25"},
        {"x\ty\x01", "x%09y%01"},
        {"\xC4\xDC", "%C4%DC"},
        {std::string("a\0b", 3), "a"}, // a fixed-width member ends at its NUL
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeToken(c.id.data(), c.id.size()), c.token) << c.id;
    // Every id of up to two bytes, and the empty one, has a token of its own.
    std::set<std::string> tokens{EscapeToken("")};
    for (int a = 1; a < 256; ++a) {
        tokens.insert(EscapeToken(std::string(1, static_cast<char>(a))));
        for (int b = 1; b < 256; ++b)
            tokens.insert(EscapeToken(std::string{static_cast<char>(a), static_cast<char>(b)}));
    }
    EXPECT_EQ(tokens.size(), 1u + 255u + 255u * 255u);
    for (const std::string& t : tokens)
        ASSERT_EQ(t.find_first_of(" .*>\t\r\n"), std::string::npos) << t;
}

TEST(SubjectsTest, DepthAndForQuoteSubjectsNeverMeet)
{
    SubjectBuilder subjects("desk.md");
    CThostFtdcDepthMarketDataField d{};
    std::strcpy(d.InstrumentID, "IF2612");
    std::strcpy(d.ExchangeID, "CFFEX");
    EXPECT_STREQ(subjects.Depth(d), "desk.md.CFFEX.IF2612");
    d.ExchangeID[0] = '\0';
    EXPECT_STREQ(subjects.Depth(d), "desk.md._.IF2612");
    std::memset(d.InstrumentID, 'x', sizeof d.InstrumentID); // no NUL in the member
    EXPECT_EQ(std::string(subjects.Depth(d)), "desk.md._." + std::string(sizeof d.InstrumentID, 'x'));
    CThostFtdcForQuoteRspField q{};
    std::strcpy(q.InstrumentID, "IF2612");
    std::strcpy(q.ExchangeID, "forquote");
    EXPECT_STREQ(subjects.ForQuote(q), "desk.md.forquote.forquote.IF2612");
    std::strcpy(d.ExchangeID, "forquote");
    std::strcpy(d.InstrumentID, "IF2612");
    EXPECT_STREQ(subjects.Depth(d), "desk.md.forquote.IF2612"); // one token fewer
    EXPECT_EQ(DepthFilter("md", "a.b"), "md.*.a%2Eb");
    EXPECT_EQ(ForQuoteFilter("md", "IF2612"), "md.forquote.*.IF2612");
    EXPECT_EQ(AllFilter("md"), "md.>");
}

TEST(SubjectsTest, Prefixes)
{
    for (const char* good : {"md", "desk.md", "a-b_c.$d"})
        EXPECT_TRUE(ValidPrefix(good)) << good;
    for (const char* bad : {"", ".md", "md.", "a..b", "md.*", "md.>", "m d", "m\td"})
        EXPECT_FALSE(ValidPrefix(bad)) << bad;
    EXPECT_FALSE(ValidPrefix(std::string(256, 'a')));
}

TEST(RecordKeyTest, TheIdOfARecordIsItsContentsAlone)
{
    CThostFtdcDepthMarketDataField d;
    std::memset(&d, 0, sizeof d); // padding included
    std::strcpy(d.InstrumentID, "au2612");
    std::strcpy(d.ExchangeID, "SHFE");
    d.LastPrice = 612.5;
    d.Volume = 42;
    char id[33];
    // Relays of every version agree on this id: it may change only with the format version.
    KeyText(KeyOf(1, &d, sizeof d), id);
    EXPECT_STREQ(id, "bf61a256b467238ec930a7e4620f712f");
    // Every single-bit change of the record, and the kind, give another id.
    std::set<std::string> ids{id};
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&d);
    for (std::size_t bit = 0; bit < sizeof d * 8; ++bit) {
        bytes[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
        KeyText(KeyOf(1, &d, sizeof d), id);
        ids.insert(id);
        bytes[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
    }
    KeyText(KeyOf(2, &d, sizeof d), id);
    ids.insert(id);
    EXPECT_EQ(ids.size(), sizeof d * 8 + 2);
    // Shorter inputs, whose last block is padded, differ from the padded bytes.
    unsigned char zeros[17] = {};
    EXPECT_NE(KeyOf(1, zeros, 16).low, KeyOf(1, zeros, 17).low);
}

TEST(SubjectsTest, StreamSubjectsAndRefusals)
{
    const struct {
        const char* filter;
        const char* subject;
        bool matches;
    } cases[] = {
        {"md.>", "md.SHFE.au2612", true},
        {"md.>", "md", false},
        {">", "md.SHFE.au2612", true},
        {"md.SHFE.>", "md.CFFEX.IF2612", false},
        {"md.*.au2612", "md.SHFE.au2612", true},
        {"md.*", "md.SHFE.au2612", false},
        {"md.*.*", "md.forquote.SHFE.au2612", false},
        {"md.SHFE.au2612", "md.SHFE.au2612", true},
        {"md.SHFE.au2612", "md.SHFE.au26", false},
        {"md.SHFE", "md.SHFE.au2612", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SubjectMatches(c.filter, c.subject), c.matches) << c.filter << " " << c.subject;
    EXPECT_EQ(RefusedSubject("Permissions Violation for Publish to \"md.CFFEX.IF2612\""), "md.CFFEX.IF2612");
    EXPECT_EQ(RefusedSubject("Permissions Violation for Publish to md.x.y"), "md.x.y");
    EXPECT_EQ(RefusedSubject("Permissions Violation for Subscription to \"_INBOX.x\""), "");
}

TEST(SubjectsTest, ErrorsOncePerKeyAndPeriod)
{
    Throttle t(100);
    const struct {
        const char* key;
        std::int64_t at;
        bool allowed;
    } steps[] = {
        {"md.a", 0, true},   {"md.a", 99, false},  {"md.b", 99, true},
        {"md.a", 100, true}, {"md.b", 150, false}, {"md.b", 199, true},
    };
    for (const auto& s : steps)
        EXPECT_EQ(t.Allow(s.key, s.at), s.allowed) << s.key << " at " << s.at;
}

} // namespace
