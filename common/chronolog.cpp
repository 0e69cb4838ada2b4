#include "chronolog.h"
// PLACEHOLDER: replaced by the real implementation.
ChronoLog::ChronoLog(std::string n) : name(std::move(n)) {}
ChronoLog::~ChronoLog() = default;
