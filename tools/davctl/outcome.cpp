#include "outcome.h"

#include <cstdio>

namespace {

// Keeps the report on one line whatever the server put in its message.
std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

}  // namespace

int Report(const std::string& action, AERROR code, const std::string& message, ExitStatus status) {
    std::string line = "davctl: " + OneLine(action) + ": " + ResultName(code);
    std::string text = OneLine(message);
    if (!text.empty()) line += ": " + text;
    line += '\n';
    fflush(stdout);
    fputs(line.c_str(), stderr);
    return status;
}

int Report(const std::string& action, const Outcome& outcome) {
    return Report(action, outcome.code, outcome.message,
                  ExitStatusFor(outcome.code, outcome.message));
}
