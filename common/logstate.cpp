#include "logstate.h"

#include <chrono>
#include <cstdarg>
#include <thread>

std::atomic<ILog*> logger{nullptr};
std::mutex ll;

namespace {

// Holds are counted in two slots chosen by the parity of the epoch. A binder
// moves the epoch on and waits for the slot it left to drain, twice, so holds
// taken after the swap (which see the new logger) never keep it waiting.
std::atomic<unsigned> epoch{0};
std::atomic<long> holds[2];
thread_local long ownHolds[2];

void Drain(int slot) {
    for (int spins = 0; holds[slot].load() != ownHolds[slot]; ++spins) {
        if (spins < 100)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

}  // namespace

PinnedLogger::PinnedLogger() : slot(static_cast<int>(epoch.load() & 1)) {
    holds[slot].fetch_add(1);
    ++ownHolds[slot];
    // Read after the hold is counted: a binder that has not seen the hold has
    // already stored its logger, and this reads that one.
    log = logger.load();
}

PinnedLogger::~PinnedLogger() {
    --ownHolds[slot];
    holds[slot].fetch_sub(1);
}

void rebind_logger(ILog* log) {
    std::lock_guard<std::mutex> guard(ll);
    logger.store(log);
    unsigned e = epoch.load();
    epoch.store(e + 1);
    Drain(static_cast<int>(e & 1));
    epoch.store(e + 2);
    Drain(static_cast<int>((e + 1) & 1));
}

void log_line(LOGLEVEL level, const char* format, ...) {
    PinnedLogger pin;
    if (pin.get() == nullptr) return;
    va_list args;
    va_start(args, format);
    pin.get()->WriteV(level, format, &args);
    va_end(args);
}
