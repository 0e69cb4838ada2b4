#include "credentials.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

bool PromptPassword(const std::string& prompt, std::string* password) {
    if (!isatty(STDIN_FILENO)) return false;
    termios saved;
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    fputs(prompt.c_str(), stderr);
    fflush(stderr);
    if (tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return false;
    std::string line;
    bool ok = false;
    for (;;) {
        char c;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n <= 0) break;
        if (c == '\n') {
            ok = true;
            break;
        }
        line += c;
    }
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (ok) *password = line;
    return ok;
}
