// End to end: listing a 10,000-entry folder of a local lighttpd through the
// plug-in, against a bare libcurl PROPFIND with the same body that only
// collects the answer.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <memory>
#include <string>

#include "bench/big_folder.h"
#include "support/host_doubles.h"
#include "webdav/protocol.h"

namespace {

constexpr int kEntries = 10000;

BigFolder& Folder() {
    static BigFolder folder(kEntries);
    return folder;
}

class CountingSink : public IFileList {
public:
    AERROR AddFile(_FS_FILE* file) override {
        ++count;
        benchmark::DoNotOptimize(file->id.data());
        return SUCCESS;
    }
    int count = 0;
};

void PluginListing(benchmark::State& state, bool gzip) {
    BigFolder& folder = Folder();
    if (!folder.ok()) return state.SkipWithError(folder.error.c_str());
    Protocol protocol(folder.url().c_str(), nullptr);
    protocol.SetOpt("gzip", gzip ? "true" : "false");
    int delivered = 0;
    for (auto _ : state) {
        CountingSink sink;
        if (protocol.GetFileList("/big", &sink, nullptr) != SUCCESS)
            return state.SkipWithError("listing failed");
        delivered = sink.count;
    }
    if (delivered != kEntries) return state.SkipWithError("unexpected entry count");
    state.SetItemsProcessed(state.iterations() * delivered);
}

size_t Collect(char* data, size_t size, size_t count, void* to) {
    static_cast<std::string*>(to)->append(data, size * count);
    return size * count;
}

// The transfer alone, on one kept-alive handle, as the plug-in's pool does.
void BareCurlPropfind(benchmark::State& state) {
    BigFolder& folder = Folder();
    if (!folder.ok()) return state.SkipWithError(folder.error.c_str());
    std::shared_ptr<CURL> curl(curl_easy_init(), curl_easy_cleanup);
    std::shared_ptr<curl_slist> headers(
        curl_slist_append(curl_slist_append(nullptr, "Depth: 1"), "Content-Type: text/xml"),
        curl_slist_free_all);
    std::string target = folder.url() + "/big";
    std::string body;
    curl_easy_setopt(curl.get(), CURLOPT_URL, target.c_str());
    curl_easy_setopt(curl.get(), CURLOPT_CUSTOMREQUEST, "PROPFIND");
    curl_easy_setopt(curl.get(), CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl.get(), CURLOPT_POSTFIELDS, PropfindBody());
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, Collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    for (auto _ : state) {
        body.clear();
        if (curl_easy_perform(curl.get()) != CURLE_OK)
            return state.SkipWithError("transfer failed");
    }
    state.SetItemsProcessed(state.iterations() * (kEntries + 1));
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
    // How long the server works before its first byte, of the last transfer.
    curl_off_t firstByte = 0;
    curl_off_t total = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_STARTTRANSFER_TIME_T, &firstByte);
    curl_easy_getinfo(curl.get(), CURLINFO_TOTAL_TIME_T, &total);
    state.counters["first_byte_ms"] = static_cast<double>(firstByte) / 1000.0;
    state.counters["total_ms"] = static_cast<double>(total) / 1000.0;
}

}  // namespace

BENCHMARK_CAPTURE(PluginListing, identity, false)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(PluginListing, gzip, true)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareCurlPropfind)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
