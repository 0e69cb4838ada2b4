// Listing and stat: the PROPFIND on the wire, and which records of an answer
// reach the host.

#include "support/dataops_fixture.h"

namespace {

// A multistatus for the file /dav/z of 9 bytes, gzip-compressed.
const char kCompressed[] =
    "\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\x65\x8e\x51\x0a\x83\x30\x10\x44\xaf\x22\x5e\x60"
    "\xbf\x0d\x31\x20\xe4\x0c\xfd\x17\xbb\x55\x21\x6e\x42\x76\x53\xd4\xd3\xdb\x45\x0b\x96\xfe"
    "\xcd\x3c\x98\xc7\x58\x6f\x96\x12\x64\x66\xe9\xa5\x70\xb5\x2e\x81\xd8\xf8\xb6\xf6\xdd\xc3"
    "\xd4\xce\x7a\x93\x91\x53\x24\x46\xcd\x53\xc6\x97\x83\x67\xff\x86\xdd\xc2\x55\x3f\x38\xe5"
    "\x98\x74\xff\xcd\xd7\x2c\x96\x3c\xa0\x6c\x09\x41\xc1\x88\x32\x44\x12\x24\x09\x48\xa3\x4c"
    "\xae\x51\xc5\x1f\x55\x78\x3a\xe0\x2e\x86\xfb\x11\xf8\xf9\xec\x0e\xf4\xbd\xe0\x26\xc3\x00"
    "\x00\x00";

using PropfindTest = DataOpsTest;

TEST_F(PropfindTest, WireAndWhatReachesTheHost) {
    const std::string many = Multistatus({{"/dav/f0", 0}, {"/dav/f1", 1}, {"/dav/f2", 2}});
    ScriptedResponse pieces = Answer(207, many, {{"Transfer-Encoding", "chunked"}}),
                     broken = pieces, cut = Answer(207, many),
                     zipped = Answer(207, std::string(kCompressed, sizeof kCompressed - 1),
                                     {{"Content-Encoding", "gzip"}});
    pieces.chunkSize = broken.chunkSize = 100;
    broken.body.replace(many.size() - 3, 1, "");  // broken near its end
    cut.closeAfterBodyBytes = static_cast<long long>(many.size() / 2);
    protocol->SetOpt("user", "u");
    const ScriptedResponse children = Answer(207, Multistatus({{"/dav/a%20b/", -1},
                                                               {"/dav/a%20b/c", 5},
                                                               {"/dav/a%20b/S/", -1}})),
                           root = Answer(207, Multistatus({{"/dav/", -1}, {"/dav/1", 1}})),
                           one = Answer(207, Multistatus({{"/dav/x%7Ey%23%2B1", 1234567890123}})),
                           refused = Answer(401, Multistatus({{"/dav/decoy", 1}}),
                                            {{"WWW-Authenticate", "Basic"}}),
                           a3 = Answer(207, Multistatus({{"/dav/a", 3}})),
                           folder = Answer(207, Multistatus({{"/dav/d/", -1}, {"/dav/d/c", 5}}));
    auto moved = [](int status) { return Answer(status, "", {{"Location", "/dav/"}}); };
    const std::string again = " PROPFIND /dav/ Depth=1 Content-Type=text/xml; gzip";
    // L: a listing (T: to a host sink that throws), S: a stat (lower case: gzip off; m: a stat
    // keeping at most 100 bytes of an answer, "max_answer"), the path, the answers; the result,
    // the records the host gets ("id|name|attributes|size;") and the request (its
    // Accept-Encoding only when it is ours)
    using Row =
        std::tuple<char, const char*, std::vector<ScriptedResponse>, std::string, std::string>;
    // clang-format off
    const Row rows[] = {
        {'L', "/a b", {children}, "0 /a b/c|c|1|5;/a b/S|S|2|0;",
         " PROPFIND /dav/a%20b Depth=1 Content-Type=text/xml; gzip"},
        {'l', nullptr, {root}, "0 /1|1|1|1;", " PROPFIND /dav Depth=1 Content-Type=text/xml;"},
        {'S', "x~y#+1", {one}, "0 /x~y#+1|x~y#+1|1|1234567890123;",  // no leading "/"
         " PROPFIND /dav/x%7Ey%23%2B1 Depth=0 Content-Type=text/xml; gzip"},
        {'s', "", {Answer(207, Multistatus({{"/dav/", -1}}))}, "0 ||2|0;",
         " PROPFIND /dav Depth=0 Content-Type=text/xml;"},
        {'L', nullptr, {zipped}, "0 /z|z|1|9;", ""},
        // a refused round's body is never taken for the answer, which arrives in pieces
        {'L', nullptr, {refused, pieces}, "0 /f0|f0|1|0;/f1|f1|1|1;/f2|f2|1|2;", ""},
        {'L', nullptr, {broken}, "1 ", ""},  // records read early stay back
        {'L', nullptr, {cut}, "1 ", ""},
        {'S', nullptr, {Answer(207, "<html>oops")}, "1 ", ""},
        {'L', nullptr, {Answer(207, "<D:error xmlns:D=\"DAV:\"/>")}, "0 ", ""},
        {'T', nullptr, {a3}, "1 ", ""},  // the host's sink throws: a failure, nothing escapes
        // sent again to the new place, body and all
        {'L', nullptr, {moved(301), a3}, "0 /a|a|1|3;", again},
        {'L', nullptr, {moved(303), a3}, "0 /a|a|1|3;", again},
        {'L', nullptr, {moved(308), a3}, "0 /a|a|1|3;", again},
        // a stat takes the entry asked for, wherever it stands, or none
        {'S', "/d", {folder}, "0 /d|d|2|0;", ""},
        {'S', "/d/c/", {folder}, "0 /d/c|c|1|5;", ""},
        {'S', "/D", {Answer(207, Multistatus({{"/dav/d", 1}}))}, "0 /d|d|1|1;", ""},
        {'S', "/d", {Answer(207, Multistatus({{"/dav/d/c", 5}}))}, "18 ", ""},
        {'m', "/d", {folder}, "1 ", " PROPFIND /dav/d Depth=0 Content-Type=text/xml;"},
        {'S', "/d", {Answer(300, Multistatus({{"/dav/d", 1}}))}, "1 ", ""},  // not an answer
        // a listing holds the folder's own members only, by their normalised names
        {'L', "/a", {Answer(207, Multistatus({{"/dav/a/", -1}, {"/dav/a/x/y", 1}, {"/dav/b", 2},
            {"/dav/a/./k/../c%2Fd", 3}, {"/dav/a//", -1}, {"/dav/a/k/%2e%2e/../a/e", 4}}))},
         "0 /a/c%2Fd|c%2Fd|1|3;/a/e|e|1|4;", ""},
    };
    // clang-format on
    for (auto& [call, path, answers, expected, wire] : rows) {
        bool list = toupper(call) == 'L' || call == 'T';
        protocol->SetOpt("gzip", isupper(call) ? "true" : "false");
        protocol->SetOpt("ex_info", call == 'm' ? R"({"data":{"max_answer":100}})"
                                                : R"({"data":{"max_answer":0}})");
        size_t before = server.Requests().size();
        for (auto& a : answers) server.Enqueue(a);
        ListSink sink;
        sink.throws = call == 'T';
        _FS_FILE file;
        AERROR result = list ? protocol->GetFileList(path, &sink, nullptr)
                             : protocol->GetFileInfo(path, &file, nullptr);
        if (!list && result == SUCCESS) sink.files.push_back(file);
        std::string seen = std::to_string(result) + " ";
        for (auto& f : sink.files)
            seen += f.id + "|" + f.name + "|" + std::to_string(f.attributes) + "|" +
                    std::to_string(f.size) + ";";
        EXPECT_EQ(seen, expected);
        auto sent = server.Requests();
        ASSERT_EQ(sent.size() - before, answers.size());
        std::string last = Wire(sent, sent.size() - 1, {"Depth", "Content-Type"});
        EXPECT_EQ(last + (sent.back().Header("Accept-Encoding") == "gzip" ? " gzip" : ""),
                  wire.empty() ? last + " gzip" : wire);
        for (size_t i = before; i < sent.size(); ++i)
            EXPECT_EQ(sent[i].body,
                      "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:propfind xmlns:D=\"DAV:\">"
                      "<D:prop><D:resourcetype /><D:getcontentlength /><D:creationdate />"
                      "<D:lastaccessed /><D:getlastmodified /></D:prop></D:propfind>");
    }
}

}  // namespace
