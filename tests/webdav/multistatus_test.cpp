// The multistatus reader with href decoding and name conversion. Answers read whole and streamed
// at every cut must agree; a record reads "id|name|attributes|size|mtime[|c<ctime>][|a<atime>]".

#include "webdav/multistatus.h"

#include <gtest/gtest.h>
#include <libxml/xmlerror.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "support/paths.h"
#include "webdav/protocol.h"

namespace {

using Chain = std::unique_ptr<nodeinfo, void (*)(nodeinfo*)>;
const std::string kHead = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
const std::string kMtime = "<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>";
const std::string kFile = "<D:resourcetype/><D:getcontentlength>5</D:getcontentlength>" + kMtime;
const std::string kT = "1994-11-15T12:45:26.000Z";

std::string Multistatus(const std::string& responses, const std::string& doctype = "") {
    return kHead + doctype + "<D:multistatus xmlns:D=\"DAV:\">" + responses + "</D:multistatus>";
}

// One response; extra follows its propstat (a status line, another propstat).
std::string R(const std::string& href, const std::string& props = "",
              const std::string& extra = "") {
    return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>" + props +
           "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>" + extra + "</D:response>";
}

std::string Trace(const nodeinfo* entry) {
    std::string trace;
    for (; entry != nullptr; entry = entry->next) {
        const _FS_FILE& f = entry->file;
        trace += f.id + "|" + f.name + "|" + std::to_string(f.attributes) + "|" +
                 std::to_string(f.size) + "|" + f.modifiedTime +
                 (f.creationTime != f.modifiedTime ? "|c" + f.creationTime : "") +
                 (f.accessTime != f.modifiedTime ? "|a" + f.accessTime : "") + ";";
    }
    return trace;
}

// Feeds the first bytes in one piece, the rest in pieces of the given size.
std::string Streamed(Protocol& protocol, const std::string& body, size_t first, size_t piece) {
    MultistatusRecords records(protocol);
    records.Feed(body.data(), first);
    for (size_t at = first; at < body.size(); at += piece)
        records.Feed(body.data() + at, std::min(piece, body.size() - at));
    bool usable = records.Finish();
    Chain chain(records.Take(), Protocol::nodeinfoFree);
    return usable || chain ? Trace(chain.get()) : "refused";
}

std::string Read(Protocol& protocol, const std::string& body) {
    std::shared_ptr<xmlDoc> doc = ParseMultistatus(body.data(), body.size());
    Chain chain(doc ? protocol.parsePropfindAnswer(doc->children) : nullptr,
                Protocol::nodeinfoFree);
    const std::string whole = doc ? Trace(chain.get()) : "refused";
    size_t cut = 0;
    while (cut <= body.size() && Streamed(protocol, body, cut, body.size()) == whole) ++cut;
    EXPECT_EQ(cut, body.size() + 1) << "streamed records differ when cut at this byte";
    EXPECT_EQ(Streamed(protocol, body, 0, 1), whole) << "streamed byte by byte";
    return whole;
}

TEST(Multistatus, RealServersAnswers) {
    // Each record followed by suffix (Apache's and webdav-server's creation times).
    auto list = [](std::vector<std::string> records, const std::string& suffix = "") {
        std::string trace;
        for (const std::string& record : records) trace += record + suffix + ";";
        return trace;
    };
    // lighttpd and Apache served the first capture, the other servers the second.
    const std::string a1 = "/a b.txt|a b.txt|1|5|2021-03-01T05:06:01.000Z",
                      sure1 = "/100% sure.txt|100% sure.txt|1|0|2021-03-05T05:06:05.000Z",
                      hash1 = "/x#1%.txt|x#1%.txt|1|8|2021-03-02T05:06:02.000Z",
                      gruss1 = "/Grüße ünï.txt|Grüße ünï.txt|1|1000|2021-03-04T05:06:04.000Z",
                      amp1 = "/plus+and&amp.txt|plus+and&amp.txt|1|3|2021-03-03T05:06:03.000Z",
                      apache = "|c2026-12-06T08:45:22.000Z";
    const std::string a = "/a b.txt|a b.txt|1|5|2021-03-01T05:00:01.000Z",
                      hash = "/x#1%.txt|x#1%.txt|1|8|2021-03-02T05:02:02.000Z",
                      amp = "/plus+and&amp.txt|plus+and&amp.txt|1|3|2021-03-03T05:03:03.000Z",
                      gruss = "/Grüße ünï.txt|Grüße ünï.txt|1|1000|2021-03-04T05:04:04.000Z",
                      sure = "/100% sure.txt|100% sure.txt|1|0|2021-03-05T05:05:05.000Z",
                      sub = "/Sub Dir|Sub Dir|2|0|2021-03-07T05:07:07.000Z",
                      node = "|c2026-12-06T09:38:21.000Z";
    const std::string lighttpdRoot = "||2|4096|2021-03-08T05:06:08.000Z",
                      lighttpdSub = "/Sub Dir|Sub Dir|2|4096|2021-03-07T05:06:07.000Z",
                      apacheRoot = "||2|0|2021-03-08T05:06:08.000Z",
                      apacheSub = "/Sub Dir|Sub Dir|2|0|2021-03-07T05:06:07.000Z";
    const std::pair<const char*, std::string> rows[] = {
        {"lighttpd_depth1", list({lighttpdRoot, a1, sure1, hash1, gruss1, amp1, lighttpdSub})},
        {"lighttpd_depth0_file", list({hash1})},
        {"lighttpd_depth0_folder", list({lighttpdSub})},
        {"apache_depth1", list({apacheRoot, a1, sure1, hash1, gruss1, amp1, apacheSub}, apache)},
        {"apache_depth0_file", list({hash1}, apache)},
        {"apache_depth0_folder", list({apacheSub}, apache)},
        {"nginx_depth1", list({"||2|0|2026-12-06T09:38:18.000Z", a, sure, hash, gruss, amp, sub})},
        {"rclone_depth1", list({"||2|0|2026-12-06T09:38:19.000Z", sure, gruss, sub, a, amp, hash})},
        {"sabredav_depth1",
         list({"||2|0|2026-12-06T09:38:20.000Z", sure, gruss, sub, a, amp, hash})},
        {"webdav_server_depth1", "||2|0|2026-12-06T09:38:21.000Z|c2026-12-06T09:38:20.000Z;" +
                                     list({sub, sure, gruss, a, amp, hash}, node)},
    };
    Protocol protocol("http://127.0.0.1/dav", nullptr);
    for (const auto& [seed, expected] : rows) {  // kept once, as the fuzzer's seeds (see README)
        std::ifstream in(SourceDir() + "/fuzz/corpus-multistatus/" + seed, std::ios::binary);
        in.get();  // the fuzzer's piece size
        EXPECT_EQ(Read(protocol, std::string(std::istreambuf_iterator<char>(in), {})), expected)
            << seed;
    }
}

TEST(Multistatus, ParsingRules) {
    const std::string longName(4100, 'n');
    const std::string kinds = R("/dav/e", "<D:resourcetype/>") + R("/dav/m") +
                              R("/dav/c", "<D:resourcetype><D:collection/></D:resourcetype>") +
                              R("/dav/w", "<D:resourcetype>\n <D:collection/>\n</D:resourcetype>");
    const std::tuple<std::string, std::string, const char*> rows[] = {
        // body, records, root
        // no prefix at all; names inside propstat in any case
        {"<multistatus xmlns=\"DAV:\"><response><href>/dav/F</href><propstat><PROP><ResourceType>"
         "<COLLECTION/></ResourceType><GETCONTENTLENGTH>7</GETCONTENTLENGTH></PROP></propstat>"
         "</response></multistatus>",
         "/F|F|2|7|;", "/dav"},
        {Multistatus(R("https://h/dav/Folder/") + R("/dav") + R("/dav/" + longName) +
                     R("/dav/%c3%bc%C3%BC+%2541") + R("/dav/1% %zz%4g%g4%%41 5%4") + R("/dav/5%") +
                     R("/dav/ab%00cd")),  // a % without two hex digits is itself; %00 ends it
         "/Folder|Folder|0|0|;||0|0|;/" + longName + "|" + longName +
             "|0|0|;/üü+%41|üü+%41|0|0|;/1% %zz%4g%g4%A 5%4|1% %zz%4g%g4%A 5%4|0|0|;/5%|5%|0|0|;"
             "/ab|ab|0|0|;",
         "/dav"},
        {Multistatus(R("/") + R("/da") + R("/davx/f") + R("/other/dav/f") + R("/DAV/f") +
                     R("http://h") + R("rel.txt")),  // outside the root
         "", "/dav"},
        {Multistatus(R("http://h") + R("https://h/") + R("/a/b") + R("http://h:81/top/")),
         "||0|0|;||0|0|;/a/b|b|0|0|;/top|top|0|0|;", ""},
        // dot segments resolved, then the root; an encoded "/" is part of a name
        {Multistatus(R("/dav/a/./b") + R("/dav/a/../c") + R("/dav/../etc/x") + R("/dav/%2e%2e/y") +
                     R("/dav/x%2Fy%2f") + R("/dav/docs//") + R("/dav/s/..")),
         "/a/b|b|0|0|;/c|c|0|0|;/x%2Fy%2f|x%2Fy%2f|0|0|;||0|0|;", "/dav"},
        {Multistatus(R("/My%20Files/%C3%BC/x%20y") + R("/My%20Files/%c3%bc/") +
                     R("/My%20Files/u/x")),
         "/x y|x y|0|0|;||0|0|;", "/My Files/ü"},
        // a response status keeps its response only when 2xx
        {Multistatus(R("/dav/a", "", "<D:status>HTTP/1.1   204 No Content</D:status>") +
                     R("/dav/b", kFile, "<D:status>HTTP/1.1 404 Not Found</D:status>") +
                     R("/dav/c", "", "<D:status>HTTP/1.1-200</D:status>") +
                     "<D:response><D:status>HTTP/1.1 404 Not Found</D:status><D:href>/dav/d"
                     "</D:href></D:response>" +
                     "<D:response><D:propstat/></D:response>"),
         "/a|a|0|0|;", "/dav"},
        {Multistatus(kinds), "/e|e|513|0|;/m|m|0|0|;/c|c|2|0|;/w|w|2|0|;", "/dav"},
        // a collection among other kinds, in any namespace; the root after a stylesheet
        {Multistatus(R("/dav/p",
                       "<D:resourcetype><D:principal/><x:collection xmlns:x=\"urn:x\"/>"
                       "</D:resourcetype>") +
                         R("/dav/q", "<D:resourcetype><!-- c --><D:collection/></D:resourcetype>"),
                     "<?xml-stylesheet type=\"text/xsl\" href=\"/s.xsl\"?><!-- c -->"),
         "/p|p|2|0|;/q|q|2|0|;", "/dav"},
        // getcontentlength; a namespace fault spoils only its own element
        {Multistatus(R("/dav/a", "<D:getcontentlength>5000000000</D:getcontentlength>") +
                     R("/dav/b",
                       "<x:getcontentlength>5</x:getcontentlength>"
                       "<D:getcontentlength> 12abc</D:getcontentlength>") +
                     R("/dav/c", "<D:getcontentlength>abc</D:getcontentlength>") +
                     R("/dav/d", "<D:getcontentlength>-5</D:getcontentlength>")),
         "/a|a|0|5000000000|;/b|b|0|12|;/c|c|0|0|;/d|d|0|0|;", "/dav"},
        {Multistatus(R("/dav/t", "<D:creationdate>1994-11-06T08:49:37Z</D:creationdate>" + kMtime +
                                     "<D:lastaccessed>1994-11-06T10:49:37+02:00</D:lastaccessed>")),
         "/t|t|0|0|" + kT + "|c1994-11-06T08:49:37.000Z|a1994-11-06T08:49:37.000Z;", "/dav"},
        // missing, empty and (null) times follow the modification time
        {Multistatus(R("/dav/t",
                       "<D:creationdate>(NULL)</D:creationdate><D:lastaccessed>(null)"
                       "</D:lastaccessed>" +
                           kMtime) +
                     R("/dav/u", "<D:getlastmodified/><D:creationdate></D:creationdate>")),
         "/t|t|0|0|" + kT + ";/u|u|0|0|;", "/dav"},
        {Multistatus(R("/dav/caf%E9.txt") + R("/dav/Gr%C3%BC%C3%9Fe")),
         "/caf\xE9.txt|café.txt|0|0|;/Grüße|Grüße|0|0|;", "/dav"},
    };
    for (const auto& [body, expected, root] : rows) {
        Protocol protocol("http://127.0.0.1/dav", nullptr);
        protocol.rootPath = root;
        protocol.markFiles = true;  // files get 0x200 (513)
        protocol.convertNames = true;
        protocol.nameCharset = "ISO-8859-1";
        EXPECT_EQ(Read(protocol, body), expected);
    }
}

int hostCalls = 0;
void HostHandler(void*, const char*, ...) {
    ++hostCalls;
}

TEST(Multistatus, RefusesWhatIsNotAPlainXmlDocument) {
    std::string bomb = "<!DOCTYPE D:multistatus [<!ENTITY a0 \"aaaaaaaaaa\">", refs;
    for (int i = 1; i <= 10; ++i, refs.clear()) {  // 10^11 bytes if expanded
        for (int k = 0; k < 10; ++k) refs += "&a" + std::to_string(i - 1) + ";";
        bomb += "<!ENTITY a" + std::to_string(i) + " \"" + refs + "\">";
    }
    const std::string two = Multistatus(R("/dav/a", kFile) + R("/dav/b", kFile));
    const std::string refused[] = {
        Multistatus(R("/dav/a"), "<!DOCTYPE D:multistatus>"),  // any DTD, even a harmless one
        Multistatus(R("/dav/&x;"), "<!DOCTYPE D:multistatus [<!ENTITY x SYSTEM \"/etc/passwd\">]>"),
        Multistatus(R("/dav/&a10;"), bomb + "]>"), "<html><body>Not Found", "",
        two.substr(0, two.size() - 40), two + "<extra/>",
        // bytes the declared encoding cannot decode
        "<?xml version=\"1.0\" encoding=\"utf-7\"?><D:multistatus xmlns:D=\"DAV:\">" + R("/dav/a") +
            "<D:resp" + std::string("\x11\0\0\0\xff\xff", 6) + "onse/>" + R("/dav/b") +
            "</D:multistatus>"};
    Protocol protocol("http://127.0.0.1/dav", nullptr);
    xmlSetGenericErrorFunc(nullptr, HostHandler);  // a host may keep one of its own there
    ::testing::internal::CaptureStderr();
    for (const std::string& body : refused) EXPECT_EQ(Read(protocol, body), "refused") << body;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(hostCalls == 0 && xmlGenericError == HostHandler);
    xmlSetGenericErrorFunc(nullptr, nullptr);
}

// A big answer never sits whole in memory: each finished response leaves the tree at once.
TEST(Multistatus, FinishedResponsesLeaveTheTree) {
    std::string responses;
    for (int i = 0; i < 50; ++i) responses += R("/dav/f", kFile);
    const std::string body = Multistatus(responses);
    MultistatusStream stream;
    for (size_t at = 0; at < body.size(); at += 64) {
        stream.Feed(body.data() + at, std::min<size_t>(64, body.size() - at));
        while (stream.TakeFinishedChild()) continue;
        EXPECT_TRUE(!stream.Root() || stream.Root()->children == stream.Root()->last) << at;
    }
}

}  // namespace
