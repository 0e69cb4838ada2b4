// Names of the host's result codes and how davctl turns an outcome into its exit status.
#pragma once

#include <string>

#include "compiled/aerror.h"

// The documented exit statuses (listed in the help text).
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

// Exit status for a failed operation. The plug-in reports a missing remote item as FAILED with
// the server's status line as message, so the message is consulted as well.
ExitStatus ExitStatusFor(AERROR code, const std::string& serverMessage);
