// Shared set-up for the protocol tests: a Protocol aimed at a scripted server
// under the root path "/dav", with a recording logger bound, and small answers.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "common/logstate.h"
#include "support/host_doubles.h"
#include "support/paths.h"
#include "support/scripted_server.h"
#include "support/test_host.h"
#include "webdav/protocol.h"

constexpr int kTraceProtocol = 1025;  // LOG_TRACE | LOG_PROTOCOL
constexpr int kErrorProtocol = 1032;  // LOG_ERROR | LOG_PROTOCOL

inline ScriptedResponse Answer(int status, std::string body = "",
                               std::vector<std::pair<std::string, std::string>> headers = {}) {
    ScriptedResponse r;
    std::tie(r.status, r.body, r.headers) = std::tie(status, body, headers);
    return r;
}

// A multistatus answer; each entry a folder (size < 0) or a file of that size.
inline std::string Multistatus(const std::vector<std::pair<std::string, long long>>& entries) {
    std::string body = "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\">";
    for (auto& [href, size] : entries)
        body += "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop><D:resourcetype>" +
                (size < 0 ? "<D:collection/></D:resourcetype>"
                          : "</D:resourcetype><D:getcontentlength>" + std::to_string(size) +
                                "</D:getcontentlength>") +
                "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
    return body + "</D:multistatus>";
}

// Bytes whose value depends on their offset, so a block at a wrong offset shows.
inline std::string Pattern(size_t size, unsigned seed = 7) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    return data;
}

// The message an operation returned, freed here; "(null)" for none.
inline std::string Take(char*& message) {
    std::string text = message != nullptr ? message : "(null)";
    free(message);
    message = nullptr;
    return text;
}

// Whether op wrote its error line with this HTTP status: "... [404]" or "... [7, 404]".
inline bool HasErrorLine(RecordingLogger& log, const std::string& op, int status) {
    const std::string code = std::to_string(status) + "]", head = op + " ";
    for (auto& text : log.Find(kErrorProtocol, head)) {
        if (text.size() < head.size() + code.size() + 1 || text.compare(0, head.size(), head) != 0)
            continue;
        size_t at = text.size() - code.size() - 1;  // the "[" or " " before the status
        if (text.compare(at + 1, code.size(), code) == 0 && (text[at] == '[' || text[at] == ' '))
            return true;
    }
    return false;
}

// Requests as "METHOD target Name=value;" with those of the named headers they carry.
inline std::string Wire(const std::vector<RecordedRequest>& requests, size_t from,
                        const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = from; i < requests.size(); ++i) {
        text += " " + requests[i].method + " " + requests[i].target;
        for (auto& n : names)
            if (requests[i].HasHeader(n)) text += " " + n + "=" + requests[i].Header(n);
        text += ";";
    }
    return text;
}

class DataOpsTest : public ::testing::Test {
protected:
    void SetUp() override { logger.store(&log); }
    void TearDown() override {
        logger.store(nullptr);
        for (auto& failure : server.Failures()) EXPECT_FALSE(checkFailures) << failure;
    }

    ScriptedServer server;
    RecordingLogger log;
    std::unique_ptr<Protocol> protocol{new Protocol((server.url() + "/dav").c_str(), nullptr)};
    bool checkFailures = true;  // unanswered requests and cut-short bodies fail the test
};
