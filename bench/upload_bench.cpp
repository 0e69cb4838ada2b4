// Uploading a 1 GiB file to a local lighttpd: Protocol::Upload, fed by a cache
// that reads the file from disk, against `curl -T` on the same file.
//
//   build/bench/upload_bench
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>

#include "bench/file_cache.h"
#include "support/real_server.h"
#include "webdav/protocol.h"

namespace {

constexpr long long kFileSize = 1LL << 30;

// One lighttpd for the whole run, and a 1 GiB source file beside its root.
struct Served {
    Served() : server("lighttpd", Anonymous()) {
        if (!server.ok()) throw std::runtime_error(server.error());
        source = server.workdir() + "/source.bin";
        int fd = open(source.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || posix_fallocate(fd, 0, kFileSize) != 0)
            throw std::runtime_error("cannot make " + source);
        close(fd);
    }
    RealServer server;
    std::string source;
};

Served& Shared() {
    static Served served;
    return served;
}

struct Releaser {
    void operator()(Protocol* p) const { p->Release(); }
};

long long StoredSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

void BM_ProtocolUpload(benchmark::State& state) {
    Served& served = Shared();
    std::unique_ptr<Protocol, Releaser> protocol(
        new Protocol(served.server.url().c_str(), nullptr));
    FileCache cache(served.source);
    auto handle = std::make_shared<_FS_HANDLE>();
    for (auto _ : state) {
        _FS_FILE file;
        file.name = "up.bin";
        file.size = kFileSize;
        if (protocol->Upload("", handle, &cache, &file, nullptr) != SUCCESS) {
            state.SkipWithError("Upload failed");
            return;
        }
    }
    if (StoredSize(served.server.root() + "/up.bin") != kFileSize)
        state.SkipWithError("stored size differs");
    state.SetBytesProcessed(kFileSize * state.iterations());
}

void BM_CurlCommandLine(benchmark::State& state) {
    Served& served = Shared();
    std::string command =
        "curl -s -f -o /dev/null -T '" + served.source + "' '" + served.server.url() + "/curl.bin'";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("curl -T failed");
            return;
        }
    }
    if (StoredSize(served.server.root() + "/curl.bin") != kFileSize)
        state.SkipWithError("stored size differs");
    state.SetBytesProcessed(kFileSize * state.iterations());
}

// curl -T and Upload in turn, file by file, so that load from elsewhere on the
// machine weighs on both alike. Reports Upload's throughput as a share of curl's.
void BM_PairedUpload(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Served& served = Shared();
    std::unique_ptr<Protocol, Releaser> protocol(
        new Protocol(served.server.url().c_str(), nullptr));
    FileCache cache(served.source);
    auto handle = std::make_shared<_FS_HANDLE>();
    std::string command =
        "curl -s -f -o /dev/null -T '" + served.source + "' '" + served.server.url() + "/curl.bin'";
    Clock::duration curl{}, ours{};
    for (auto _ : state) {
        auto t0 = Clock::now();
        int status = std::system(command.c_str());
        auto t1 = Clock::now();
        _FS_FILE file;
        file.name = "up.bin";
        file.size = kFileSize;
        AERROR result = protocol->Upload("", handle, &cache, &file, nullptr);
        auto t2 = Clock::now();
        if (status != 0 || result != SUCCESS) {
            state.SkipWithError("upload failed");
            return;
        }
        curl += t1 - t0;
        ours += t2 - t1;
    }
    state.SetBytesProcessed(2 * kFileSize * state.iterations());
    auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    double n = static_cast<double>(state.iterations());
    state.counters["curl_MBps"] = n * kFileSize / seconds(curl) / 1e6;
    state.counters["upload_MBps"] = n * kFileSize / seconds(ours) / 1e6;
    state.counters["upload_vs_curl_pct"] = 100.0 * seconds(curl) / seconds(ours);
}

BENCHMARK(BM_CurlCommandLine)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2)
    ->Repetitions(3);
BENCHMARK(BM_ProtocolUpload)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2)
    ->Repetitions(3);
BENCHMARK(BM_PairedUpload)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
