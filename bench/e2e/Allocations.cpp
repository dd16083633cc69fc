#include "Allocations.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define BENCH_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BENCH_SANITIZED 1
#endif

#if defined(__GLIBC__) && !defined(BENCH_SANITIZED)
#define BENCH_COUNT_MALLOC 1
#include <pthread.h>
#include <unistd.h>
#endif

namespace bench {

namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_count{0};
#if BENCH_COUNT_MALLOC
pthread_t g_thread;
#endif

inline void Count()
{
#if BENCH_COUNT_MALLOC
    if (g_counting.load(std::memory_order_relaxed) && pthread_equal(pthread_self(), g_thread))
        g_count.fetch_add(1, std::memory_order_relaxed);
#endif
}
} // namespace

bool CanCountAllocations()
{
#if BENCH_COUNT_MALLOC
    return true;
#else
    return false;
#endif
}

void StartCountingHere()
{
#if BENCH_COUNT_MALLOC
    g_thread = pthread_self();
#endif
    g_count = 0;
    g_counting = true;
}

long StopCounting()
{
    g_counting = false;
    return g_count.load();
}

long ResidentKiB()
{
#if defined(__linux__)
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return 0;
    long pages = 0, resident = 0;
    const int n = std::fscanf(f, "%ld %ld", &pages, &resident);
    std::fclose(f);
    return n == 2 ? resident * (sysconf(_SC_PAGESIZE) / 1024) : 0;
#else
    return 0;
#endif
}

} // namespace bench

#if BENCH_COUNT_MALLOC
// glibc's own allocator under its internal names; operator new ends here too.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);

void* malloc(std::size_t size) noexcept
{
    bench::Count();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    bench::Count();
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t size) noexcept
{
    bench::Count();
    return __libc_realloc(p, size);
}
}
#endif
