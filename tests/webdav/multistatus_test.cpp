// The multistatus parser: tolerance rules, href handling, property rules,
// hardened XML reading and real servers' answers.

#include <gtest/gtest.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "multistatus_trace.h"

namespace {

const char kHead[] = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";

// One response element with a href and one prop block.
std::string Response(const std::string& href, const std::string& props,
                     const std::string& prefix = "D:") {
    return "<" + prefix + "response><" + prefix + "href>" + href + "</" + prefix + "href><" +
           prefix + "propstat><" + prefix + "prop>" + props + "</" + prefix + "prop><" + prefix +
           "status>HTTP/1.1 200 OK</" + prefix + "status></" + prefix + "propstat></" + prefix +
           "response>";
}

std::string Multistatus(const std::string& responses, const std::string& prefix = "D:") {
    std::string ns = prefix.empty() ? " xmlns=\"DAV:\""
                                    : " xmlns:" + prefix.substr(0, prefix.size() - 1) + "=\"DAV:\"";
    return std::string(kHead) + "<" + prefix + "multistatus" + ns + ">" + responses + "</" +
           prefix + "multistatus>";
}

const char kFileProps[] =
    "<D:resourcetype/><D:getcontentlength>5</D:getcontentlength>"
    "<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>";
const char kFolderProps[] =
    "<D:resourcetype><D:collection/></D:resourcetype>"
    "<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>";
const char kTime[] = "1994-11-15T12:45:26.000Z";

class MultistatusTest : public ::testing::Test {
protected:
    MultistatusTest() : protocol("http://127.0.0.1/dav", nullptr) { protocol.rootPath = "/dav"; }

    std::string Trace(const std::string& body) { return TraceBody(protocol, body); }

