// One plug-in call's result and the server's message, and the one-line failure report.
#pragma once

#include <string>

#include "compiled/filesystem.h"
#include "result_names.h"

struct Outcome {
    AERROR code = SUCCESS;
    std::string message;  // the server's (or the transport's) text; may be empty
    bool ok() const { return code == SUCCESS; }
};

// Runs op(char** message) against the protocol object, takes its message and hands the
// plug-in's buffer back through FreeMsg. The plug-in must never throw; if it does anyway, the
// call counts as failed.
template <typename Op>
Outcome Call(IProtocol_V2* protocol, Op op) {
    Outcome outcome;
    char* message = nullptr;
    try {
        outcome.code = op(&message);
    } catch (...) {
        outcome.code = FAILED;
        outcome.message = "the plug-in threw an exception";
    }
    if (message != nullptr) {
        outcome.message = message;
        protocol->FreeMsg(message);
    }
    return outcome;
}

// The name every report begins with ("davctl", "davmount").
void SetProgramName(const char* name);
const char* ProgramName();

// Keeps a report on one line whatever the server put in its message.
std::string OneLine(const std::string& text);

// Prints "<program>: <action>: <RESULT_NAME>[: <message>]" on stderr, then the TLS hint when
// the message calls for one; returns the exit status.
int Report(const std::string& action, const Outcome& outcome);
// The same for failures the tool finds itself, with the status it chooses.
int Report(const std::string& action, AERROR code, const std::string& message, ExitStatus status);
