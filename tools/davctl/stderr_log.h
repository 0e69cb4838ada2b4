// The host logger davctl binds into the plug-in: one line per call on stderr, filtered by level.
#pragma once

#include <mutex>

#include "compiled/logger.h"
#include "options.h"

class StderrLog final : public ILog {
public:
    explicit StderrLog(LogLevel level);
    void Write(LOGLEVEL level, const char* text) override;
    int GetLevel() override { return mask_; }
    void WriteV(LOGLEVEL level, const char* format, va_list* args) override;

private:
    bool Enabled(LOGLEVEL level) const;
    void Emit(LOGLEVEL level, const char* text);

    int mask_;
    std::mutex lock_;  // the plug-in may log from several threads; keep lines whole
};
