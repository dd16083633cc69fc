// Counting heap allocations for the tests that require none, and the heap
// in use for those that want memory given back. With glibc and no sanitizer
// every malloc of the process is seen (the base library's strings allocate
// with malloc); elsewhere only this program's operator new (RequestsTest.cpp)
// is, and the heap in use comes from the sanitizer when there is one.
#include "TestSupport.h"

#include <atomic>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MDLINK_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MDLINK_TEST_SANITIZED 1
#endif
#if defined(__GLIBC__) && !defined(MDLINK_TEST_SANITIZED)
#define MDLINK_TEST_COUNT_MALLOC 1
#include <malloc.h>
#elif defined(MDLINK_TEST_SANITIZED)
#include <sanitizer/allocator_interface.h>
#endif

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
#if defined(MDLINK_TEST_COUNT_MALLOC)
std::atomic<long> g_inUse{0};
#endif

void Count()
{
    if (g_counting.load(std::memory_order_relaxed))
        g_allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

namespace test {

void StartCountingAllocations()
{
    g_allocations = 0;
    g_counting = true;
}

long StopCountingAllocations()
{
    g_counting = false;
    return g_allocations.load();
}

long HeapBytesInUse()
{
#if defined(MDLINK_TEST_COUNT_MALLOC)
    return g_inUse.load();
#elif defined(MDLINK_TEST_SANITIZED)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
    return -1;
#endif
}

void NoteOperatorNew()
{
#if !defined(MDLINK_TEST_COUNT_MALLOC)
    Count();
#endif
}

} // namespace test

#if defined(MDLINK_TEST_COUNT_MALLOC)
// glibc's allocator under its internal names; operator new ends here too.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void __libc_free(void* p);

namespace {
void* Taken(void* p)
{
    if (p != nullptr)
        g_inUse.fetch_add(static_cast<long>(malloc_usable_size(p)), std::memory_order_relaxed);
    return p;
}
void Given(void* p)
{
    if (p != nullptr)
        g_inUse.fetch_sub(static_cast<long>(malloc_usable_size(p)), std::memory_order_relaxed);
}
} // namespace

void* malloc(std::size_t size) noexcept
{
    Count();
    return Taken(__libc_malloc(size));
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    Count();
    return Taken(__libc_calloc(count, size));
}

void* realloc(void* p, std::size_t size) noexcept
{
    Count();
    Given(p);
    return Taken(__libc_realloc(p, size));
}

void free(void* p) noexcept
{
    Given(p);
    __libc_free(p);
}
}
#endif
