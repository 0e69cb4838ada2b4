// The host's logger as plug-ins see it.
#pragma once

#include <cstdarg>
#include <cstdint>

enum LOGLEVEL : int32_t {
    LOG_TRACE = 1,
    LOG_INFO = 2,
    LOG_ERROR = 8,
    LOG_PROTOCOL = 0x400,
    LOG_CURL = 0x800,
    LOG_TRANSFER = 0x2000,
};

inline LOGLEVEL operator|(LOGLEVEL a, LOGLEVEL b) {
    return static_cast<LOGLEVEL>(static_cast<int32_t>(a) | static_cast<int32_t>(b));
}
inline LOGLEVEL operator&(LOGLEVEL a, LOGLEVEL b) {
    return static_cast<LOGLEVEL>(static_cast<int32_t>(a) & static_cast<int32_t>(b));
}

class ILog {
public:
    // Slot 0 belongs to the host; plug-ins never call it.
    virtual void Write(LOGLEVEL level, const char* text) = 0;
    // The enabled LOGLEVEL mask.
    virtual int GetLevel() = 0;
    // Formats and writes one printf-style line; filtering by level is the logger's.
    virtual void WriteV(LOGLEVEL level, const char* format, va_list* args) = 0;

protected:
    ~ILog() = default;
};

// Forwards one printf-style line to the host's logger; a null logger makes it a no-op.
inline void __LOG__A(ILog* log, LOGLEVEL level, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

inline void __LOG__A(ILog* log, LOGLEVEL level, const char* format, ...) {
    if (log == nullptr) return;
    va_list args;
    va_start(args, format);
    log->WriteV(level, format, &args);
    va_end(args);
}
