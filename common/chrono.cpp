#include "chrono.h"
// PLACEHOLDER: replaced by the real implementation.
Chrono::Chrono() { reset(); }
Chrono::~Chrono() = default;
void Chrono::reset() { start = std::chrono::steady_clock::now(); }
long long Chrono::elapsed() { return 0; }
CheckInterval::CheckInterval() = default;
CheckInterval::~CheckInterval() = default;
void CheckInterval::SetCheckPoint() {}
bool CheckInterval::IsPassed(long long) { return true; }
