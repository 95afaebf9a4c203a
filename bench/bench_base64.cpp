// Base64 speed: the bulk encoder over a 64 MiB buffer, and one
// Base64EncodeLine call on a full 57-byte block.
#include <quillpost/base64.hpp>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

using namespace quillpost;

namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size) {
    std::vector<std::uint8_t> data(size);
    std::mt19937_64 rng(1);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    return data;
}

void BM_Base64EncodeLines64MiB(benchmark::State& state) {
    const auto data = RandomBytes(64u << 20);
    std::string out;
    out.reserve(Base64LinesSize(data.size()));
    for (auto _ : state) {
        out.clear();
        Base64EncodeLines(data, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Base64EncodeLines64MiB)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Base64EncodeLine57(benchmark::State& state) {
    const auto block = RandomBytes(57);
    for (auto _ : state) {
        std::string line = Base64EncodeLine(block);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_Base64EncodeLine57);

}  // namespace

BENCHMARK_MAIN();
