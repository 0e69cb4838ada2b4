#include "interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <mutex>
#include <thread>

#include "outcome.h"

namespace {

int wakeFds[2] = {-1, -1};
std::mutex lock;  // held by the watcher from the signal to the end of the process
std::string action;
AERROR canceled = SUCCESS;
std::string scratch;

// Only a write to the pipe here: this runs inside a signal handler.
void OnSignal(int) {
    char byte = 1;
    (void)!write(wakeFds[1], &byte, 1);
}

// Does the work the handler may not: the cleanup, the line and the exit, without waiting for a
// transfer the plug-in may not be able to stop soon.
void Watch() {
    char byte;
    while (read(wakeFds[0], &byte, 1) < 0) {
    }
    lock.lock();
    if (!scratch.empty()) unlink(scratch.c_str());
    std::string line = isatty(STDERR_FILENO) ? "\r\x1b[K" : "";  // over a progress bar
    if (action.empty())
        line += "davctl: interrupted\n";
    else
        line += std::string("davctl: ") + OneLine(action) + ": " + ResultName(canceled) +
                ": interrupted\n";
    (void)!write(STDERR_FILENO, line.data(), line.size());
    _exit(EXIT_INTERRUPTED);
}

}  // namespace

namespace Interrupts {

void Install() {
    if (pipe2(wakeFds, O_CLOEXEC) != 0) return;
    std::thread(Watch).detach();
    struct sigaction signalAction = {};
    signalAction.sa_handler = OnSignal;
    sigemptyset(&signalAction.sa_mask);
    sigaction(SIGINT, &signalAction, nullptr);
    sigaction(SIGTERM, &signalAction, nullptr);
}

void SetAction(const std::string& text, AERROR code) {
    std::lock_guard<std::mutex> guard(lock);
    action = text;
    canceled = code;
}

void SetScratch(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock);
    scratch = path;
}

}  // namespace Interrupts
