// Shared set-up for the tests of moves, reads and uploads: a Protocol aimed at a
// scripted server under the root path "/dav", with a recording logger bound.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "common/logstate.h"
#include "support/host_doubles.h"
#include "support/scripted_server.h"
#include "webdav/protocol.h"

constexpr int kTraceProtocol = 1025;  // LOG_TRACE | LOG_PROTOCOL
constexpr int kErrorProtocol = 1032;  // LOG_ERROR | LOG_PROTOCOL

// A 207 answer describing one file (or folder) at href.
inline std::string StatAnswer(const std::string& href, long long size, bool folder = false) {
    return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>") +
           "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>" + href +
           "</D:href><D:propstat><D:prop>" +
           (folder ? "<D:resourcetype><D:collection/></D:resourcetype>"
                   : "<D:resourcetype/><D:getcontentlength>" + std::to_string(size) +
                         "</D:getcontentlength>") +
           "<D:getlastmodified>Mon, 12 Jan 1998 09:25:56 GMT</D:getlastmodified>"
           "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>"
           "</D:multistatus>";
}

// Bytes whose value depends on their offset, so a block at a wrong offset shows.
inline std::string Pattern(size_t size, unsigned seed = 7) {
    std::string data(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>(x >> 16);
    }
    return data;
}

// A URL on 127.0.0.1 where nothing listens.
inline std::string DeadURL() {
    std::string url;
    {
        ScriptedServer gone;
        url = gone.url();
    }
    return url;
}

class DataOpsTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger.store(&log);
        protocol.reset(new Protocol((server.url() + "/dav").c_str(), nullptr));
    }
    void TearDown() override {
        protocol.reset();
        logger.store(nullptr);
        if (checkFailures) {
            EXPECT_TRUE(server.Failures().empty()) << Failures();
        }
    }
    std::string Failures() {
        std::string all;
        for (auto& f : server.Failures()) all += f + "\n";
        return all;
    }
    // The message an operation returned, freed here.
    std::string Take(char*& message) {
        std::string text = message != nullptr ? message : "(null)";
        free(message);
        message = nullptr;
        return text;
    }
    struct Releaser {
        void operator()(Protocol* p) const { p->Release(); }
    };

    ScriptedServer server;
    RecordingLogger log;
    std::unique_ptr<Protocol, Releaser> protocol;
    bool checkFailures = true;
};
