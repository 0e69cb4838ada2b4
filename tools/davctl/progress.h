// A one-line progress bar on stderr (bytes, rate, time left); silent unless enabled.
#pragma once

#include <chrono>
#include <string>

class Progress {
public:
    Progress(bool enabled, long long total);
    ~Progress();
    // done bytes so far; rate in bytes per second, or a negative value to use the average.
    void Update(long long done, double rate = -1);
    // Draws the final state and ends the line.
    void Finish();

    // Human-readable byte counts: "512 B", "1.5 KiB", "3.2 MiB".
    static std::string Bytes(double count);

private:
    void Draw(long long done, double rate);

    bool enabled_;
    bool drawn_ = false;
    bool finished_ = false;
    long long total_;
    long long last_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point lastDraw_;
};
