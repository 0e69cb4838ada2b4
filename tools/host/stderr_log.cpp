#include "stderr_log.h"

#include <cstdio>
#include <string>
#include <utility>

namespace {

constexpr int severities = int{LOG_TRACE} | int{LOG_INFO} | int{LOG_ERROR};
constexpr int sources = int{LOG_PROTOCOL} | int{LOG_CURL} | int{LOG_TRANSFER};

int MaskFor(LogLevel level) {
    switch (level) {
        case LogLevel::None:
            return 0;
        case LogLevel::Error:
            return LOG_ERROR | sources;
        case LogLevel::Info:
            return LOG_ERROR | LOG_INFO | sources;
        case LogLevel::Trace:
            return severities | sources;
    }
    return 0;
}

const char* Tag(int level) {
    if (level & LOG_ERROR) return "error";
    if (level & LOG_INFO) return "info";
    return "trace";
}

}  // namespace

bool ParseLogLevel(const std::string& text, LogLevel* out) {
    static const std::pair<const char*, LogLevel> names[] = {{"none", LogLevel::None},
                                                             {"error", LogLevel::Error},
                                                             {"info", LogLevel::Info},
                                                             {"trace", LogLevel::Trace}};
    for (auto& [name, level] : names)
        if (text == name) {
            *out = level;
            return true;
        }
    return false;
}

StderrLog::StderrLog(LogLevel level) : mask_(MaskFor(level)) {}

bool StderrLog::Enabled(LOGLEVEL level) const {
    // A line without a severity bit is detail, shown with the trace lines.
    int severity = level & severities;
    if (severity == 0) severity = LOG_TRACE;
    return (severity & mask_) != 0;
}

void StderrLog::Write(LOGLEVEL level, const char* text) {
    if (Enabled(level)) Emit(level, text != nullptr ? text : "");
}

void StderrLog::WriteV(LOGLEVEL level, const char* format, va_list* args) {
    if (!Enabled(level) || format == nullptr || args == nullptr) return;
    va_list copy;
    va_copy(copy, *args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n < 0) return;
    std::string text(static_cast<size_t>(n), '\0');
    vsnprintf(&text[0], text.size() + 1, format, *args);
    Emit(level, text.c_str());
}

void StderrLog::Emit(LOGLEVEL level, const char* text) {
    std::string line = std::string("[") + Tag(level) + "] " + text;
    // Transport lines often carry their own line end.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    line += '\n';
    std::lock_guard<std::mutex> guard(lock_);
    fwrite(line.data(), 1, line.size(), stderr);
}
