// A value that tells the calling thread from every other live thread, read
// without a function call where the platform allows: the thread pointer on
// Linux x86-64 and AArch64 (one register or segment read, where
// std::this_thread::get_id() is a call into the C library), the thread id
// elsewhere. The loop compares it on every timer call of the receive path.
#pragma once

#include <cstdint>
#include <thread>

namespace kelvo {

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))

using ThreadKey = const void*;

inline ThreadKey ThisThreadKey()
{
#if defined(__x86_64__)
    // The thread control block's pointer to itself, at %fs:0 (the C
    // library's ABI); g++ before 11 lacks __builtin_thread_pointer here, and
    // the release is built with such a compiler.
    const void* self;
    asm("mov %%fs:0, %0" : "=r"(self));
    return self;
#else
    return __builtin_thread_pointer();
#endif
}

#else

using ThreadKey = std::thread::id;

inline ThreadKey ThisThreadKey()
{
    return std::this_thread::get_id();
}

#endif

} // namespace kelvo
