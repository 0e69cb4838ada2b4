// Ctrl-C during a transfer: stop it through the handle, as a host would, instead of dying with
// a half-written file.
#pragma once

#include <memory>

#include "compiled/filesystem.h"

class InterruptGuard {
public:
    // Installs the SIGINT/SIGTERM handler for the life of the guard; handle may be raised by it.
    explicit InterruptGuard(std::shared_ptr<_FS_HANDLE> handle);
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    static bool Interrupted();

private:
    std::shared_ptr<_FS_HANDLE> handle_;
};
