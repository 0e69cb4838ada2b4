#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

inline std::string SourceDir() {
    return WEBDAV_SOURCE_DIR;
}
// The built plug-in as a host would dlopen it; $WEBDAV_PLUGIN overrides.
inline std::string PluginPath() {
    const char* path = std::getenv("WEBDAV_PLUGIN");
    return path != nullptr && *path != '\0' ? path : WEBDAV_PLUGIN_PATH;
}
// A loopback address where nothing listens: port 1 (tcpmux) is never served here.
inline std::string ClosedLoopbackUrl(const std::string& path = "") {
    return "http://127.0.0.1:1" + path;
}

// A whole local file as bytes ("" when it cannot be read), and one written whole.
inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// text with every from replaced by to.
inline std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}
