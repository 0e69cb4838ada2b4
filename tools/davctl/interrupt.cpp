#include "interrupt.h"

#include <csignal>

namespace {

std::atomic<_FS_HANDLE*> active{nullptr};
std::atomic<bool> interrupted{false};
struct sigaction previousInt;
struct sigaction previousTerm;

// Only lock-free atomic stores here: this runs inside a signal handler.
void OnSignal(int) {
    interrupted.store(true);
    _FS_HANDLE* handle = active.load();
    if (handle != nullptr) handle->state.store(FS_HANDLE_STOP);
}

}  // namespace

InterruptGuard::InterruptGuard(std::shared_ptr<_FS_HANDLE> handle) : handle_(std::move(handle)) {
    static_assert(std::atomic<_FS_HANDLE*>::is_always_lock_free, "handler needs lock-free atomics");
    static_assert(std::atomic<int32_t>::is_always_lock_free, "handler needs lock-free atomics");
    active.store(handle_.get());
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

InterruptGuard::~InterruptGuard() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    active.store(nullptr);
}

bool InterruptGuard::Interrupted() {
    return interrupted.load();
}
