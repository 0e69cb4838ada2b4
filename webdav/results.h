// How the outcome of an operation's request becomes the result the host gets: one table for
// every operation, so that the same answer means the same thing wherever it arrives.
#pragma once

#include <new>
#include <string>

#include "../common/callbacks.h"
#include "../compiled/aerror.h"

enum class Operation { List, Stat, Test, Move, Mkcol, Delete, Read, Upload };

// What an operation learnt beyond the transport's record.
struct Outcome {
    bool canceled = false;  // the host raised the handle's state
    // Why an answer that looked successful still failed (a 207 naming a failing member, a
    // range that was not the one asked for, an upload the server did not keep whole), or
    // why the transfer broke; it becomes the message. Empty: nothing known beyond the answer.
    std::string fault;
    bool denied = false;  // the fault is a refusal (every failing member was 401 or 403)
};

struct Verdict {
    AERROR result = SUCCESS;
    bool logged = false;  // a failure the operation reports with its error line
};

// The result of op whose request came to answer (its code and status) and outcome.
Verdict Judge(Operation op, const _CURLRTN& answer, const Outcome& outcome = {});

// A name is one path segment: an empty one would address the folder itself, "." and ".."
// another folder, and a "/" some other place.
bool IsPlainName(const std::string& name);

// A request refused before anything was sent: the operation's error line, a message saying
// why, and INVALID_PARAMETER.
AERROR Refuse(char** message, const char* operation, const char* id, const std::string& why);
AERROR RefuseName(char** message, const char* operation, const char* id, const std::string& name);

// *message (when message is not null) becomes a heap copy of text. ReplaceMessage frees the
// message an operation made before; SetMessage is for one that holds none yet.
void SetMessage(char** message, const char* text) noexcept;
void ReplaceMessage(char** message, const char* text) noexcept;

// Runs the body of an operation so that no exception reaches the host: any one ends the
// operation with its failure result and a message saying so.
template <typename Body>
AERROR Shielded(AERROR failure, char** message, Body&& body) noexcept {
    char* const before = message != nullptr ? *message : nullptr;
    const char* why = "internal error";
    try {
        return body();
    } catch (const std::bad_alloc&) {
        why = "out of memory";
    } catch (...) {
    }
    // A message the body made is the plug-in's to free; what the host left there is not.
    if (message != nullptr && *message != before)
        ReplaceMessage(message, why);
    else
        SetMessage(message, why);
    return failure;
}
