// The host logger the tools bind into the plug-in: one line per call on stderr, filtered by
// level. The tools write their own notes through Write as well.
#pragma once

#include <mutex>
#include <string>

#include "compiled/logger.h"

enum class LogLevel { None, Error, Info, Trace };

// "none", "error", "info" or "trace"; false for anything else.
bool ParseLogLevel(const std::string& text, LogLevel* out);

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
