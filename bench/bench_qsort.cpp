// zk::qsort against the standard sorts on shuffled arrays of pointers, the
// shape of the library's own sorts (glob results, expansion lists).
#include <zk/zk.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

namespace {

struct Workload {
    std::vector<int> values;
    std::vector<const int*> pointers;
};

Workload shuffled_pointers(size_t count) {
    Workload workload;
    workload.values.resize(count);
    std::iota(workload.values.begin(), workload.values.end(), 0);
    std::mt19937 random(12345);
    std::shuffle(workload.values.begin(), workload.values.end(), random);
    for (const int& value : workload.values) workload.pointers.push_back(&value);
    return workload;
}

int compare_pointees(const void* a, const void* b) {
    const int x = **static_cast<const int* const*>(a);
    const int y = **static_cast<const int* const*>(b);
    return (x > y) - (x < y);
}

bool pointee_less(const int* a, const int* b) { return *a < *b; }

template <typename Sort>
void run(benchmark::State& state, Sort sort) {
    const Workload workload = shuffled_pointers(static_cast<size_t>(state.range(0)));
    std::vector<const int*> array;
    for (auto _ : state) {
        state.PauseTiming();
        array = workload.pointers;
        state.ResumeTiming();
        sort(array);
        benchmark::DoNotOptimize(array.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_zk_qsort(benchmark::State& state) {
    run(state, [](std::vector<const int*>& a) { zk::qsort(a.data(), a.size(), sizeof a[0], compare_pointees); });
}

void BM_std_sort(benchmark::State& state) {
    run(state, [](std::vector<const int*>& a) { std::sort(a.begin(), a.end(), pointee_less); });
}

void BM_std_stable_sort(benchmark::State& state) {
    run(state, [](std::vector<const int*>& a) { std::stable_sort(a.begin(), a.end(), pointee_less); });
}

}  // namespace

BENCHMARK(BM_zk_qsort)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_std_sort)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_std_stable_sort)->RangeMultiplier(10)->Range(1000, 1000000)->Unit(benchmark::kMicrosecond);
