// What a result means to the people and programs around a host: the result's name, the exit
// status of a command-line tool and the errno of a file system.
#pragma once

#include <string>

#include "compiled/aerror.h"

// The documented exit statuses of the tools (listed in their help texts).
enum ExitStatus : int {
    EXIT_OK = 0,
    EXIT_USAGE = 1,
    EXIT_PLUGIN = 2,
    EXIT_FAILED = 3,
    EXIT_DENIED = 4,
    EXIT_NOT_FOUND = 5,
    EXIT_LOCAL = 6,
    EXIT_INTERRUPTED = 130,
};

// The enumerator's own name ("FILE_NOT_FOUND"), or "Unknown" for values the host never defined.
const char* ResultName(AERROR code);

// The HTTP status a plug-in message begins with ("507 Insufficient Storage" gives 507), or 0.
int HttpStatusOf(const std::string& serverMessage);

// Exit status for a failed operation. The plug-in reports most server refusals as FAILED with
// the status line as message, so the message is consulted as well.
ExitStatus ExitStatusFor(AERROR code, const std::string& serverMessage);

// The positive errno a file system returns for a failed operation, by the same two sources.
int ErrnoFor(AERROR code, const std::string& serverMessage);

// One line telling what to do when the message says the server's certificate or key was not
// accepted; empty for every other message.
std::string TlsHint(const std::string& serverMessage);
