// Wine's FlushProcessWriteBuffers is a stub that does nothing (Wine 8.0 says
// so in its log), so a Windows build running there must not let the loop
// enter the timer lock on the strength of it: the CI runs this under Wine.
#include "LoopLock.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace kelvotest {
namespace {

TEST(LoopLockOnWindows, FavoursTheLoopOnlyWhereTheBarrierIsReal)
{
    kelvo::LoopLock lock([](void*) {}, nullptr);
    const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
    EXPECT_EQ(lock.BiasedForTest(), !wine);
    // Not favoured: the loop finds the announcement kept for good.
    if (wine) {
        EXPECT_FALSE(lock.TryEnterFromLoop());
    }
}

} // namespace
} // namespace kelvotest
