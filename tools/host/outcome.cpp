#include "outcome.h"

#include <cstdio>

namespace {
const char* programName = "davctl";
}  // namespace

void SetProgramName(const char* name) {
    programName = name;
}

const char* ProgramName() {
    return programName;
}

std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) line += (c == '\n' || c == '\r' || c == '\t') ? ' ' : c;
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

int Report(const std::string& action, AERROR code, const std::string& message, ExitStatus status) {
    std::string line = std::string(programName) + ": " + OneLine(action) + ": " + ResultName(code);
    std::string text = OneLine(message);
    if (!text.empty()) line += ": " + text;
    line += '\n';
    std::string hint = TlsHint(text);
    if (!hint.empty()) line += std::string(programName) + ": " + hint + '\n';
    fflush(stdout);
    fputs(line.c_str(), stderr);
    return status;
}

int Report(const std::string& action, const Outcome& outcome) {
    return Report(action, outcome.code, outcome.message,
                  ExitStatusFor(outcome.code, outcome.message));
}
