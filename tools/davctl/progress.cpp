#include "progress.h"

#include <cstdio>

namespace {
constexpr auto redrawEvery = std::chrono::milliseconds(100);
constexpr int barWidth = 24;
}  // namespace

Progress::Progress(bool enabled, long long total)
    : enabled_(enabled), total_(total), start_(std::chrono::steady_clock::now()) {}

Progress::~Progress() {
    // A bar left open by an early return would glue the error line onto it.
    if (drawn_ && !finished_) fputc('\n', stderr);
}

std::string Progress::Bytes(double count) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (count >= 1024 && unit < 4) {
        count /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        snprintf(text, sizeof text, "%.0f %s", count, units[unit]);
    else
        snprintf(text, sizeof text, "%.1f %s", count, units[unit]);
    return text;
}

void Progress::Update(long long done, double rate) {
    if (!enabled_ || finished_) return;
    last_ = done;
    auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - lastDraw_ < redrawEvery) return;
    lastDraw_ = now;
    Draw(done, rate);
}

void Progress::Finish() {
    if (!enabled_ || finished_) return;
    Draw(total_ > 0 ? total_ : last_, -1);
    fputc('\n', stderr);
    finished_ = true;
}

void Progress::Draw(long long done, double rate) {
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    if (rate < 0) rate = elapsed > 0 ? done / elapsed : 0;
    double fraction = total_ > 0 ? static_cast<double>(done) / total_ : 1.0;
    if (fraction > 1) fraction = 1;
    int filled = static_cast<int>(fraction * barWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(barWidth, '.');

    std::string left = "--:--";
    if (rate > 0 && total_ >= done) {
        long long seconds = static_cast<long long>((total_ - done) / rate + 0.5);
        char text[32];
        if (seconds >= 3600)
            snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60,
                     seconds % 60);
        else
            snprintf(text, sizeof text, "%lld:%02lld", seconds / 60, seconds % 60);
        left = text;
    }
    // \r and erase-to-end keep the bar on one line of the terminal.
    fprintf(stderr, "\r[%s] %3d%%  %s / %s  %s/s  %s left\x1b[K", bar.c_str(),
            static_cast<int>(fraction * 100), Bytes(done).c_str(), Bytes(total_).c_str(),
            Bytes(rate).c_str(), left.c_str());
    fflush(stderr);
    drawn_ = true;
}
