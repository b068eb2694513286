// wild_match on patterns of the kind users type, and glob_filenames over a
// scratch tree of about 10,000 entries: 10 directories of 10 sub-directories,
// 90 files in each of the 110.
#include <zk/zk.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr std::array<const char*, 8> names = {
    "main.c", "wild.h", "README.md", ".profile", "glob_test.cpp", "Makefile", "libzk.a", "archive-1.7.0.tar.bz2",
};

struct PatternCase {
    const char* label;
    const char* patterns;
};

constexpr std::array<PatternCase, 6> pattern_cases = {{
    {"suffix", "*.c"},
    {"braces", "*.{c,h,cpp}"},
    {"list", "*.md;*.txt;Makefile"},
    {"set", "[a-z]*_test.cpp"},
    {"stars", "*a*r*c*h*"},
    {"literal", "Makefile"},
}};

void BM_wild_match(benchmark::State& state) {
    const PatternCase& pattern = pattern_cases[static_cast<size_t>(state.range(0))];
    state.SetLabel(pattern.label);
    for (auto _ : state) {
        int matched = 0;
        for (const char* name : names) matched += zk::wild_match(name, pattern.patterns, 0);
        benchmark::DoNotOptimize(matched);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(names.size()));
}
BENCHMARK(BM_wild_match)->DenseRange(0, static_cast<int>(pattern_cases.size()) - 1);

// The tree lives for the whole run and is removed at exit.
class ScratchTree {
public:
    ScratchTree() {
        const char* temp = std::getenv("TMPDIR");
        std::string pattern = std::string(temp != nullptr ? temp : "/tmp") + "/zkbench-wild.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        root_ = pattern;
        for (int top = 0; top < 10; ++top) {
            const std::string directory = root_ + "/d" + std::to_string(top);
            ::mkdir(directory.c_str(), 0755);
            add_files(directory);
            for (int sub = 0; sub < 10; ++sub) {
                const std::string subdirectory = directory + "/s" + std::to_string(sub);
                ::mkdir(subdirectory.c_str(), 0755);
                add_files(subdirectory);
            }
        }
    }
    ~ScratchTree() {
        ::nftw(
            root_.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    const std::string& root() const { return root_; }

private:
    static void add_files(const std::string& directory) {
        for (int file = 0; file < 90; ++file) {
            const char* suffix = file % 3 == 0 ? ".c" : file % 3 == 1 ? ".h" : ".txt";
            const std::string path = directory + "/f" + std::to_string(file) + suffix;
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) ::close(fd);
        }
    }

    std::string root_;
};

const ScratchTree& scratch_tree() {
    static const ScratchTree tree;
    return tree;
}

constexpr std::array<PatternCase, 5> glob_cases = {{
    {"*/*/*.c", "/*/*/*.c"},
    {"d1/s*/f?.h", "/d1/s*/f?.h"},
    {"*/*", "/*/*"},
    {"**/f6.c", "/**/f6.c"},
    {"**", "/**"},
}};

void BM_glob_filenames(benchmark::State& state) {
    const PatternCase& pattern = glob_cases[static_cast<size_t>(state.range(0))];
    const std::string full = scratch_tree().root() + pattern.patterns;
    state.SetLabel(pattern.label);
    const int saved_count = zk::wild_limit_max_count;
    zk::wild_limit_max_count = 0;
    int64_t found = 0;
    for (auto _ : state) {
        zk::GLOB_ENTRY* list = zk::glob_filenames(full.c_str(), zk::WILD_FILES | zk::WILD_DIRS);
        for (zk::GLOB_ENTRY* entry = list; entry->name != nullptr; ++entry) {
            ++found;
            zk::chk_free(entry->name);
        }
        zk::chk_free(list);
    }
    zk::wild_limit_max_count = saved_count;
    state.counters["names"] = benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_glob_filenames)->DenseRange(0, static_cast<int>(glob_cases.size()) - 1)->Unit(benchmark::kMillisecond);

}  // namespace
