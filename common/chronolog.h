#pragma once

#include <string>

#include "chrono.h"

// Scoped timer: logs "<name> : <ms>ms" at LOG_INFO | LOG_PROTOCOL when destroyed.
class ChronoLog : public Chrono {
public:
    explicit ChronoLog(std::string name);
    ~ChronoLog() override;

private:
    std::string name;
};
