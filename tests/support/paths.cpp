#include "paths.h"

#include <cstdlib>

std::string SourceDir() {
    return WEBDAV_SOURCE_DIR;
}

std::string PluginPath() {
    const char* override_path = std::getenv("WEBDAV_PLUGIN");
    return override_path != nullptr && *override_path != '\0' ? override_path : WEBDAV_PLUGIN_PATH;
}
