#pragma once

#include <chrono>

// Monotonic stopwatch in whole milliseconds.
class Chrono {
public:
    Chrono();
    virtual ~Chrono();
    void reset();
    long long elapsed();

protected:
    std::chrono::steady_clock::time_point start;
};

// Answers whether a given time has passed since the last checkpoint.
class CheckInterval : public Chrono {
public:
    CheckInterval();
    ~CheckInterval() override;
    void SetCheckPoint();
    bool IsPassed(long long ms);

private:
    bool checkpointSet = false;
};
