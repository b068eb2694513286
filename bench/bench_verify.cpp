// The cost of the verified copy: the checksum pass over a 100 MB package,
// as the installer makes it, with the copy into sealed memory and without.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "installer_state.h"
#include "sealed_copy.h"
#include "verify_internal.h"

namespace {

constexpr size_t PACKAGE_SIZE = 100u << 20;

// A package-sized file of random bytes, read from the page cache as a
// package just downloaded would be.
int package_file() {
    static int fd = -1;
    if (fd >= 0) return fd;
    char name[] = "/tmp/bench_verify.XXXXXX";
    fd = ::mkstemp(name);
    ::unlink(name);
    std::vector<unsigned char> block(1u << 20);
    std::mt19937 random(1);
    for (size_t written = 0; written < PACKAGE_SIZE; written += block.size()) {
        for (auto& byte : block) byte = static_cast<unsigned char>(random());
        if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) std::perror("write");
    }
    return fd;
}

void checksum_pass(benchmark::State& state) {
    const bool copied = state.range(0) != 0;
    installer_state.quiet = 1;
    installer_state.package_fd = package_file();
    for (auto _ : state) {
        if (copied) start_sealed_copy(PACKAGE_SIZE);
        checksum_program_image(installer_state.package_fd, PACKAGE_SIZE);
        if (copied) {
            seal_package_copy();
            release_sealed_copy();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(PACKAGE_SIZE));
    state.SetLabel(copied ? "with the sealed copy" : "checksum alone");
}

BENCHMARK(checksum_pass)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
