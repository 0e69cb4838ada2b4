// The process-wide logger binding. Log calls read it without a lock; a binder
// waits until no call is still inside the logger it replaced, so the host may
// delete that logger as soon as the bind or unbind returns.
#pragma once

#include <atomic>
#include <mutex>

#include "../compiled/logger.h"

extern std::atomic<ILog*> logger;
extern std::mutex ll;  // held while logger is written

// The bound logger, held for the length of one call on it.
class PinnedLogger {
public:
    PinnedLogger();
    ~PinnedLogger();
    PinnedLogger(const PinnedLogger&) = delete;
    PinnedLogger& operator=(const PinnedLogger&) = delete;

    ILog* get() const { return log; }

private:
    int slot;
    ILog* log;
};

// Binds log (null: none). Returns once every call on the previous logger has
// ended, except those of the calling thread itself (a logger that rebinds from
// inside its own WriteV).
void rebind_logger(ILog* log);

// One printf-style line to the bound logger; nothing when none is bound.
void log_line(LOGLEVEL level, const char* format, ...) __attribute__((format(printf, 2, 3)));
