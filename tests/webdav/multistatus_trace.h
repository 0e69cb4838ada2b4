// Helpers for tests and benchmarks of the multistatus parser: parse a body the
// way listing does and render the records as one comparable line.
#pragma once

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "support/paths.h"
#include "webdav/multistatus.h"
#include "webdav/protocol.h"

// "id|name|attributes(hex)|size|modifiedTime;" per entry, in chain order.
inline std::string TraceChain(const nodeinfo* chain) {
    std::string trace;
    for (const nodeinfo* entry = chain; entry != nullptr; entry = entry->next) {
        char attributes[16];
        std::snprintf(attributes, sizeof attributes, "%x",
                      static_cast<unsigned>(entry->file.attributes));
        trace += entry->file.id + "|" + entry->file.name + "|" + attributes + "|" +
                 std::to_string(entry->file.size) + "|" + entry->file.modifiedTime + ";";
    }
    return trace;
}

// Parses body as listing does; "<no document>" when the body is refused.
inline std::string TraceBody(Protocol& protocol, const std::string& body) {
    auto doc = ParseMultistatus(body.data(), body.size());
    if (!doc) return "<no document>";
    nodeinfo* chain = protocol.parsePropfindAnswer(doc->children);
    std::string trace = TraceChain(chain);
    Protocol::nodeinfoFree(chain);
    return trace;
}

// Parses body and hands the chain to check, then frees it.
template <typename F>
void WithChain(Protocol& protocol, const std::string& body, F check) {
    auto doc = ParseMultistatus(body.data(), body.size());
    nodeinfo* chain = doc ? protocol.parsePropfindAnswer(doc->children) : nullptr;
    check(chain);
    Protocol::nodeinfoFree(chain);
}

inline std::string ReadFixture(const std::string& name) {
    std::ifstream in(SourceDir() + "/tests/webdav/fixtures/" + name, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}
