// Ranged reads of a 1 GiB file from a local lighttpd: Protocol::Read in 4 MiB
// ranges against a bare libcurl loop making the same range requests on one easy
// handle, and the memory a read holds whatever its length.
//
//   build/bench/read_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "support/real_server.h"
#include "webdav/protocol.h"

namespace {

constexpr long long kFileSize = 1LL << 30;
constexpr long long kRange = 4LL << 20;
const char* const kName = "big.bin";

// One lighttpd for the whole run, serving a 1 GiB file made with fallocate.
struct Served {
    Served() : server("lighttpd", Anonymous()) {
        if (!server.ok()) throw std::runtime_error(server.error());
        std::string path = server.root() + "/" + kName;
        int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        if (fd < 0 || posix_fallocate(fd, 0, kFileSize) != 0)
            throw std::runtime_error("cannot make " + path);
        close(fd);
    }
    RealServer server;
};

Served& Shared() {
    static Served served;
    return served;
}

long ResidentKiB();

class CountingSink : public IFetchCallback {
public:
    AERROR OnData(long long, const char*, long long length, int) override {
        bytes += length;
        if (sampleEvery != 0 && ++blocks % sampleEvery == 0)
            peakKiB = std::max(peakKiB, ResidentKiB());
        return SUCCESS;
    }
    long long bytes = 0;
    long long blocks = 0;
    long long sampleEvery = 0;  // blocks between samples of resident memory, 0: none
    long peakKiB = 0;
};

// Resident memory of the process now, in KiB.
long ResidentKiB() {
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (f != nullptr) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct Releaser {
    void operator()(Protocol* p) const { p->Release(); }
};

void BM_ProtocolRead4MiB(benchmark::State& state) {
    Served& served = Shared();
    std::unique_ptr<Protocol, Releaser> protocol(
        new Protocol(served.server.url().c_str(), nullptr));
    auto handle = std::make_shared<_FS_HANDLE>();
    CountingSink sink;
    std::string id = std::string("/") + kName;
    for (auto _ : state) {
        for (long long at = 0; at < kFileSize; at += kRange) {
            if (protocol->Read(id.c_str(), at, kRange, handle, &sink, nullptr) != SUCCESS) {
                state.SkipWithError("Read failed");
                return;
            }
        }
    }
    if (sink.bytes != kFileSize * state.iterations()) state.SkipWithError("bytes missing");
    state.SetBytesProcessed(sink.bytes);
}

size_t Discard(char*, size_t size, size_t count, void* bytes) {
    *static_cast<long long*>(bytes) += static_cast<long long>(size * count);
    return size * count;
}

void BM_BareCurlRead4MiB(benchmark::State& state) {
    Served& served = Shared();
    std::shared_ptr<CURL> curl(curl_easy_init(), curl_easy_cleanup);
    std::string url = served.server.url() + "/" + kName;
    long long bytes = 0;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &bytes);
    for (auto _ : state) {
        for (long long at = 0; at < kFileSize; at += kRange) {
            std::string range = std::to_string(at) + "-" + std::to_string(at + kRange - 1);
            curl_easy_setopt(curl.get(), CURLOPT_RANGE, range.c_str());
            if (curl_easy_perform(curl.get()) != CURLE_OK) {
                state.SkipWithError("transfer failed");
                return;
            }
        }
    }
    if (bytes != kFileSize * state.iterations()) state.SkipWithError("bytes missing");
    state.SetBytesProcessed(bytes);
}

// The same ranges, alternating between the two readers range by range, so that
// load from elsewhere on the machine weighs on both alike. Reports Protocol::Read's
// throughput as a share of the bare loop's.
void BM_PairedRead4MiB(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    Served& served = Shared();
    std::unique_ptr<Protocol, Releaser> protocol(
        new Protocol(served.server.url().c_str(), nullptr));
    auto handle = std::make_shared<_FS_HANDLE>();
    CountingSink sink;
    std::string id = std::string("/") + kName;
    std::shared_ptr<CURL> curl(curl_easy_init(), curl_easy_cleanup);
    std::string url = served.server.url() + "/" + kName;
    long long bytes = 0;
    curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Discard);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &bytes);
    // Connections open and the file's pages in memory before anything is timed.
    curl_easy_setopt(curl.get(), CURLOPT_RANGE, nullptr);
    curl_easy_perform(curl.get());
    protocol->Read(id.c_str(), 0, kRange, handle, &sink, nullptr);
    bytes = sink.bytes = 0;
    Clock::duration bare{}, ours{};
    for (auto _ : state) {
        for (long long at = 0; at < kFileSize; at += kRange) {
            std::string range = std::to_string(at) + "-" + std::to_string(at + kRange - 1);
            curl_easy_setopt(curl.get(), CURLOPT_RANGE, range.c_str());
            auto t0 = Clock::now();
            CURLcode code = curl_easy_perform(curl.get());
            auto t1 = Clock::now();
            AERROR result = protocol->Read(id.c_str(), at, kRange, handle, &sink, nullptr);
            auto t2 = Clock::now();
            if (code != CURLE_OK || result != SUCCESS) {
                state.SkipWithError("read failed");
                return;
            }
            bare += t1 - t0;
            ours += t2 - t1;
        }
    }
    if (bytes != sink.bytes) state.SkipWithError("byte counts differ");
    state.SetBytesProcessed(bytes + sink.bytes);
    auto seconds = [](Clock::duration d) { return std::chrono::duration<double>(d).count(); };
    state.counters["bare_MBps"] = bytes / seconds(bare) / 1e6;
    state.counters["read_MBps"] = sink.bytes / seconds(ours) / 1e6;
    state.counters["read_vs_bare_pct"] = 100.0 * seconds(bare) / seconds(ours);
}

// The whole file in one Read: what the process holds must not grow with the length.
void BM_ProtocolReadMemory(benchmark::State& state) {
    Served& served = Shared();
    std::unique_ptr<Protocol, Releaser> protocol(
        new Protocol(served.server.url().c_str(), nullptr));
    auto handle = std::make_shared<_FS_HANDLE>();
    CountingSink sink;
    std::string id = std::string("/") + kName;
    const long long length = state.range(0);
    protocol->Read(id.c_str(), 0, 65536, handle, &sink, nullptr);  // warm the pool
    long before = ResidentKiB();
    sink.bytes = 0;
    sink.sampleEvery = 16;  // every MiB
    sink.peakKiB = before;
    for (auto _ : state) {
        if (protocol->Read(id.c_str(), 0, length, handle, &sink, nullptr) != SUCCESS) {
            state.SkipWithError("Read failed");
            return;
        }
    }
    state.SetBytesProcessed(sink.bytes);
    state.counters["rss_growth_KiB"] = static_cast<double>(sink.peakKiB - before);
}

BENCHMARK(BM_BareCurlRead4MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_ProtocolRead4MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3)
    ->Repetitions(3);
BENCHMARK(BM_PairedRead4MiB)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2)
    ->Repetitions(3);
BENCHMARK(BM_ProtocolReadMemory)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Arg(1 << 20)
    ->Arg(64 << 20)
    ->Arg(kFileSize);

}  // namespace

BENCHMARK_MAIN();
