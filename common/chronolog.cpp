#include "chronolog.h"

#include "../compiled/logger.h"
#include "logstate.h"

ChronoLog::ChronoLog(std::string name) : Chrono(), name(std::move(name)) {}

ChronoLog::~ChronoLog() {
    LOGLEVEL level = LOG_INFO | LOG_PROTOCOL;
    long long ms = elapsed();
    log_line(level, "%s : %lldms", name.c_str(), ms);
}
