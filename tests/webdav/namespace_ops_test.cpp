// MOVE, MKCOL and DELETE: the requests on the wire, the record refreshed after
// a change, and the Destination form that a 400 switches once and for all.

#include "support/dataops_fixture.h"

namespace {

using NamespaceOpsTest = DataOpsTest;

TEST_F(NamespaceOpsTest, RequestsOnTheWire) {
    // in turn on one object: the operation, id, target, the record's name (a folder's when
    // it ends in "/") and the answers; the result, the requests (%u: the server's URL) and
    // the size the refreshed record then shows
    using Row = std::tuple<std::string, const char*, const char*, std::string, std::vector<int>,
                           AERROR, std::string>;
    const std::string move = " MOVE /dav/a Destination=", to = "/dav/b/n;",
                      stat = " PROPFIND /dav/b/n Depth=0; 5";
    // clang-format off
    const Row rows[] = {
        {"Rename", "/a/old", "/a", "n w", {201, 207}, SUCCESS,
         " MOVE /dav/a/old Destination=%u/dav/a/n%20w; PROPFIND /dav/a/n%20w Depth=0; 5"},
        {"MoveDir", "/a b", "/c", "\xC3\xBC/", {201, 207}, SUCCESS,
         " MOVE /dav/a%20b/ Destination=%u/dav/c/%C3%BC/; PROPFIND /dav/c/%C3%BC Depth=0; 5"},
        {"Move", "/a/old", "", "new/", {201, 207}, SUCCESS,
         " MOVE /dav/a/old/ Destination=%u/dav/new/; PROPFIND /dav/new Depth=0; 5"},
        {"CreateDirectory", nullptr, "", "x y", {201, 207}, SUCCESS,
         " MKCOL /dav/x%20y/; PROPFIND /dav/x%20y Depth=0; 5"},
        {"Delete", "/f.txt", "", "", {204}, SUCCESS, " DELETE /dav/f.txt; 0"},
        {"DeleteDirectory", "/d", "", "", {204}, SUCCESS, " DELETE /dav/d/; 0"},
        {"Delete", "", "", "", {}, INVALID_PARAMETER, " 0"},  // the root: the whole mount
        // a 400 is retried once with a server-relative Destination, and only a 400
        {"Move", "/a", "/b", "n", {400, 400}, FAILED, move + "%u" + to + move + to + " 0"},
        {"Move", "/a", "/b", "n", {403}, ACCESS_DENIED, move + "%u" + to + " 0"},
        {"Move", "/a", "/b", "n", {400, 201, 207}, SUCCESS, move + "%u" + to + move + to + stat},
        // once that worked, the relative form goes first, and a 400 is final
        {"Move", "/a", "/b", "n", {400}, FAILED, move + to + " 0"},
        {"Move", "/a", "/b", "n", {201, 404}, FAILED, move + to + " PROPFIND /dav/b/n Depth=0; 0"},
    };
    // clang-format on
    Protocol& p = *protocol;
    for (auto& [op, id, target, name, statuses, result, expected] : rows) {
        size_t before = server.Requests().size();
        for (int status : statuses) server.Respond(status, Multistatus({{"/dav/x", 5}}));
        _FS_FILE file;
        file.name = name.substr(0, name.find('/'));
        file.attributes = name.find('/') != std::string::npos ? FA_DIRECTORY : FA_FILE;
        EXPECT_EQ(op == "Rename"            ? p.Rename(id, target, &file, nullptr)
                  : op == "MoveDir"         ? p.MoveDir(id, target, &file, nullptr)
                  : op == "Move"            ? p.Move(id, target, &file, nullptr)
                  : op == "CreateDirectory" ? p.CreateDirectory(id, &file, nullptr)
                  : op == "Delete"          ? p.Delete(id, nullptr)
                                            : p.DeleteDirectory(id, nullptr),
                  result);
        auto sent = server.Requests();
        for (auto& r : sent) {  // no body; MOVE overwrites (some servers read no header as "F")
            EXPECT_TRUE(r.body.empty() || r.method == "PROPFIND");
            EXPECT_EQ(r.Header("Overwrite"), r.method == "MOVE" ? "T" : "");
        }
        EXPECT_EQ(Wire(sent, before, {"Destination", "Depth"}) + " " + std::to_string(file.size),
                  std::regex_replace(expected, std::regex("%u"), server.url()));
    }
}

}  // namespace
