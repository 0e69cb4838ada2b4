// The process-wide logger binding. Log calls read it without a lock.
#pragma once

#include <atomic>
#include <mutex>

#include "../compiled/logger.h"

extern std::atomic<ILog*> logger;
extern std::mutex ll;  // held while logger is written

inline ILog* current_logger() {
    return logger.load(std::memory_order_relaxed);
}
