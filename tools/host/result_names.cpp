#include "result_names.h"

#include <cerrno>

#include "common/conv_aerror.h"

namespace {

struct ErrnoRow {
    int key;  // an AERROR value or an HTTP status
    int error;
};

// Results the plug-in or the host itself gives a meaning of their own.
const ErrnoRow resultErrnos[] = {
    {ACCESS_DENIED, EACCES},      {AUTH_FAILED, EACCES},    {NO_ACCESS, EACCES},
    {NO_PRIVILEGE, EPERM},        {FILE_NOT_FOUND, ENOENT}, {PATH_NOT_FOUND, ENOENT},
    {FILE_EXISTS, EEXIST},        {ALREADY_EXISTS, EEXIST}, {DIR_NOT_EMPTY, ENOTEMPTY},
    {INVALID_DIRECTORY, ENOTDIR}, {INVALID_NAME, EINVAL},   {INVALID_PARAMETER, EINVAL},
    {NOT_SUPPORTED, ENOTSUP},     {READ_CANCELED, EINTR},   {UPLOAD_CANCELED, EINTR},
    {READ_ONLY_FILE, EROFS},      {WRITE_PROTECT, EROFS},   {SHARING_VIOLATION, EBUSY},
};

// Server answers behind a FAILED, FILE_WRITE_FAILED or FOLDER_CREATION_FAILED.
const ErrnoRow statusErrnos[] = {
    {401, EACCES}, {403, EACCES}, {404, ENOENT},       {405, EEXIST}, {409, ENOENT}, {410, ENOENT},
    {412, EBUSY},  {413, EFBIG},  {414, ENAMETOOLONG}, {423, EBUSY},  {507, ENOSPC}, {501, ENOTSUP},
};

}  // namespace

const char* ResultName(AERROR code) {
    return GetAERRORA(code);
}

int HttpStatusOf(const std::string& message) {
    if (message.size() < 3) return 0;
    int status = 0;
    for (size_t i = 0; i < 3; ++i) {
        if (message[i] < '0' || message[i] > '9') return 0;
        status = status * 10 + (message[i] - '0');
    }
    if (message.size() > 3 && message[3] != ' ') return 0;
    return status;
}

ExitStatus ExitStatusFor(AERROR code, const std::string& serverMessage) {
    switch (code) {
        case SUCCESS:
            return EXIT_OK;
        case ACCESS_DENIED:
        case AUTH_FAILED:
        case NO_ACCESS:
        case NO_PRIVILEGE:
            return EXIT_DENIED;
        case FILE_NOT_FOUND:
        case PATH_NOT_FOUND:
            return EXIT_NOT_FOUND;
        default:
            break;
    }
    int status = HttpStatusOf(serverMessage);
    if (status == 404 || status == 410) return EXIT_NOT_FOUND;
    if (status == 401 || status == 403) return EXIT_DENIED;
    return EXIT_FAILED;
}

int ErrnoFor(AERROR code, const std::string& serverMessage) {
    if (code == SUCCESS) return 0;
    for (auto& row : resultErrnos)
        if (row.key == code) return row.error;
    int status = HttpStatusOf(serverMessage);
    // MKCOL answers 405 when the folder exists; elsewhere 405 is a refused method.
    if (status == 405 && code != FOLDER_CREATION_FAILED) return EPERM;
    for (auto& row : statusErrnos)
        if (row.key == status) return row.error;
    return EIO;
}

std::string TlsHint(const std::string& message) {
    static const char* const refusals[] = {"SSL certificate problem", "pinned public key",
                                           "certificate subject name", "SSL peer certificate"};
    for (const char* text : refusals)
        if (message.find(text) != std::string::npos)
            return "the server's certificate was not accepted: give the CA that signed it with "
                   "--cacert FILE, or skip the check with --insecure";
    return "";
}