    Protocol protocol;
};

TEST_F(MultistatusTest, AnyPrefixParsesTheSame) {
    const std::string expected = std::string("/a.txt|a.txt|1|5|") + kTime + ";";
    for (std::string prefix : {"D:", "d:", "lp1:", ""}) {
        std::string props = "<" + prefix + "resourcetype/><" + prefix + "getcontentlength>5</" +
                            prefix + "getcontentlength><" + prefix +
                            "getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</" + prefix +
                            "getlastmodified>";
        EXPECT_EQ(Trace(Multistatus(Response("/dav/a.txt", props, prefix), prefix)), expected)
            << "prefix " << prefix;
    }
    // Apache mixes prefixes inside one answer.
    std::string mixed = std::string(kHead) +
                        "<D:multistatus xmlns:D=\"DAV:\"><D:response xmlns:lp1=\"DAV:\">"
                        "<D:href>/dav/a.txt</D:href><D:propstat><D:prop>"
                        "<lp1:resourcetype/><lp1:getcontentlength>5</lp1:getcontentlength>"
                        "<lp1:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</lp1:getlastmodified>"
                        "</D:prop></D:propstat></D:response></D:multistatus>";
    EXPECT_EQ(Trace(mixed), expected);
}

TEST_F(MultistatusTest, OuterLevelsAreCaseSensitiveInnerLevelsAreNot) {
    // Root, response and href must be spelled exactly.
    EXPECT_EQ(Trace(std::string(kHead) + "<D:MultiStatus xmlns:D=\"DAV:\">" +
                    Response("/dav/a.txt", kFileProps) + "</D:MultiStatus>"),
              "");
    EXPECT_EQ(Trace(Multistatus("<D:Response><D:href>/dav/a</D:href></D:Response>")), "");
    EXPECT_EQ(Trace(Multistatus("<D:response><D:HREF>/dav/a</D:HREF></D:response>")), "");
    // prop, property names and collection are matched in any case.
    std::string shouting =
        "<D:response><D:href>/dav/F</D:href><D:propstat><D:PROP>"
        "<D:ResourceType><D:COLLECTION/></D:ResourceType>"
        "<D:GETLASTMODIFIED>Tue, 15 Nov 1994 12:45:26 GMT</D:GETLASTMODIFIED>"
        "<D:GetContentLength>7</D:GetContentLength>"
        "</D:PROP></D:propstat></D:response>";
    EXPECT_EQ(Trace(Multistatus(shouting)), std::string("/F|F|2|7|") + kTime + ";");
}

TEST_F(MultistatusTest, DocumentMustStartWithTheMultistatusElement) {
    std::string body = Multistatus(Response("/dav/a.txt", kFileProps));
    std::string commented =
        std::string(kHead) + "<!-- generated -->" + body.substr(sizeof(kHead) - 1);
    EXPECT_EQ(Trace(commented), "");
    std::string pi = std::string(kHead) + "<?style x?>" + body.substr(sizeof(kHead) - 1);
    EXPECT_EQ(Trace(pi), "");
    EXPECT_EQ(Trace(std::string(kHead) + "<D:propfind xmlns:D=\"DAV:\"/>"), "");
}

TEST_F(MultistatusTest, ResponsesKeepDocumentOrderAndSkipThoseWithoutHref) {
    std::string body =
        Multistatus(Response("/dav/", kFolderProps) + "<D:response><D:propstat/></D:response>" +
                    "<D:responsedescription>x</D:responsedescription>" +
                    Response("/dav/b", kFileProps) + Response("/dav/a", kFileProps));
    EXPECT_EQ(Trace(body),
              std::string("||2|0|") + kTime + ";/b|b|1|5|" + kTime + ";/a|a|1|5|" + kTime + ";");
}

TEST_F(MultistatusTest, FirstHrefOnlyCounts) {
    std::string body = Multistatus(
        "<D:response><D:href>/dav/first</D:href><D:href>/dav/second</D:href>"
        "<D:propstat><D:prop>" +
        std::string(kFileProps) + "</D:prop></D:propstat></D:response>");
    EXPECT_EQ(Trace(body), std::string("/first|first|1|5|") + kTime + ";");
}

TEST_F(MultistatusTest, ResponseLevelStatusDecidesWhetherTheEntryIsKept) {
    auto withStatus = [](const std::string& status, bool statusFirst) {
        std::string propstat = "<D:propstat><D:prop>" + std::string(kFileProps) +
                               "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>";
        std::string line = "<D:status>" + status + "</D:status>";
        return Multistatus("<D:response><D:href>/dav/x</D:href>" +
                           (statusFirst ? line + propstat : propstat + line) + "</D:response>");
    };
    std::string kept = std::string("/x|x|1|5|") + kTime + ";";
    EXPECT_EQ(Trace(withStatus("HTTP/1.1 200 OK", false)), kept);
    EXPECT_EQ(Trace(withStatus("HTTP/1.1   204 No Content", true)), kept);
    EXPECT_EQ(Trace(withStatus("HTTP/1.1 404 Not Found", false)), "");  // after its propstat
    EXPECT_EQ(Trace(withStatus("HTTP/1.1 404 Not Found", true)), "");
    EXPECT_EQ(Trace(withStatus("HTTP/1.1-200", false)), "");  // no blank at all
    EXPECT_EQ(Trace(withStatus("", false)), "");
    // The status of a propstat is not examined: a failing block's empty
    // properties simply leave the fields alone.
    std::string failingBlock = Multistatus(
        "<D:response><D:href>/dav/x</D:href><D:propstat><D:prop>" + std::string(kFileProps) +
        "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
        "<D:propstat><D:prop><D:creationdate/><D:lastaccessed/></D:prop>"
        "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat></D:response>");
    EXPECT_EQ(Trace(failingBlock), kept);
}

TEST_F(MultistatusTest, ResourcetypeRules) {
    auto attributes = [&](const std::string& props) {
        std::string trace = Trace(Multistatus(Response("/dav/r", props)));
        size_t first = trace.find('|', trace.find('|') + 1);
        return trace.substr(first + 1, trace.find('|', first + 1) - first - 1);
    };
    EXPECT_EQ(attributes("<D:resourcetype/>"), "1");
    EXPECT_EQ(attributes("<D:getcontentlength>1</D:getcontentlength>"), "0");  // missing
    EXPECT_EQ(attributes("<D:resourcetype><D:collection/></D:resourcetype>"), "2");
    EXPECT_EQ(attributes("<D:resourcetype>\n  <D:collection/>\n</D:resourcetype>"), "2");
    EXPECT_EQ(attributes("<D:resourcetype><!-- dir --><D:collection/></D:resourcetype>"), "1");
    EXPECT_EQ(attributes("<D:resourcetype><D:principal/><D:collection/></D:resourcetype>"), "1");
    EXPECT_EQ(attributes("<D:resourcetype><x:COLLECTION xmlns:x=\"urn:x\"/></D:resourcetype>"),
              "2");

    protocol.markFiles = true;
    EXPECT_EQ(attributes("<D:resourcetype/>"), "201");
    EXPECT_EQ(attributes("<D:resourcetype><D:collection/></D:resourcetype>"), "2");
    EXPECT_EQ(attributes("<D:getcontentlength>1</D:getcontentlength>"), "0");
}

TEST_F(MultistatusTest, ContentLengthIsReadLikeAtoll) {
    auto size = [&](const std::string& text) {
        _FS_FILE file;
        WithChain(protocol,
                  Multistatus(
                      Response("/dav/s", "<D:getcontentlength>" + text + "</D:getcontentlength>")),
                  [&](nodeinfo* chain) {
                      ASSERT_NE(chain, nullptr);
                      file = chain->file;
                  });
        return file.size;
    };
    EXPECT_EQ(size("5000000000"), 5000000000LL);
    EXPECT_EQ(size("  42"), 42);
    EXPECT_EQ(size("12abc"), 12);
    EXPECT_EQ(size("abc"), 0);
    EXPECT_EQ(size(""), 0);
    EXPECT_EQ(size("-3"), -3);
}

TEST_F(MultistatusTest, TimesFallBackToTheModificationTime) {
    auto record = [&](const std::string& props) {
        _FS_FILE file;
        WithChain(protocol, Multistatus(Response("/dav/t", props)), [&](nodeinfo* chain) {
            ASSERT_NE(chain, nullptr);
            file = chain->file;
        });
        return file;
    };
    _FS_FILE only = record("<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>");
    EXPECT_EQ(only.modifiedTime, kTime);
    EXPECT_EQ(only.creationTime, kTime);
    EXPECT_EQ(only.accessTime, kTime);

    _FS_FILE all = record(
        "<D:creationdate>1994-11-06T08:49:37Z</D:creationdate>"
        "<D:lastaccessed>1994-11-06T10:49:37+02:00</D:lastaccessed>"
        "<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>");
    EXPECT_EQ(all.creationTime, "1994-11-06T08:49:37.000Z");
    EXPECT_EQ(all.accessTime, "1994-11-06T08:49:37.000Z");
    EXPECT_EQ(all.modifiedTime, kTime);

    _FS_FILE nulls = record(
        "<D:creationdate>(NULL)</D:creationdate><D:lastaccessed>(null)</D:lastaccessed>"
        "<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>");
    EXPECT_EQ(nulls.creationTime, kTime);
    EXPECT_EQ(nulls.accessTime, kTime);

    _FS_FILE none = record("<D:getlastmodified/><D:creationdate></D:creationdate>");
    EXPECT_EQ(none.modifiedTime, "");
    EXPECT_EQ(none.creationTime, "");
    EXPECT_EQ(none.accessTime, "");

    // The fallback runs after each prop element: a creation date in a later
    // block replaces the copy made after the first one.
    std::string twoBlocks = Multistatus(
        "<D:response><D:href>/dav/t</D:href>"
        "<D:propstat><D:prop><D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT"
        "</D:getlastmodified></D:prop></D:propstat>"
        "<D:propstat><D:prop><D:creationdate>1994-11-06T08:49:37Z</D:creationdate>"
        "</D:prop></D:propstat></D:response>");
    WithChain(protocol, twoBlocks, [&](nodeinfo* chain) {
        ASSERT_NE(chain, nullptr);
        EXPECT_EQ(chain->file.creationTime, "1994-11-06T08:49:37.000Z");
        EXPECT_EQ(chain->file.accessTime, kTime);
    });

    // No prop element at all: every time stays empty.
    _FS_FILE bare;
    WithChain(protocol, Multistatus("<D:response><D:href>/dav/t</D:href></D:response>"),
              [&](nodeinfo* chain) {
                  ASSERT_NE(chain, nullptr);
                  bare = chain->file;
              });
    EXPECT_EQ(bare.id, "/t");
    EXPECT_EQ(bare.modifiedTime + bare.creationTime + bare.accessTime, "");
    EXPECT_EQ(bare.attributes, FA_NONE);
}

TEST_F(MultistatusTest, HrefsBecomeIdsRelativeToTheRoot) {
    auto ids = [&](const std::string& href) { return Trace(Multistatus(Response(href, ""))); };
    EXPECT_EQ(ids("http://server:8080/dav/a%20b/c.txt"), "/a b/c.txt|c.txt|0|0|;");
    EXPECT_EQ(ids("https://server/dav/Folder/"), "/Folder|Folder|0|0|;");
    EXPECT_EQ(ids("/dav/Folder/"), "/Folder|Folder|0|0|;");
    EXPECT_EQ(ids("/dav/"), "||0|0|;");
    EXPECT_EQ(ids("/dav"), "||0|0|;");
    EXPECT_EQ(ids("/dav/a//"), "/a/||0|0|;");  // one trailing "/" goes
    EXPECT_EQ(ids("/dav/plus+and%26.txt"), "/plus+and&.txt|plus+and&.txt|0|0|;");
    EXPECT_EQ(ids("/dav/x%231%25.txt"), "/x#1%.txt|x#1%.txt|0|0|;");
    EXPECT_EQ(ids("/dav/100% sure.txt"), "/100% sure.txt|100% sure.txt|0|0|;");
    EXPECT_EQ(ids("/dav/a&amp;b"), "/a&b|a&b|0|0|;");
    EXPECT_EQ(ids("<![CDATA[/dav/c d]]>"), "/c d|c d|0|0|;");
}

TEST_F(MultistatusTest, HrefsOutsideTheRootAreDropped) {
    auto ids = [&](const std::string& href) { return Trace(Multistatus(Response(href, ""))); };
    EXPECT_EQ(ids("/"), "");
    EXPECT_EQ(ids("/da"), "");         // shorter than the root
    EXPECT_EQ(ids("/davx/file"), "");  // shares the bytes but not the folder
    EXPECT_EQ(ids("/other/dav/file"), "");
    EXPECT_EQ(ids("/DAV/file"), "");
    EXPECT_EQ(ids("http://server"), "");  // no path: the server root
    EXPECT_EQ(ids("relative.txt"), "");
}

TEST_F(MultistatusTest, HrefsUnderAnEmptyRoot) {
    protocol.rootPath = "";
    auto ids = [&](const std::string& href) { return Trace(Multistatus(Response(href, ""))); };
    EXPECT_EQ(ids("http://server"), "||0|0|;");
    EXPECT_EQ(ids("https://server/"), "||0|0|;");
    EXPECT_EQ(ids("/a/b"), "/a/b|b|0|0|;");
    EXPECT_EQ(ids("http://server:81/top/"), "/top|top|0|0|;");
}

TEST_F(MultistatusTest, RootPathWithBlanksAndNonAsciiMatchesDecodedHrefs) {
    protocol.rootPath = "/My Files/ü";
    EXPECT_EQ(Trace(Multistatus(Response("/My%20Files/%C3%BC/x%20y", ""))), "/x y|x y|0|0|;");
    EXPECT_EQ(Trace(Multistatus(Response("/My%20Files/%c3%bc/", ""))), "||0|0|;");
    EXPECT_EQ(Trace(Multistatus(Response("/My%20Files/u/x", ""))), "");
}

TEST_F(MultistatusTest, LongHrefsAreKeptWhole) {
    std::string name(5000, 'n');
    std::string encoded;
    for (int i = 0; i < 2000; ++i) encoded += "%C3%BC";  // 4000 decoded bytes
    std::string trace = Trace(Multistatus(Response("/dav/" + name + "/" + encoded, "")));
    std::string decoded;
    for (int i = 0; i < 2000; ++i) decoded += "ü";
    EXPECT_EQ(trace, "/" + name + "/" + decoded + "|" + decoded + "|0|0|;");
}

TEST_F(MultistatusTest, NamesTakeACharsetRoundTripWhenAsked) {
    const std::string latin1 = "/dav/caf%E9.txt";  // not UTF-8: a Latin-1 name
    EXPECT_EQ(Trace(Multistatus(Response(latin1, ""))), "/caf\xE9.txt|caf\xE9.txt|0|0|;");

    protocol.convertNames = true;
    protocol.nameCharset = "ISO-8859-1";
    // The id keeps the server's bytes; only the name is made UTF-8.
    EXPECT_EQ(Trace(Multistatus(Response(latin1, ""))), "/caf\xE9.txt|café.txt|0|0|;");
    // Valid UTF-8 comes back as it was.
    EXPECT_EQ(Trace(Multistatus(Response("/dav/Gr%C3%BC%C3%9Fe", ""))), "/Grüße|Grüße|0|0|;");

    // The default, the locale's own set: tests run in the C locale (ASCII),
    // where both steps fail and the name stays as the server sent it.
    protocol.nameCharset = "";
    EXPECT_EQ(Trace(Multistatus(Response(latin1, ""))), "/caf\xE9.txt|caf\xE9.txt|0|0|;");
    EXPECT_EQ(Trace(Multistatus(Response("/dav/Gr%C3%BC%C3%9Fe", ""))), "/Grüße|Grüße|0|0|;");
}

TEST_F(MultistatusTest, RealServerAnswers) {
    // Captured with curl from lighttpd 1.4.69 and Apache 2.4 (mod_dav_fs)
    // serving the same folder; the folder's mtimes were set with touch.
    const std::string files =
        "/100% sure.txt|100% sure.txt|1|0|2021-03-05T05:06:05.000Z;"
        "/x#1%.txt|x#1%.txt|1|8|2021-03-02T05:06:02.000Z;"
        "/Grüße ünï.txt|Grüße ünï.txt|1|1000|2021-03-04T05:06:04.000Z;"
        "/plus+and&amp.txt|plus+and&amp.txt|1|3|2021-03-03T05:06:03.000Z;";
    EXPECT_EQ(Trace(ReadFixture("lighttpd_depth1.xml")),
              "||2|4096|2021-03-08T05:06:08.000Z;"
              "/a b.txt|a b.txt|1|5|2021-03-01T05:06:01.000Z;" +
                  files + "/Sub Dir|Sub Dir|2|4096|2021-03-07T05:06:07.000Z;");
    EXPECT_EQ(Trace(ReadFixture("apache_depth1.xml")),
              "||2|0|2021-03-08T05:06:08.000Z;"
              "/a b.txt|a b.txt|1|5|2021-03-01T05:06:01.000Z;" +
                  files + "/Sub Dir|Sub Dir|2|0|2021-03-07T05:06:07.000Z;");

    EXPECT_EQ(Trace(ReadFixture("lighttpd_depth0_file.xml")),
              "/x#1%.txt|x#1%.txt|1|8|2021-03-02T05:06:02.000Z;");
    EXPECT_EQ(Trace(ReadFixture("apache_depth0_folder.xml")),
              "/Sub Dir|Sub Dir|2|0|2021-03-07T05:06:07.000Z;");

    // lighttpd reports no creation or access time: both follow the mtime.
    // Apache reports a creation time of its own.
    WithChain(protocol, ReadFixture("lighttpd_depth0_file.xml"), [](nodeinfo* chain) {
        ASSERT_NE(chain, nullptr);
        EXPECT_EQ(chain->file.creationTime, "2021-03-02T05:06:02.000Z");
        EXPECT_EQ(chain->file.accessTime, "2021-03-02T05:06:02.000Z");
    });
    WithChain(protocol, ReadFixture("apache_depth0_file.xml"), [](nodeinfo* chain) {
        ASSERT_NE(chain, nullptr);
        EXPECT_EQ(chain->file.modifiedTime, "2021-03-02T05:06:02.000Z");
        EXPECT_EQ(chain->file.accessTime, "2021-03-02T05:06:02.000Z");
        EXPECT_EQ(chain->file.creationTime.size(), 24u);
        EXPECT_NE(chain->file.creationTime, chain->file.modifiedTime);
    });
}

TEST_F(MultistatusTest, MoreServersAnswers) {
    // Captured from nginx (dav_ext), rclone, SabreDAV and webdav-server over a
    // second copy of the folder with other mtimes; each lists in its own order,
    // webdav-server with absolute hrefs, SabreDAV with "d:" and lower-case escapes.
    const std::string a = "/a b.txt|a b.txt|1|5|2021-03-01T05:00:01.000Z;";
    const std::string hash = "/x#1%.txt|x#1%.txt|1|8|2021-03-02T05:02:02.000Z;";
    const std::string amp = "/plus+and&amp.txt|plus+and&amp.txt|1|3|2021-03-03T05:03:03.000Z;";
    const std::string gruss = "/Grüße ünï.txt|Grüße ünï.txt|1|1000|2021-03-04T05:04:04.000Z;";
    const std::string sure = "/100% sure.txt|100% sure.txt|1|0|2021-03-05T05:05:05.000Z;";
    const std::string sub = "/Sub Dir|Sub Dir|2|0|2021-03-07T05:07:07.000Z;";
    EXPECT_EQ(Trace(ReadFixture("nginx_depth1.xml")),
              "||2|0|2026-12-06T09:38:18.000Z;" + a + sure + hash + gruss + amp + sub);
    EXPECT_EQ(Trace(ReadFixture("rclone_depth1.xml")),
              "||2|0|2026-12-06T09:38:19.000Z;" + sure + gruss + sub + a + amp + hash);
    EXPECT_EQ(Trace(ReadFixture("sabredav_depth1.xml")),
              "||2|0|2026-12-06T09:38:20.000Z;" + sure + gruss + sub + a + amp + hash);
    EXPECT_EQ(Trace(ReadFixture("webdav_server_depth1.xml")),
              "||2|0|2026-12-06T09:38:21.000Z;" + sub + sure + gruss + a + amp + hash);
}

// Records made while an answer arrives in pieces of any size are exactly those
// of the whole document: no response lost, doubled or reordered at a piece
// boundary, and the same documents refused.
std::string TracePieces(Protocol& protocol, const std::string& body, size_t piece) {
    MultistatusRecords records(protocol);
    for (size_t at = 0; at < body.size(); at += piece)
        records.Feed(body.data() + at, std::min(piece, body.size() - at));
    if (!records.Finish()) {
        EXPECT_EQ(records.Take(), nullptr);  // nothing read before the fault survives
        return "<no document>";
    }
    nodeinfo* chain = records.Take();
    std::string trace = TraceChain(chain);
    Protocol::nodeinfoFree(chain);
    return trace;
}

TEST_F(MultistatusTest, RecordsFromPiecesMatchTheWholeDocument) {
    std::vector<std::string> bodies;
    for (const char* name :
         {"lighttpd_depth1.xml", "apache_depth1.xml", "nginx_depth1.xml", "rclone_depth1.xml",
          "sabredav_depth1.xml", "webdav_server_depth1.xml", "lighttpd_depth0_file.xml"})
        bodies.push_back(ReadFixture(name));
    std::string one = Multistatus(Response("/dav/a.txt", kFileProps));
    std::string many, unprefixed;
    for (int i = 0; i < 300; ++i) {
        std::string href = "/dav/f" + std::to_string(i);
        many += Response(href, i % 7 == 0 ? kFolderProps : kFileProps);
        unprefixed += Response(
            href, "<getcontentlength>" + std::to_string(i) + "</getcontentlength>\n<resourcetype/>",
            "");
    }
    bodies.push_back(Multistatus(many));
    bodies.push_back(Multistatus(unprefixed, ""));
    bodies.push_back(std::string(kHead) + "<!-- generated -->" + one.substr(sizeof(kHead) - 1));
    bodies.push_back(std::string(kHead) + "<D:propfind xmlns:D=\"DAV:\">" + many + "</D:propfind>");
    bodies.push_back(Multistatus("<D:response><D:propstat/></D:response>" + many +
                                 "<D:responsedescription>x</D:responsedescription>"));
    bodies.push_back(Multistatus(many).substr(0, 5000));  // cut off mid-answer
    bodies.push_back(Multistatus(many) + "<extra/>");     // junk after the root
    bodies.push_back(                                     // undecodable in the encoding it declares
        "<?xml version=\"1.0\" encoding=\"utf-7\"?><D:multistatus xmlns:D=\"DAV:\"><D:resp" +
        std::string("\x11\0\0\0\xff\xff", 6) + "onse/>" + many + "</D:multistatus>");
    bodies.push_back(std::string(kHead) + "<!DOCTYPE D:multistatus>" +
                     Multistatus(many).substr(sizeof(kHead) - 1));
    bodies.push_back("");
    // Blank text is dropped or kept by what follows it, which may not have
    // arrived yet: every cut of these must still read the same.
    bodies.push_back(Multistatus(
        "<D:response><D:href>/dav/sp </D:href><D:propstat><D:prop>"
        "<D:resourcetype> \n <D:collection/> </D:resourcetype>"
        "<D:getlastmodified> Tue, 15 Nov 1994 12:45:26 GMT </D:getlastmodified>"
        "<D:getcontentlength> \n</D:getcontentlength>"
        "</D:prop></D:propstat></D:response>\n <D:response> <D:href> </D:href> </D:response>"));

    for (size_t b = 0; b < bodies.size(); ++b) {
        const std::string whole = Trace(bodies[b]);
        if (bodies[b].size() < 2000) {
            for (size_t piece = 1; piece < 80; ++piece)
                EXPECT_EQ(TracePieces(protocol, bodies[b], piece), whole)
                    << "body " << b << " in pieces of " << piece;
        }
        for (size_t piece : {1, 2, 3, 7, 64, 1000, 16385}) {
            EXPECT_EQ(TracePieces(protocol, bodies[b], piece), whole)
                << "body " << b << " in pieces of " << piece;
        }
    }
    // Not vacuous: the big answers list every entry, the refused ones nothing.
    EXPECT_EQ(Trace(bodies[7]).find("/f299|f299|1|5|"), Trace(bodies[7]).size() - 40);
    EXPECT_NE(Trace(bodies[8]).find("/f299|f299|1|299|;"), std::string::npos);
    EXPECT_EQ(Trace(bodies[bodies.size() - 2]), "<no document>");
    EXPECT_EQ(Trace(bodies[bodies.size() - 3]), "<no document>");
    EXPECT_EQ(Trace(bodies[bodies.size() - 4]), "<no document>");
}

// A big answer is never held whole: finished responses leave the tree as
// soon as the parser is done with them.
TEST(MultistatusStream, FinishedChildrenLeaveTheTreeWhileTheParseGoesOn) {
    std::string body = std::string(kHead) + "<D:multistatus xmlns:D=\"DAV:\">";
    const int kResponses = 2000;
    for (int i = 0; i < kResponses; ++i)
        body += "<D:response><D:href>/f" + std::to_string(i) + "</D:href></D:response>\n";
    body += "</D:multistatus>";

    MultistatusStream stream;
    int taken = 0;
    size_t mostChildren = 0;
    for (size_t at = 0; at < body.size(); at += 512) {
        ASSERT_TRUE(stream.Feed(body.data() + at, std::min<size_t>(512, body.size() - at)));
        while (MultistatusStream::Node child = stream.TakeFinishedChild()) {
            EXPECT_EQ(child->parent, nullptr);  // unlinked before it is handed over
            if (child->type == XML_ELEMENT_NODE) ++taken;
        }
        size_t children = 0;
        for (xmlNodePtr c = stream.Root()->children; c != nullptr; c = c->next) ++children;
        mostChildren = std::max(mostChildren, children);
    }
    EXPECT_LE(mostChildren, 1u);
    EXPECT_GT(taken, kResponses - 2);
    std::shared_ptr<xmlDoc> doc = stream.Finish();
    ASSERT_NE(doc, nullptr);
    int left = 0;
    for (xmlNodePtr c = doc->children->children; c != nullptr; c = c->next)
        left += c->type == XML_ELEMENT_NODE;
    EXPECT_EQ(taken + left, kResponses);
    EXPECT_EQ(stream.Root(), nullptr);
    EXPECT_EQ(stream.TakeFinishedChild(), nullptr);
}

TEST(ParseMultistatus, RefusesWhatIsNotAPlainXmlDocument) {
    EXPECT_EQ(ParseMultistatus(nullptr, 0), nullptr);
    EXPECT_EQ(ParseMultistatus("", 0), nullptr);
    std::string html = "<html><body>Hello";
    EXPECT_EQ(ParseMultistatus(html.data(), html.size()), nullptr);
    std::string plain = "Not Found";
    EXPECT_EQ(ParseMultistatus(plain.data(), plain.size()), nullptr);
    // Any DTD is refused, even a harmless one.
    std::string withDoctype =
        std::string(kHead) + "<!DOCTYPE multistatus><multistatus xmlns=\"DAV:\"/>";
    EXPECT_EQ(ParseMultistatus(withDoctype.data(), withDoctype.size()), nullptr);
    // The body is not NUL-terminated: only size bytes are read.
    std::string doc = std::string(kHead) + "<multistatus xmlns=\"DAV:\"/>garbage";
    EXPECT_NE(ParseMultistatus(doc.data(), doc.size() - 7), nullptr);
}

// A namespace fault is not a broken document: the element with the unbound
// prefix is simply not a property we know.
TEST_F(MultistatusTest, UnboundPrefixSpoilsOnlyItsOwnElement) {
    std::string body = Multistatus(
        "<D:response><D:href>/dav/a</D:href><D:propstat><D:prop>"
        "<x:getcontentlength>5</x:getcontentlength><D:getcontentlength>7</D:getcontentlength>"
        "<D:getlastmodified>Tue, 15 Nov 1994 12:45:26 GMT</D:getlastmodified>"
        "</D:prop></D:propstat></D:response>");
    EXPECT_EQ(Trace(body), std::string("/a|a|0|7|") + kTime + ";");
    EXPECT_EQ(TracePieces(protocol, body, 5), Trace(body));
}

int hostHandlerCalls = 0;
void HostHandler(void*, const char*, ...) {
    ++hostHandlerCalls;
}

// Faults libxml2 reports outside the parser's own channel neither reach
// stderr nor the handler the host keeps on its thread, which it gets back.
TEST(ParseMultistatus, ParseFaultsStaySilentAndTheHostsHandlerSurvives) {
    std::string undecodable = "<?xml version=\"1.0\" encoding=\"utf-7\"?><m" +
                              std::string("\x11\0\0\0\xff\xff", 6) + "/>";
    xmlSetGenericErrorFunc(nullptr, &HostHandler);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(ParseMultistatus(undecodable.data(), undecodable.size()), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(hostHandlerCalls, 0);
    EXPECT_EQ(xmlGenericError, &HostHandler);
    xmlSetGenericErrorFunc(nullptr, nullptr);
}

TEST(ParseMultistatus, ExternalEntitiesNeverReachARecord) {
    // A file whose text must not leak into a record.
    std::string secretPath = ::testing::TempDir() + "webdav_secret.txt";
    FILE* secret = std::fopen(secretPath.c_str(), "w");
    ASSERT_NE(secret, nullptr);
    std::fputs("SECRET-CONTENT", secret);
    std::fclose(secret);

    Protocol protocol("http://127.0.0.1", nullptr);
    protocol.rootPath = "";
    for (std::string where : {"href", "getlastmodified", "getcontentlength"}) {
        std::string body = std::string(kHead) +
                           "<!DOCTYPE D:multistatus [<!ENTITY x SYSTEM \"file://" + secretPath +
                           "\">]><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>" +
                           (where == "href" ? "/&x;" : "/f") + "</D:href><D:propstat><D:prop>" +
                           (where == "href" ? "" : "<D:" + where + ">&x;</D:" + where + ">") +
                           "</D:prop></D:propstat></D:response></D:multistatus>";
        std::string trace = TraceBody(protocol, body);
        EXPECT_EQ(trace.find("SECRET"), std::string::npos) << trace;
        EXPECT_EQ(trace, "<no document>");
    }
    // Parameter entities and an external DTD are refused the same way.
    std::string external =
        std::string(kHead) + "<!DOCTYPE m SYSTEM \"file://" + secretPath + "\"><m/>";
    EXPECT_EQ(ParseMultistatus(external.data(), external.size()), nullptr);
    std::remove(secretPath.c_str());
}

TEST(ParseMultistatus, EntityExpansionBombFailsFast) {
    std::string bomb = std::string(kHead) + "<!DOCTYPE D:multistatus [<!ENTITY a \"aaaaaaaaaa\">";
    std::string previous = "a";
    for (int level = 1; level <= 10; ++level) {
        std::string name = "a" + std::to_string(level);
        bomb += "<!ENTITY " + name + " \"";
        for (int i = 0; i < 10; ++i) bomb += "&" + previous + ";";
        bomb += "\">";
        previous = name;
    }
    bomb += "]><D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/&" + previous +
            ";</D:href></D:response></D:multistatus>";
    // 10^11 bytes if expanded: finishing at all shows it was not.
    EXPECT_EQ(ParseMultistatus(bomb.data(), bomb.size()), nullptr);

    // The same without the reference to the top entity: refused for its DTD.
    std::string declaredOnly =
        bomb.substr(0, bomb.find("]>") + 2) + "<D:multistatus xmlns:D=\"DAV:\"/>";
    EXPECT_EQ(ParseMultistatus(declaredOnly.data(), declaredOnly.size()), nullptr);
}

TEST(Nodeinfo, NewEntriesAreBlankAndChainsAreFreed) {
    nodeinfo* first = Protocol::nodeinfoNew();
    EXPECT_EQ(first->next, nullptr);
    EXPECT_EQ(first->file.id, "");
    EXPECT_EQ(first->file.attributes, FA_NONE);
    EXPECT_EQ(first->file.size, 0);
    first->next = Protocol::nodeinfoNew();
    first->next->next = Protocol::nodeinfoNew();
    Protocol::nodeinfoFree(first);  // ASan reports a leak otherwise
    Protocol::nodeinfoFree(nullptr);
}

}  // namespace
