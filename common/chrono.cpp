#include "chrono.h"

Chrono::Chrono() {
    reset();
}

Chrono::~Chrono() = default;

void Chrono::reset() {
    start = std::chrono::steady_clock::now();
}

long long Chrono::elapsed() {
    auto span = std::chrono::steady_clock::now() - start;
    // duration_cast truncates toward zero: 1.9 ms is 1 ms.
    return static_cast<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
}

CheckInterval::CheckInterval() : checkpointSet(false) {}

CheckInterval::~CheckInterval() = default;

void CheckInterval::SetCheckPoint() {
    checkpointSet = true;
    reset();
}

bool CheckInterval::IsPassed(long long ms) {
    if (!checkpointSet) return true;
    return elapsed() >= ms;
}
