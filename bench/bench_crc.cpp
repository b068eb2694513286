// Throughput of crc32_accum, whose step the package checksum shares, over the
// chunk sizes its callers feed it: 1 KiB reads and 64 KiB blocks.
#include <zk/zk.h>

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

void crc32_accum_chunks(benchmark::State& state) {
    const auto chunk = static_cast<size_t>(state.range(0));
    std::vector<unsigned char> data(chunk);
    std::mt19937 random(1);
    for (auto& byte : data) byte = static_cast<unsigned char>(random());

    zk::crc32_accum(nullptr, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zk::crc32_accum(data.data(), static_cast<int>(chunk)));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(chunk));
}

BENCHMARK(crc32_accum_chunks)->Arg(1024)->Arg(64 * 1024);

}  // namespace
