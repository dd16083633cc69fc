// The loop's waiting mode as the environment's texts choose it.
#include "LoopOptions.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(LoopOptions, PollOnlyForAnExplicitYes)
{
    const struct {
        const char* text;
        bool poll;
    } cases[] = {
        {nullptr, false}, {"", false},     {"0", false},   {"no", false}, {"off", false},
        {"2", false},     {"yes ", false}, {"1", true},    {"yes", true}, {"YES", true},
        {"On", true},     {"true", true},  {"TRUE", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseLoopOptions(c.text, nullptr).poll, c.poll) << (c.text ? c.text : "(unset)");
}

TEST(LoopOptions, CpuOnlyForAPlainIndex)
{
    const struct {
        const char* text;
        int cpu;
    } cases[] = {
        {nullptr, -1}, {"", -1}, {"-1", -1},   {"+1", -1},     {"1x", -1},   {" 1", -1},
        {"0", 0},      {"3", 3}, {"0012", 12}, {"4095", 4095}, {"4096", -1}, {"99999999999999999999", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseLoopOptions(nullptr, c.text).cpu, c.cpu) << (c.text ? c.text : "(unset)");
}

} // namespace
} // namespace kelvo
