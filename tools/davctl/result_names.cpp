#include "result_names.h"

#include <cstring>

#include "common/conv_aerror.h"

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, strlen(prefix), prefix) == 0;
}

}  // namespace

const char* ResultName(AERROR code) {
    return GetAERRORA(code);
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
    if (StartsWith(serverMessage, "404 ") || serverMessage == "404" ||
        StartsWith(serverMessage, "410 ") || serverMessage == "410")
        return EXIT_NOT_FOUND;
    return EXIT_FAILED;
}
