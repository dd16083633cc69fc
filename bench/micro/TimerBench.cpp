// The idle-timer re-arm that the client performs for every frame received
// (ClearTimer of the old id, SetTimer of a new 12000 ms one), on the loop
// thread (where it really runs) and off it, against what re-arming a bare
// asio::steady_timer costs; and the tick count stamped into every frame.
#include "KelvoBase.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

class IdleTimer : public Kelvo_Timer {
public:
    void OnTimer(unsigned int, int, int) override {}
};

void RearmLoop(benchmark::State& state, IdleTimer& timer)
{
    unsigned int id = timer.SetTimer(12000, 0, 0, 0, nullptr);
    for (auto _ : state) {
        timer.ClearTimer(id);
        id = timer.SetTimer(12000, 0, 0, 0, nullptr);
        benchmark::DoNotOptimize(id);
    }
    timer.ClearTimer(id);
}

struct LoopArgs {
    benchmark::State* state;
    IdleTimer* timer;
};

// Other objects' pending timers deepen the heap the pair works on.
std::vector<std::unique_ptr<IdleTimer>> Background(int count)
{
    std::vector<std::unique_ptr<IdleTimer>> timers;
    for (int i = 0; i < count; ++i) {
        timers.push_back(std::make_unique<IdleTimer>());
        timers.back()->SetTimer(11000 + static_cast<unsigned int>(i % 2000), 0, 0, 0, nullptr);
    }
    return timers;
}

void BM_TimerPair_OnLoop(benchmark::State& state)
{
    const auto background = Background(static_cast<int>(state.range(0)));
    IdleTimer timer;
    LoopArgs args{&state, &timer};
    // The whole measured loop runs inside one loop callback, as the
    // per-frame re-arm does.
    Kelvo_LOOP_Call(
        [](void* p) {
            auto* a = static_cast<LoopArgs*>(p);
            RearmLoop(*a->state, *a->timer);
        },
        &args);
}
BENCHMARK(BM_TimerPair_OnLoop)->Arg(0)->Arg(1000)->UseRealTime();

void BM_TimerPair_OffLoop(benchmark::State& state)
{
    const auto background = Background(static_cast<int>(state.range(0)));
    IdleTimer timer;
    RearmLoop(state, timer);
}
BENCHMARK(BM_TimerPair_OffLoop)->Arg(0)->Arg(1000)->UseRealTime();

// What one asio timer per re-arm would cost: expires_after cancels the
// pending wait and re-arms. The io_context is not running; the cancelled
// waits are completed now and then, which is part of the cost.
void BM_AsioSteadyTimerRearm(benchmark::State& state)
{
    asio::io_context io;
    asio::steady_timer timer(io);
    std::size_t n = 0;
    for (auto _ : state) {
        timer.expires_after(std::chrono::milliseconds(12000));
        timer.async_wait([](const asio::error_code&) {});
        if ((++n & 1023) == 0)
            io.poll();
    }
    timer.cancel();
    io.poll();
}
BENCHMARK(BM_AsioSteadyTimerRearm)->UseRealTime();

void BM_TickCount(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(Kelvo_THREAD_GetTickCount());
}
BENCHMARK(BM_TickCount);

} // namespace
