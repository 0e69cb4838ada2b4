// MOVE, MKCOL and DELETE against the scripted server: the exact requests, the
// Destination forms and their one-way switch, result codes and log lines.
#include <gtest/gtest.h>

#include "support/dataops_fixture.h"

namespace {

class NamespaceOpsTest : public DataOpsTest {
protected:
    _FS_FILE Named(const std::string& name) {
        _FS_FILE file;
        file.name = name;
        return file;
    }
    std::string Base() { return server.url(); }
};

// ---- Move / Rename / MoveDir ----------------------------------------------

TEST_F(NamespaceOpsTest, RenameSendsOneMoveWithAbsoluteDestinationAndRefreshesTheRecord) {
    server.Respond(201);
    server.Respond(207, StatAnswer("/dav/a/new.txt", 5), {{"Content-Type", "text/xml"}});
    _FS_FILE file = Named("new.txt");
    char* message = nullptr;

    EXPECT_EQ(protocol->Rename("/a/old.txt", "/a", &file, &message), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const RecordedRequest& move = requests[0];
    EXPECT_EQ(move.method, "MOVE");
    EXPECT_EQ(move.target, "/dav/a/old.txt");
    EXPECT_EQ(move.Header("Destination"), Base() + "/dav/a/new.txt");
    EXPECT_EQ(move.Header("Overwrite"), "T");  // some servers read absence as "F"
    EXPECT_FALSE(move.HasHeader("Depth"));
    EXPECT_TRUE(move.body.empty());
    EXPECT_EQ(requests[1].method, "PROPFIND");
    EXPECT_EQ(requests[1].target, "/dav/a/new.txt");
    EXPECT_EQ(requests[1].Header("Depth"), "0");
    EXPECT_EQ(file.id, "/a/new.txt");
    EXPECT_EQ(file.size, 5);
    EXPECT_EQ(file.name, "new.txt");
    EXPECT_NE(Take(message).find("201"), std::string::npos);

    // The entry line of Rename comes first, then the one of the MOVE attempt.
    auto lines = log.Lines();
    int rename = -1, attempt = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].level != kTraceProtocol) continue;
        if (lines[i].text == "Rename id [/a/old.txt], target [/a], filename [new.txt]")
            rename = static_cast<int>(i);
        if (lines[i].text == "_Move id [/a/old.txt] target [/a], filename [new.txt]")
            attempt = static_cast<int>(i);
    }
    EXPECT_GE(rename, 0) << log.Dump();
    EXPECT_GT(attempt, rename) << log.Dump();
    EXPECT_TRUE(protocol->absoluteDestination);
}

TEST_F(NamespaceOpsTest, MoveDirLogsItsOwnLineAndEncodesDestination) {
    server.Respond(201);
    server.Respond(207, StatAnswer("/dav/b%20c/%C3%BC%20d", 0, true));
    _FS_FILE file = Named("\xC3\xBC d");

    EXPECT_EQ(protocol->MoveDir("/a b", "/b c", &file, nullptr), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    // Collections are addressed with a trailing "/" (nginx refuses them without).
    EXPECT_EQ(requests[0].target, "/dav/a%20b/");
    EXPECT_EQ(requests[0].Header("Destination"), Base() + "/dav/b%20c/%C3%BC%20d/");
    EXPECT_EQ(requests[1].target, "/dav/b%20c/%C3%BC%20d");
    EXPECT_TRUE(
        log.Has(kTraceProtocol, "MoveDir id [/a b], target [/b c] file->filename[\xC3\xBC d]"))
        << log.Dump();
    EXPECT_EQ(file.attributes, FA_DIRECTORY);
}

TEST_F(NamespaceOpsTest, MoveIntoTheRootUsesTheEmptyTarget) {
    server.Respond(201);
    server.Respond(207, StatAnswer("/dav/x.txt", 1));
    _FS_FILE file = Named("x.txt");

    EXPECT_EQ(protocol->Move("/a/x.txt", "", &file, nullptr), SUCCESS);
    EXPECT_EQ(server.Requests()[0].Header("Destination"), Base() + "/dav/x.txt");
}

TEST_F(NamespaceOpsTest, A400IsRetriedOnceWithServerRelativeDestinationWhichThenSticks) {
    server.Respond(400);
    server.Respond(201);
    server.Respond(207, StatAnswer("/dav/a/new%20one.txt", 3));
    _FS_FILE file = Named("new one.txt");
    char* message = nullptr;

    EXPECT_EQ(protocol->Move("/a/old.txt", "/a", &file, &message), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("Destination"), Base() + "/dav/a/new%20one.txt");
    EXPECT_EQ(requests[1].method, "MOVE");
    EXPECT_EQ(requests[1].target, "/dav/a/old.txt");
    EXPECT_EQ(requests[1].Header("Destination"), "/dav/a/new%20one.txt");
    EXPECT_FALSE(protocol->absoluteDestination);
    EXPECT_EQ(file.size, 3);
    // The message describes the first answer.
    EXPECT_NE(Take(message).find("400"), std::string::npos);
    EXPECT_EQ(log.Find(kTraceProtocol, "_Move id [/a/old.txt]").size(), 2u);

    // From now on the relative form goes first, and a 400 is final.
    server.Respond(400);
    file = Named("other.txt");
    EXPECT_EQ(protocol->Move("/a/new one.txt", "/b", &file, nullptr), FAILED);
    requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].Header("Destination"), "/dav/b/other.txt");
    EXPECT_TRUE(log.Has(kErrorProtocol, "Move id: [/a/new one.txt] , exec error: [400]"));
    EXPECT_FALSE(protocol->absoluteDestination);
}

