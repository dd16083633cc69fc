// WriteLog: the record layout handed to the log object.
#include "TestSupport.h"

using test::ClientFixture;

namespace {

class WriteLog : public ClientFixture {
protected:
    const fake::TraceLine& Write(int level, const char* tag, const std::string& message)
    {
        world().Reset();
        client->WriteLog(level, tag, "%s", message.c_str());
        EXPECT_EQ(world().lines.size(), 1u);
        return world().lines.back();
    }
};

TEST_F(WriteLog, LevelTextModuleAndTagAreAlignedInTheirColumns)
{
    EXPECT_EQ(Write(3, "HeartBeat", "Send HeartBeat").text,
              "<app>[   KVMDApi][   HeartBeat] - Send HeartBeat");
    EXPECT_EQ(Write(3, "ConnectFaild", "x").text, "<app>[   KVMDApi][ConnectFaild] - x");
    EXPECT_EQ(Write(1, "Init", "x").text, "<err>[   KVMDApi][        Init] - x");
    EXPECT_EQ(Write(2, "Init", "x").text, "<war>[   KVMDApi][        Init] - x");
    EXPECT_EQ(Write(4, "HNDMSG", "x").text, "<dbg>[   KVMDApi][      HNDMSG] - x");
    EXPECT_EQ(Write(3, "AVeryLongTagName", "x").text, "<app>[   KVMDApi][AVeryLongTagName] - x")
        << "a longer tag is not cut";
}

TEST_F(WriteLog, OtherLevelsHaveNoTextButPassThroughUnchanged)
{
    const fake::TraceLine& zero = Write(0, "Tag", "m");
    EXPECT_EQ(zero.level, 0);
    EXPECT_EQ(zero.text, "[   KVMDApi][         Tag] - m");
    const fake::TraceLine& five = Write(5, "Tag", "m");
    EXPECT_EQ(five.level, 5);
    EXPECT_EQ(five.text.substr(0, 1), "[");
    EXPECT_EQ(Write(3, "Tag", "m").level, 3);
}

TEST_F(WriteLog, LongMessagesAreCutAtTheLimit)
{
#if defined(_WIN32)
    const std::size_t kept = 2000;
#else
    const std::size_t kept = 1999;
#endif
    const std::string message(3000, 'm');
    const std::string text = Write(3, "Tag", message).text;
    const std::string prefix = "<app>[   KVMDApi][         Tag] - ";
    ASSERT_EQ(text.substr(0, prefix.size()), prefix);
    EXPECT_EQ(text.size() - prefix.size(), kept);
    const std::string exact(kept, 'e');
    EXPECT_EQ(Write(3, "Tag", exact).text.size() - prefix.size(), kept);
}

TEST_F(WriteLog, FormatsItsArguments)
{
    world().Reset();
    client->WriteLog(3, "Timeout", "reConnect [%s] %d", "10.0.0.1", 7000);
    ASSERT_EQ(world().lines.size(), 1u);
    EXPECT_EQ(world().lines[0].text, "<app>[   KVMDApi][     Timeout] - reConnect [10.0.0.1] 7000");
}

} // namespace
