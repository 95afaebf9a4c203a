// Collection costs on large lists: Add, Count and Item by position on
// 100,000 recipients, and a header lookup by name at growing list sizes (the
// time per lookup must not grow with the list).
#include <quillpost/collections.hpp>

#include <benchmark/benchmark.h>

using namespace quillpost;

namespace {

constexpr int kRecipients = 100000;

void BM_RecipientsAdd100k(benchmark::State& state) {
    for (auto _ : state) {
        Recipients list;
        for (int i = 0; i < kRecipients; ++i) list.Add("user@example.com");
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetItemsProcessed(state.iterations() * kRecipients);
}
BENCHMARK(BM_RecipientsAdd100k)->Unit(benchmark::kMillisecond);

void BM_RecipientsItemByPosition(benchmark::State& state) {
    Recipients list;
    for (int i = 0; i < state.range(0); ++i) list.Add("user@example.com");
    std::int32_t at = 0;
    for (auto _ : state) {
        at = at % list.Count() + 1;
        benchmark::DoNotOptimize(list.Item(at).get());
    }
}
BENCHMARK(BM_RecipientsItemByPosition)->Arg(1000)->Arg(kRecipients);

void BM_RecipientsCount(benchmark::State& state) {
    Recipients list;
    for (int i = 0; i < kRecipients; ++i) list.Add("user@example.com");
    for (auto _ : state) benchmark::DoNotOptimize(list.Count());
}
BENCHMARK(BM_RecipientsCount);

void BM_HeadersItemByName(benchmark::State& state) {
    Headers headers;
    for (int i = 0; i < state.range(0); ++i) headers.Add("X-Header-" + std::to_string(i), "v");
    const Variant name("x-header-" + std::to_string(state.range(0) / 2));
    for (auto _ : state) benchmark::DoNotOptimize(headers.Item(name).get());
}
BENCHMARK(BM_HeadersItemByName)->Arg(1000)->Arg(kRecipients);

}  // namespace

BENCHMARK_MAIN();