TEST_F(NamespaceOpsTest, A400TwiceFailsAndKeepsTheAbsoluteForm) {
    server.Respond(400);
    server.Respond(400);
    _FS_FILE file = Named("new.txt");

    EXPECT_EQ(protocol->Move("/a/old.txt", "/a", &file, nullptr), FAILED);

    EXPECT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(log.Find(kErrorProtocol, "Move id: [/a/old.txt] , exec error: [400]").size(), 1u);
    EXPECT_TRUE(protocol->absoluteDestination);
    EXPECT_EQ(file.id, "");  // not refreshed
}

TEST_F(NamespaceOpsTest, OnlyA400IsRetried) {
    server.Respond(403);
    server.Respond(409);
    server.Respond(401);
    _FS_FILE file = Named("new.txt");

    EXPECT_EQ(protocol->Move("/a/old.txt", "/a", &file, nullptr), ACCESS_DENIED);
    EXPECT_EQ(protocol->Move("/a/old.txt", "/a", &file, nullptr), FAILED);
    EXPECT_EQ(protocol->Move("/a/old.txt", "/a", &file, nullptr), ACCESS_DENIED);

    EXPECT_EQ(server.Requests().size(), 3u);
    // Access denials write no error line; the 409 does.
    auto errors = log.Find(kErrorProtocol, "Move id:");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Move id: [/a/old.txt] , exec error: [409]");
    EXPECT_TRUE(protocol->absoluteDestination);
}

TEST_F(NamespaceOpsTest, SuccessfulMoveReturnsTheStatResultWhenTheStatFails) {
    server.Respond(201);
    server.Respond(404);
    _FS_FILE file = Named("new.txt");
    char* message = nullptr;

    EXPECT_EQ(protocol->Move("/a/old.txt", "/a", &file, &message), FAILED);
    // The message still describes the MOVE.
    EXPECT_NE(Take(message).find("201"), std::string::npos);
    EXPECT_FALSE(log.Has(kErrorProtocol, "Move id:"));
}

TEST_F(NamespaceOpsTest, MoveWithoutAServerFailsWithTransportText) {
    Protocol dead((DeadURL() + "/dav").c_str(), nullptr);
    _FS_FILE file = Named("new.txt");
    char* message = nullptr;

    EXPECT_EQ(dead.Move("/a/old.txt", "/a", &file, &message), FAILED);
    EXPECT_NE(Take(message), "(null)");
    EXPECT_TRUE(log.Has(kErrorProtocol, "Move id: [/a/old.txt] , exec error: [0]"));
    EXPECT_TRUE(dead.absoluteDestination);
}

