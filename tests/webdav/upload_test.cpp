// Uploads: the PUT on the wire, the body pulled from the cache with position and
// progress, the answers that make the body go out again, and stops.

#include "support/dataops_fixture.h"

namespace {

using UploadTest = DataOpsTest;

TEST_F(UploadTest, AnswerShapes) {
    checkFailures = false;  // stopped uploads leave bodies cut short
    ScriptedResponse dropped, early = Answer(417, "", {{"Connection", "close"}});
    dropped.hangUp = true;  // a kept-alive connection the server dropped meanwhile
    early.expect = ScriptedResponse::ExpectMode::FinalNoBody;
    ScriptedResponse chezdav = Answer(201), slow = Answer(201);  // 201 before reading the body
    chezdav.expect = ScriptedResponse::ExpectMode::FinalNoBody;
    slow.delayMs = 2500;  // the server reads nothing meanwhile
    const ScriptedResponse challenge = Answer(401, "", {{"WWW-Authenticate", "Basic"}}),
                           kept0 = Answer(207, Multistatus({{"/dav/f.bin", 0}})),
                           kept1 = Answer(207, Multistatus({{"/dav/f.bin", 1}}));
    auto to_b = [](int status) { return Answer(status, "", {{"Location", "/dav/b"}}); };
    const size_t big = 2 << 20;  // large enough for libcurl to ask for 100-continue
    const std::string put = " PUT /dav/f.bin", whole = " whole;", stat = " PROPFIND /dav/f.bin;",
                      aborted = " code :[42], exec error: [0]",
                      via = "0 00 end;" + put + whole + " PUT /dav/b" + whole + stat;
    // a new connection object or the last one, the folder, the size, how it stops (1: the
    // cache ends at byte 1000, 2: the host stops it in the second piece, 3: before it starts,
    // 4: once every byte went out, 5: the cache throws in the second piece)
    // and the answers before a 201 and the stat (when the upload succeeds); the result, each
    // time the cache is asked again from byte 0 ("0" with the position back at 0, "^"
    // without), where the position ends, the requests and the error line
    using Row =
        std::tuple<bool, const char*, size_t, int, std::vector<ScriptedResponse>, std::string>;
    // clang-format off
    const Row rows[] = {
        {true, "/a b#", 150000, 0, {},
         "0 0 end; PUT /dav/a%20b%23/f.bin whole; PROPFIND /dav/a%20b%23/f.bin;"},
        {true, nullptr, 0, 0, {}, "0  end;" + put + whole + stat},
        {true, "", 150000, 0, {challenge},
         "0 00 end;" + put + whole + put + " Basic dTpw" + whole + stat},
        // redirected: the new location gets every byte
        {true, "", 150000, 0, {to_b(301)}, via}, {true, "", 150000, 0, {to_b(302)}, via},
        {true, "", 150000, 0, {to_b(303)}, via}, {true, "", 150000, 0, {to_b(307)}, via},
        {true, "", 150000, 0, {to_b(308)}, via},
        // the server kept less than it was sent: an empty file is sent again without Expect
        {true, "", big, 0, {chezdav, kept0},
         "0 0 end;" + put + " 100-continue empty;" + stat + put + whole + stat},
        {true, "", 1000, 0, {Answer(201), kept0, Answer(201), kept0},
         "9 0^ end;" + put + whole + stat + put + whole + stat +
         " code :[0], exec error: [201] the server kept 0 of 1000 bytes"},
        {true, "", 1000, 0, {Answer(201), kept1}, "9 0 end;" + put + whole + stat +
         " code :[0], exec error: [201] the server kept 1 of 1000 bytes"},
        {true, "", 1000, 0, {dropped}, "0 00 end;" + put + whole + put + whole + stat},
        // 417: once more without Expect, and never again on that object
        {true, "", big, 0, {Answer(417)},
         "0 0^ end;" + put + " 100-continue" + whole + put + whole + stat},
        {false, "", big, 0, {Answer(417)},
         "9 0 end;" + put + whole + " code :[0], exec error: [417]"},
        {true, "", big, 0, {early}, "0 0 end;" + put + " 100-continue empty;" + put + whole + stat},
        {true, "", 500000, 1, {},  // stopped at once
         "9 0 1000;" + aborted + " the cache ended the file at byte 1000 of 500000"},
        {true, "", 500000, 2, {}, "13 0 first piece;" + aborted},
        {true, "", 500000, 3, {}, "13  0;" + aborted},
        {true, "", 1000, 4, {slow}, "13 0 end;" + put + whole + aborted},
        {true, "", 500000, 5, {}, "9 0 first piece;" + aborted + " the host's cache failed"},
    };
    // clang-format on
    std::unique_ptr<Protocol> p;
    for (auto& [fresh, folder, size, stop, answers, expected] : rows) {
        if (fresh) p.reset(new Protocol((server.url() + "/dav").c_str(), nullptr));
        p->SetOpt("ex_info", R"({"data":{"user":"u","pwd":"p"}})");
        size_t before = server.Requests().size();
        auto handle = std::make_shared<_FS_HANDLE>();
        static std::vector<std::pair<long, long>> progress;  // total and sent, as reported
        progress = {{0, 0}};
        handle->progressFn = [](long total, long now, void* h, double) {
            progress.push_back({total, now});
            if (now == total && total > 0 && h) static_cast<_FS_HANDLE*>(h)->state = FS_HANDLE_STOP;
        };
        handle->progressContext = stop == 4 ? handle.get() : nullptr;
        handle->state = stop == 3 ? FS_HANDLE_STOP : 0;
        std::string content = Pattern(size, static_cast<unsigned>(size)), restarts;
        MemoryCache cache(content);
        cache.available = stop == 1 ? 1000 : INT64_MAX;
        int64_t end = 0, first = 0;
        cache.onRead = [&](_READDATA& r) {  // in order, the position following, or from byte 0
            int64_t position = handle->position.load();
            if (r.offset == 0) restarts += position == 0 ? "0" : "^";
            EXPECT_TRUE(r.offset == 0 || (r.offset == end && position == end)) << r.offset;
            end = r.offset + r.bytesRead;
            first = cache.calls == 1 ? end : first;
            if (cache.calls == 2 && stop == 2) handle->state = FS_HANDLE_STOP;
            if (cache.calls == 2 && stop == 5) throw std::runtime_error("disk gone");
        };
        _FS_FILE file;
        std::tie(file.name, file.size) = std::make_tuple("f.bin", static_cast<int64_t>(size));
        for (auto& a : answers) server.Enqueue(a);
        if (expected[0] == '0') {
            server.Respond(201);
            server.Respond(207, Multistatus({{"/dav" + URLEncode(folder ? folder : "") + "/f.bin",
                                              static_cast<long long>(size)}}));
        }
        log.Clear();
        char* message = nullptr;
        AERROR result = p->Upload(folder, handle, &cache, &file, &message);

        if (stop == 4) server.WaitForRequests(before + 1, 10000);  // the body was all sent
        int64_t at = handle->position.load();
        std::string seen = std::to_string(result) + " " + restarts + " " +
                           (at == int64_t(size)            ? "end"
                            : at == first && stop % 3 == 2 ? "first piece"
                                                           : std::to_string(at)) +
                           ";";
        auto sent = server.Requests();
        for (size_t i = before; i < sent.size(); ++i) {
            const RecordedRequest& r = sent[i];
            seen += " " + r.method + " " + r.target;
            for (auto name : {"Content-Type", "Authorization", "Expect"})
                seen += r.HasHeader(name) && r.method == "PUT" ? " " + r.Header(name) : "";
            if (r.method == "PUT")
                seen += r.body == content ? " whole" : r.body.empty() ? " empty" : " part";
            seen += ";";
        }
        for (auto& line : log.Find(kErrorProtocol, "Upload upath: [/f.bin] , "))
            seen += " " + line.substr(25);  // the transport's code and the status
        std::string text = Take(message);   // and why a transfer that went well failed
        if (text.find("the ") == 0) seen += " " + text;
        EXPECT_EQ(seen, expected);
        for (auto& [total, now] : progress) EXPECT_TRUE(total == 0 || total == long(size)) << now;
        EXPECT_TRUE(result != SUCCESS || size == 0 ||
                    progress.back() == std::make_pair(long(size), long(size)));
    }
    _FS_FILE dots;  // a name that would address another folder is never sent
    dots.name = "..";
    size_t sent = server.Requests().size();
    EXPECT_EQ(p->Upload("/a", nullptr, nullptr, &dots, nullptr), INVALID_PARAMETER);
    EXPECT_EQ(server.Requests().size(), sent);
}

}  // namespace
