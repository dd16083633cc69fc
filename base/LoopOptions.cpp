#include "LoopOptions.h"

#include <cstdlib>
#include <initializer_list>

namespace kelvo {

namespace {

bool SameNoCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b) {
        const char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        if (x != *b)
            return false;
    }
    return *a == *b;
}

bool Enabled(const char* text)
{
    if (text == nullptr)
        return false;
    for (const char* yes : {"1", "yes", "on", "true"})
        if (SameNoCase(text, yes))
            return true;
    return false;
}

int CpuIndex(const char* text)
{
    if (text == nullptr || *text < '0' || *text > '9')
        return -1;
    long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        // No machine has this many processors; a typo is not a CPU.
        if (value > 4095)
            return -1;
    }
    return *text == '\0' ? static_cast<int>(value) : -1;
}

} // namespace

LoopOptions ParseLoopOptions(const char* poll, const char* cpu)
{
    LoopOptions options;
    options.poll = Enabled(poll);
    options.cpu = CpuIndex(cpu);
    return options;
}

LoopOptions LoopOptionsFromEnvironment()
{
    return ParseLoopOptions(std::getenv("MDLINK_LOOP_POLL"), std::getenv("MDLINK_LOOP_CPU"));
}

} // namespace kelvo
