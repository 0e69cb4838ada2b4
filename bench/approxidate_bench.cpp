// Conversions per second of the timestamps PROPFIND answers carry most.

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdlib>
#include <string>

#include "webdav/approxidate.h"

namespace {

void convert(benchmark::State& state, const char* text) {
    // The machine's zone must not matter for texts that name theirs.
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const std::string input = text;
    for (auto _ : state) {
        std::string out = convert_last_modified_to_rfc3339(input);
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(state.iterations());
}

void approx(benchmark::State& state, const char* text) {
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    for (auto _ : state) {
        struct timeval tv;
        benchmark::DoNotOptimize(approxidate(text, &tv));
        benchmark::DoNotOptimize(tv);
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(convert, rfc1123, "Sun, 06 Nov 1994 08:49:37 GMT");
BENCHMARK_CAPTURE(convert, iso8601_z, "1994-11-06T08:49:37Z");
BENCHMARK_CAPTURE(convert, iso8601_offset, "1994-11-06T10:49:37+02:00");
// For comparison: paths that do need the local zone or the approximate reading.
BENCHMARK_CAPTURE(convert, iso8601_local, "1994-11-06T08:49:37");
BENCHMARK_CAPTURE(convert, relative, "3 days ago");
BENCHMARK_CAPTURE(approx, rfc1123, "Sun, 06 Nov 1994 08:49:37 GMT");

BENCHMARK_MAIN();
