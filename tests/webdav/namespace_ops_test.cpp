// MOVE, MKCOL and DELETE: the requests on the wire, the record refreshed after
// a change, and the Destination form that a 400 switches once and for all.

#include "support/dataops_fixture.h"

namespace {

using NamespaceOpsTest = DataOpsTest;

TEST_F(NamespaceOpsTest, RequestsOnTheWire) {
    // in turn on one object: the operation, id, target, the record's name (a folder's when
    // it ends in "/") and the answers (-s: a 207 naming a member that failed with s); the
    // result, the requests (%u: the server's URL) and the size the refreshed record then shows
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
        // a redirect keeps the method and the Destination
        {"Move", "/a", "/b", "n", {301, 201, 207}, SUCCESS,
         move + to + " MOVE /dav/z Destination=" + to + stat},
        // a 207 is a success only when no member failed
        {"Move", "/a", "/b", "n", {-423}, FAILED, move + to + " 0"},
        {"Move", "/a", "/b", "n", {207, 207}, SUCCESS, move + to + stat},
        {"Delete", "/d", "", "", {-403}, ACCESS_DENIED, " DELETE /dav/d; 0"},
        {"DeleteDirectory", "/d", "", "", {207}, SUCCESS, " DELETE /dav/d/; 0"},
        // a name that is not one segment never reaches the server
        {"Rename", "/a", "/b", "", {}, INVALID_PARAMETER, " 0"},
        {"Move", "/a", "/b", "..", {}, INVALID_PARAMETER, " 0"},
        {"MoveDir", "/a", "/b", "./", {}, INVALID_PARAMETER, " 0"},
        {"CreateDirectory", "/a", "", "x/y", {}, INVALID_PARAMETER, " 0"},
    };
    // clang-format on
    Protocol& p = *protocol;
    for (auto& [op, id, target, name, statuses, result, expected] : rows) {
        size_t before = server.Requests().size();
        const bool folder = !name.empty() && name.back() == '/';
        _FS_FILE file;
        file.name = folder ? name.substr(0, name.size() - 1) : name;
        file.attributes = folder ? FA_DIRECTORY : FA_FILE;
        // the stat after a change finds the new path; a failing member is /d/x
        std::string parent = op == "CreateDirectory" ? (id ? id : "") : target, failed;
        for (int status : statuses) {
            std::string body =
                Multistatus({{"/dav" + URLEncode((parent + "/" + file.name).c_str()), 5}});
            failed = "/d/x: " + std::to_string(-status) + " X";
            if (status < 0)
                body = Multistatus({}).insert(
                    51, "<D:response><D:href>/dav/d/x</D:href><D:status>HTTP/1.1 " +
                            failed.substr(6) + "</D:status></D:response>");
            server.Enqueue(Answer(status < 0 ? 207 : status, body, {{"Location", "/dav/z"}}));
        }
        char* message = nullptr;
        EXPECT_EQ(op == "Rename"            ? p.Rename(id, target, &file, &message)
                  : op == "MoveDir"         ? p.MoveDir(id, target, &file, &message)
                  : op == "Move"            ? p.Move(id, target, &file, &message)
                  : op == "CreateDirectory" ? p.CreateDirectory(id, &file, &message)
                  : op == "Delete"          ? p.Delete(id, &message)
                                            : p.DeleteDirectory(id, &message),
                  result);
        std::string text = Take(message);  // a failure says why; a member's, with its path
        EXPECT_TRUE(statuses.empty() || statuses[0] > 0 ? text != "(null)" : text == failed)
            << text;
        EXPECT_TRUE(!op.find("Delete") || statuses.empty() || statuses[0] / 100 != 2 ||
                    file.id == parent + "/" + file.name)  // the new path, also when not found
            << file.id;
        auto sent = server.Requests();
        for (auto& r : sent) {  // no body; MOVE overwrites (some servers read no header as "F")
            EXPECT_TRUE(r.body.empty() || r.method == "PROPFIND");
            EXPECT_EQ(r.Header("Overwrite"), r.method == "MOVE" ? "T" : "");
        }
        EXPECT_EQ(Wire(sent, before, {"Destination", "Depth"}) + " " + std::to_string(file.size),
                  ReplaceAll(expected, "%u", server.url()));
    }
}

}  // namespace