TEST_F(NamespaceOpsTest, MissingRecordIsRefusedWithoutARequest) {
    EXPECT_EQ(protocol->Move("/a", "/b", nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol->Rename("/a", "/b", nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol->MoveDir("/a", "/b", nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol->CreateDirectory("/a", nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_TRUE(server.Requests().empty());
}

// ---- CreateDirectory --------------------------------------------------------

TEST_F(NamespaceOpsTest, RenamingAFolderAddressesBothEndsAsCollections) {
    server.Respond(201);
    server.Respond(207, StatAnswer("/dav/a/new/", 0, true));
    _FS_FILE file = Named("new");
    file.attributes = FA_DIRECTORY;

    EXPECT_EQ(protocol->Rename("/a/old", "/a", &file, nullptr), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/dav/a/old/");
    EXPECT_EQ(requests[0].Header("Destination"), Base() + "/dav/a/new/");
    EXPECT_EQ(file.id, "/a/new");
    EXPECT_EQ(file.name, "new");
}

TEST_F(NamespaceOpsTest, DeleteDirectoryOfTheRootIsRefusedToo) {
    EXPECT_EQ(protocol->DeleteDirectory("", nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol->DeleteDirectory(nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(NamespaceOpsTest, CreateDirectoryUnderTheRootWithNullOrEmptyId) {
    for (int round = 0; round < 2; ++round) {
        server.Respond(201);
        server.Respond(207, StatAnswer("/dav/x/", 0, true));
    }
    _FS_FILE file = Named("x");
    EXPECT_EQ(protocol->CreateDirectory(nullptr, &file, nullptr), SUCCESS);
    EXPECT_EQ(file.attributes, FA_DIRECTORY);
    file = Named("x");
    EXPECT_EQ(protocol->CreateDirectory("", &file, nullptr), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (int i : {0, 2}) {
        EXPECT_EQ(requests[i].method, "MKCOL");
        EXPECT_EQ(requests[i].target, "/dav/x/");
        EXPECT_TRUE(requests[i].body.empty());
        EXPECT_EQ(requests[i + 1].method, "PROPFIND");
        EXPECT_EQ(requests[i + 1].target, "/dav/x");
    }
    EXPECT_EQ(log.Find(kTraceProtocol, "CreateDirectory id: []").size(), 2u);
}

TEST_F(NamespaceOpsTest, CreateDirectoryFailures) {
    server.Respond(405);
    server.Respond(403);
    server.Respond(401);
    _FS_FILE file = Named("x y");
    char* message = nullptr;

    EXPECT_EQ(protocol->CreateDirectory("/p", &file, &message), FOLDER_CREATION_FAILED);
    EXPECT_NE(Take(message).find("405"), std::string::npos);
    EXPECT_EQ(protocol->CreateDirectory("/p", &file, nullptr), ACCESS_DENIED);
    EXPECT_EQ(protocol->CreateDirectory("/p", &file, nullptr), ACCESS_DENIED);

    EXPECT_EQ(server.Requests()[0].target, "/dav/p/x%20y/");
    auto errors = log.Find(kErrorProtocol, "CreateDirectory");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "CreateDirectory id: [/p] , exec error: [405]");
    EXPECT_TRUE(log.Has(kTraceProtocol, "CreateDirectory id: [/p]"));

    Protocol dead((DeadURL() + "/dav").c_str(), nullptr);
    EXPECT_EQ(dead.CreateDirectory("/p", &file, nullptr), FOLDER_CREATION_FAILED);
    EXPECT_TRUE(log.Has(kErrorProtocol, "CreateDirectory id: [/p] , exec error: [0]"));
}

// ---- Delete / DeleteDirectory -----------------------------------------------

TEST_F(NamespaceOpsTest, DeleteResults) {
    server.Respond(204);
    server.Respond(207, "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\"/>");
    server.Respond(404);
    server.Respond(403);
    char* message = nullptr;

    EXPECT_EQ(protocol->Delete("/f.txt", &message), SUCCESS);
    EXPECT_NE(Take(message).find("204"), std::string::npos);
    EXPECT_EQ(protocol->Delete("/g.txt", nullptr), SUCCESS);  // body not examined
    EXPECT_EQ(protocol->Delete("/h.txt", &message), FAILED);  // no special not-found code
    EXPECT_NE(Take(message).find("404"), std::string::npos);
    EXPECT_EQ(protocol->Delete("/i.txt", nullptr), ACCESS_DENIED);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].method, "DELETE");
    EXPECT_EQ(requests[0].target, "/dav/f.txt");
    EXPECT_FALSE(requests[0].HasHeader("Depth"));
    auto errors = log.Find(kErrorProtocol, "Delete");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Delete id: [/h.txt] , exec error: [404]");
    EXPECT_TRUE(log.Has(kTraceProtocol, "Delete id: [/f.txt]"));
}

TEST_F(NamespaceOpsTest, DeleteDirectoryLogsThenDeletesTheCollectionWithTrailingSlash) {
    server.Respond(204);

    EXPECT_EQ(protocol->DeleteDirectory("/d", nullptr), SUCCESS);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "DELETE");
    EXPECT_EQ(requests[0].target, "/dav/d/");
    auto lines = log.Lines();
    int dir = -1, del = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].text == "DeleteDirectory id: [/d]") dir = static_cast<int>(i);
        if (lines[i].text == "Delete id: [/d]") del = static_cast<int>(i);
    }
    EXPECT_GE(dir, 0);
    EXPECT_GT(del, dir);
}

TEST_F(NamespaceOpsTest, DeletingTheConnectionRootIsRefused) {
    EXPECT_EQ(protocol->Delete(nullptr, nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol->Delete("", nullptr), INVALID_PARAMETER);
    EXPECT_EQ(protocol->DeleteDirectory("", nullptr), INVALID_PARAMETER);
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(NamespaceOpsTest, DeleteWithoutAServer) {
    Protocol dead((DeadURL() + "/dav").c_str(), nullptr);
    char* message = nullptr;
    EXPECT_EQ(dead.Delete("/f", &message), FAILED);
    EXPECT_NE(Take(message), "(null)");
    EXPECT_TRUE(log.Has(kErrorProtocol, "Delete id: [/f] , exec error: [0]"));
}

TEST_F(NamespaceOpsTest, RequestObjectsGoBackToThePool) {
    server.Respond(204);
    server.Respond(500);
    protocol->Delete("/a", nullptr);
    size_t idle = cq.IdleCount();
    EXPECT_GE(idle, 1u);
    protocol->Delete("/b", nullptr);
    EXPECT_EQ(cq.IdleCount(), idle);
}

}  // namespace
