// The event queue under load: a burst of events posted, then dispatched one
// ProcessEvent call at a time until the queue is empty, as the idle handler
// drains it. Arguments: the burst (events) and the number of readers they are
// spread over. The burst cycles over the readers; each reader alternately
// gets a card insertion (with an ATR) and a removal, so most events are
// superseded by a newer one of the same kind for the same reader, as in a
// burst of card-state changes.
//
// Counters, per event: post_ns (posting), dispatch_ns (dispatching),
// delivered (the share of events that reached a callback).
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "pcsc/Events.h"

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::u16string> ReaderNames(int count) {
    std::vector<std::u16string> names;
    for (int i = 0; i < count; ++i) {
        const std::string name =
            "Lab Reader " + std::to_string(i / 2) + " 00 0" + std::to_string(i % 2);
        names.emplace_back(name.begin(), name.end());
    }
    return names;
}

void BM_PostThenDispatch(benchmark::State& state) {
    const auto burst = static_cast<std::size_t>(state.range(0));
    const auto names = ReaderNames(static_cast<int>(state.range(1)));
    const pcsc::Bytes atr{0x3B, 0x95, 0x13, 0x81, 0x01, 0x80, 0x73, 0xFF, 0x01, 0x00, 0x0B};

    pcsc::TPCSCEventList queue;
    std::size_t delivered = 0;
    queue.SetOnCardInsert([&](const std::u16string& name, const std::u16string& text) {
        benchmark::DoNotOptimize(name.data());
        benchmark::DoNotOptimize(text.data());
        ++delivered;
    });
    queue.SetOnCardRemove([&](const std::u16string& name) {
        benchmark::DoNotOptimize(name.data());
        ++delivered;
    });

    double postNs = 0;
    double dispatchNs = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < burst; ++i) {
            const std::u16string& name = names[i % names.size()];
            if ((i / names.size()) % 2 == 0) {
                queue.CardInsertedAsync(nullptr, name, atr);
            } else {
                queue.CardRemovedAsync(nullptr, name);
            }
        }
        const auto posted = Clock::now();
        while (queue.Count() != 0) queue.ProcessEvent();
        const auto drained = Clock::now();
        postNs += std::chrono::duration<double, std::nano>(posted - start).count();
        dispatchNs += std::chrono::duration<double, std::nano>(drained - posted).count();
    }
    const double events = static_cast<double>(burst) * static_cast<double>(state.iterations());
    state.SetItemsProcessed(static_cast<std::int64_t>(events));
    state.counters["post_ns"] = postNs / events;
    state.counters["dispatch_ns"] = dispatchNs / events;
    state.counters["delivered"] = static_cast<double>(delivered) / events;
}

BENCHMARK(BM_PostThenDispatch)
    ->ArgNames({"burst", "readers"})
    ->ArgsProduct({{10, 1000, 100000}, {1, 4, 16}})
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
