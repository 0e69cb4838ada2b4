#include <thread>

#include "mount_context.h"

void Background::Run(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        ++running_;
    }
    std::thread([this, work = std::move(work)] {
        work();
        std::lock_guard<std::mutex> guard(lock_);
        if (--running_ == 0) idle_.notify_all();
    }).detach();
}

void Background::Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    idle_.wait(guard, [&] { return running_ == 0; });
}
