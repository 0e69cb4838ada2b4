#include "results.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "../common/logstate.h"

namespace {

struct Row {
    Operation op;
    AERROR failure;   // a transport failure, an error status, a fault
    AERROR notFound;  // a 404
    AERROR canceled;  // the host stopped the transfer
    bool only2xx;     // success needs a 2xx status (else any status below 300)
};

// Hosts rely on these results: a listing, stat or change fails with FAILED, a folder that
// cannot be made with FOLDER_CREATION_FAILED, a read or upload with its own code, and the
// connection test tells a missing root apart.
const Row kRows[] = {
    {Operation::List, FAILED, FAILED, FAILED, false},
    {Operation::Stat, FAILED, FAILED, FAILED, false},
    {Operation::Test, FAILED, PATH_NOT_FOUND, FAILED, false},
    {Operation::Move, FAILED, FAILED, FAILED, false},
    {Operation::Mkcol, FOLDER_CREATION_FAILED, FOLDER_CREATION_FAILED, FOLDER_CREATION_FAILED,
     false},
    {Operation::Delete, FAILED, FAILED, FAILED, false},
    {Operation::Read, FILE_READ_FAILED, FILE_READ_FAILED, READ_CANCELED, true},
    {Operation::Upload, FILE_WRITE_FAILED, FILE_WRITE_FAILED, UPLOAD_CANCELED, false},
};

const Row& RowOf(Operation op) {
    for (const Row& row : kRows)
        if (row.op == op) return row;
    return kRows[0];
}

}  // namespace

Verdict Judge(Operation op, const _CURLRTN& answer, const Outcome& outcome) {
    const Row& row = RowOf(op);
    const int32_t status = answer.http_status;
    if (outcome.canceled) return {row.canceled, true};
    // The status is only known when the transfer completed (it is 0 otherwise).
    if (status == 401 || status == 403) return {ACCESS_DENIED, false};
    if (answer.code != 0) return {row.failure, true};
    if (status == 404) return {row.notFound, true};
    // Statuses are compared unsigned so that a negative value never counts as success.
    bool success =
        row.only2xx ? status >= 200 && status < 300 : static_cast<uint32_t>(status) < 300;
    if (success && outcome.fault.empty()) return {SUCCESS, false};
    if (success && outcome.denied) return {ACCESS_DENIED, false};
    // An interim status that ended a read is no error of the server's to report.
    return {row.failure, !(row.only2xx && status < 200)};
}

void SetMessage(char** message, const char* text) noexcept {
    if (message != nullptr) *message = strdup(text);
}

void ReplaceMessage(char** message, const char* text) noexcept {
    if (message == nullptr) return;
    free(*message);
    *message = strdup(text);
}

bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

AERROR Refuse(char** message, const char* operation, const char* id, const std::string& why) {
    log_line(LOG_ERROR | LOG_PROTOCOL, "%s id: [%s] , refused: %s", operation,
             id != nullptr ? id : "", why.c_str());
    SetMessage(message, ("refused: " + why).c_str());
    return INVALID_PARAMETER;
}

AERROR RefuseName(char** message, const char* operation, const char* id, const std::string& name) {
    return Refuse(message, operation, id, "invalid name \"" + name + "\"");
}
