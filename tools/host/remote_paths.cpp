#include "remote_paths.h"

#include <vector>

std::string RemotePath(const std::string& text) {
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= text.size()) {
        size_t end = text.find('/', begin);
        if (end == std::string::npos) end = text.size();
        std::string part = text.substr(begin, end - begin);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        begin = end + 1;
    }
    std::string path;
    for (auto& part : parts) path += "/" + part;
    return path;
}

std::string ParentOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

std::string Shown(const std::string& path) {
    return path.empty() ? "/" : path;
}
