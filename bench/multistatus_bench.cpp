// Client-side cost of a listing: a real 10,000-entry lighttpd answer turned
// into the host's records, with and without the XML parse.

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "bench/big_folder.h"
#include "webdav/multistatus.h"
#include "webdav/protocol.h"

namespace {

constexpr int kEntries = 10000;

struct Answer {
    std::string url, body, error;
};

const Answer& RealAnswer() {
    static const Answer answer = [] {
        Answer a;
        BigFolder folder(kEntries);
        if (!folder.ok()) {
            a.error = folder.error;
            return a;
        }
        a.url = folder.url();
        a.body = folder.Answer();
        if (a.body.empty()) a.error = "no answer from lighttpd";
        return a;
    }();
    return answer;
}

int Count(const nodeinfo* chain) {
    int n = 0;
    for (; chain != nullptr; chain = chain->next) ++n;
    return n;
}

// Records from an already parsed document: the parser's own work.
void RecordsFromParsedTree(benchmark::State& state) {
    const Answer& answer = RealAnswer();
    if (!answer.error.empty()) return state.SkipWithError(answer.error.c_str());
    Protocol protocol(answer.url.c_str(), nullptr);
    auto doc = ParseMultistatus(answer.body.data(), answer.body.size());
    if (!doc) return state.SkipWithError("answer is not a document");
    int entries = 0;
    for (auto _ : state) {
        nodeinfo* chain = protocol.parsePropfindAnswer(doc->children);
        entries = Count(chain);
        Protocol::nodeinfoFree(chain);
    }
    if (entries != kEntries + 1) return state.SkipWithError("unexpected entry count");
    state.SetItemsProcessed(state.iterations() * entries);
    state.counters["bytes_per_entry"] = static_cast<double>(answer.body.size()) / entries;
}

// Builds the records of the answer with make(protocol, answer) in every iteration.
template <typename Make>
void Records(benchmark::State& state, Make make) {
    const Answer& answer = RealAnswer();
    if (!answer.error.empty()) return state.SkipWithError(answer.error.c_str());
    Protocol protocol(answer.url.c_str(), nullptr);
    int entries = 0;
    for (auto _ : state) {
        nodeinfo* chain = make(protocol, answer);
        entries = Count(chain);
        Protocol::nodeinfoFree(chain);
    }
    if (entries != kEntries + 1) return state.SkipWithError("unexpected entry count");
    state.SetItemsProcessed(state.iterations() * entries);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(answer.body.size()));
}

// XML parse plus records: everything the client does with the body.
void ParseAndRecords(benchmark::State& state) {
    Records(state, [](Protocol& protocol, const Answer& answer) -> nodeinfo* {
        auto doc = ParseMultistatus(answer.body.data(), answer.body.size());
        return doc ? protocol.parsePropfindAnswer(doc->children) : nullptr;
    });
}

// What a listing does with the body: the callback reader, no tree.
void StreamedRecords(benchmark::State& state) {
    Records(state, [](Protocol& protocol, const Answer& answer) -> nodeinfo* {
        MultistatusRecords records(protocol);
        records.Feed(answer.body.data(), answer.body.size());
        return records.Finish() ? records.Take() : nullptr;
    });
}

// The XML parse alone, for comparison.
void ParseOnly(benchmark::State& state) {
    const Answer& answer = RealAnswer();
    if (!answer.error.empty()) return state.SkipWithError(answer.error.c_str());
    for (auto _ : state) {
        auto doc = ParseMultistatus(answer.body.data(), answer.body.size());
        benchmark::DoNotOptimize(doc.get());
    }
    state.SetItemsProcessed(state.iterations() * (kEntries + 1));
}

}  // namespace

BENCHMARK(RecordsFromParsedTree)->Unit(benchmark::kMillisecond);
BENCHMARK(StreamedRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseAndRecords)->Unit(benchmark::kMillisecond);
BENCHMARK(ParseOnly)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
