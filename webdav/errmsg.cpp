// The message an operation hands the host beside its result code.

#include <cstdlib>
#include <cstring>
#include <string>

#include "../common/conv_aerror.h"
#include "protocol.h"

namespace {

// Start of the last line that begins with "HTTP/", or null. The header block
// holds every response of the transfer (authentication rounds, interim
// answers, redirects), so the last status line is the one that counts.
// Looking for lines rather than for "HTTP" anywhere keeps header values such
// as "Server: MyHTTPd" from being taken for a status line.
const char* LastStatusLine(const char* block, size_t size) {
    const char* found = nullptr;
    const char* end = block + size;
    const char* line = block;
    while (line < end) {
        if (end - line >= 5 && std::memcmp(line, "HTTP/", 5) == 0) found = line;
        const char* newline = static_cast<const char*>(std::memchr(line, '\n', end - line));
        if (newline == nullptr) break;
        line = newline + 1;
    }
    return found;
}

char* CopyText(const char* text, size_t size) {
    char* copy = static_cast<char*>(std::malloc(size + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text, size);
    copy[size] = '\0';
    return copy;
}

}  // namespace

void Protocol::get_err_msg(_CURLRTN result, char** message) {
    if (message == nullptr) return;
    *message = nullptr;

    if (result.code != 0) {
        size_t cut = result.message.find(';');
        *message = CopyText(result.message.c_str(),
                            cut == std::string::npos ? result.message.size() : cut);
        return;
    }
    if (result.headers_size <= 0) {
        *message = strdup(std::to_string(result.http_status).c_str());
        return;
    }
    if (!result.headers) return;

    const char* block = result.headers.get();
    size_t size = strnlen(block, static_cast<size_t>(result.headers_size));
    const char* line = LastStatusLine(block, size);
    if (line == nullptr) return;
    const char* end = block + size;
    const char* cr = static_cast<const char*>(std::memchr(line, '\r', end - line));
    if (cr == nullptr) return;
    const char* newline = static_cast<const char*>(std::memchr(line, '\n', end - line));
    if (newline != nullptr && newline < cr) return;  // a bare-LF line: no CR to end it
    // "HTTP/1.1 404 Not Found" gives "404 Not Found".
    const char* blank = static_cast<const char*>(std::memchr(line, ' ', cr - line));
    if (blank == nullptr) return;
    *message = CopyText(blank + 1, cr - blank - 1);
}

Verdict Protocol::conclude(Operation op, const _CURLRTN& answer, char** message,
                           const Outcome& outcome, bool described) {
    if (!described) get_err_msg(answer, message);
    Verdict verdict = Judge(op, answer, outcome);
    if (verdict.result == SUCCESS || message == nullptr) return verdict;
    if (!outcome.fault.empty() && !outcome.canceled) {
        ReplaceMessage(message, outcome.fault.c_str());
    } else if (*message == nullptr || **message == '\0') {
        // A failure always tells the host something.
        ReplaceMessage(message, answer.http_status != 0 ? std::to_string(answer.http_status).c_str()
                                                        : GetAERRORA(verdict.result));
    }
    return verdict;
}
