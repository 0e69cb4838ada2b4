// What the host is told: the result of every operation for every kind of answer,
// and the message beside it (the transport's text or the last status line).

#include "support/dataops_fixture.h"

namespace {

TEST(ErrMsg, TransportTextOrTheLastStatusLine) {
    const std::tuple<int, const char*, std::string, std::string> rows[] = {
        {7, "Failed to connect; refused", "HTTP/1.1 200 OK\r\n\r\n", "Failed to connect"},
        {0, "", "", "206"},  // no header block: the bare status
        {0, "", "HTTP/1.1 401 No\r\n\r\nHTTP/1.1 100 Go\r\n\r\nHTTP/1.1 207 Multi\r\n\r\n",
         "207 Multi"},
        {0, "", "HTTP/1.1 200 OK", "(null)"}};
    Protocol protocol("http://127.0.0.1/dav", nullptr);
    for (auto& [code, text, headers, expected] : rows) {
        _CURLRTN result;
        std::tie(result.code, result.message, result.http_status) =
            std::make_tuple(code, text, 206);
        result.headers.reset(strdup(headers.c_str()), free);
        result.headers_size = static_cast<int32_t>(headers.size());
        char* message = nullptr;
        protocol.get_err_msg(result, &message);
        EXPECT_EQ(Take(message), expected);
        protocol.get_err_msg(result, nullptr);
    }
}

// Runs one operation on the item /d; a move goes to /e/n, a new folder or file is /d/n.
AERROR Perform(const std::string& op, Protocol& p, char** message, MemoryFetch& fetched) {
    _FS_FILE file;
    std::tie(file.name, file.size) = std::make_tuple("n", 4);
    ListSink sink;
    MemoryCache cache("data");
    auto handle = std::make_shared<_FS_HANDLE>();
    if (op == "GetFileList") return p.GetFileList("/d", &sink, message);
    if (op == "GetFileInfo") return p.GetFileInfo("/d", &file, message);
    if (op == "Move") return p.Move("/d", "/e", &file, message);
    if (op == "Rename") return p.Rename("/d", "/e", &file, message);
    if (op == "MoveDir") return p.MoveDir("/d", "/e", &file, message);
    if (op == "DeleteDirectory") return p.DeleteDirectory("/d", message);
    if (op == "CreateDirectory") return p.CreateDirectory("/d", &file, message);
    if (op == "Delete") return p.Delete("/d", message);
    if (op == "Read") return p.Read("/d", 0, 10, handle, &fetched, message);
    return p.Upload("/d", handle, &cache, &file, message);
}

// Every operation × every kind of answer: the result, the message, the entry line,
// the error line with the status (never for a refusal), and no error page as data.
TEST(ErrMsg, StatusToResultMatrix) {
    // clang-format off
    const std::tuple<std::string, const char*, std::string, AERROR, bool> ops[] = {
        // name, entry line, error line, failure, whether the message is the bare status
        {"GetFileList", "GetFileList id: [/d]", "GetFileList", FAILED, false},
        {"GetFileInfo", "GetFileInfo id: [/d]", "GetFileInfo", FAILED, false},
        {"Move", "_Move id [/d] target [/e], filename [n]", "Move", FAILED, true},
        {"Rename", "Rename id [/d], target [/e], filename [n]", "Move", FAILED, true},
        {"MoveDir", "MoveDir id [/d], target [/e] file->filename[n]", "Move", FAILED, true},
        {"CreateDirectory", "CreateDirectory id: [/d]", "CreateDirectory", FOLDER_CREATION_FAILED,
         true},
        {"Delete", "Delete id: [/d]", "Delete", FAILED, true},
        {"DeleteDirectory", "DeleteDirectory id: [/d]", "Delete", FAILED, true},
        {"Read", "Read [/d] offset 0, length 10", "Read", FILE_READ_FAILED, true},
        {"Upload", "Upload id [/d], name [n]", "Upload", FILE_WRITE_FAILED, false}};
    const std::pair<int, std::string> answers[] = {  // 0: nothing listens
        {0, ""}, {200, "OK"}, {300, "Multiple Choices"}, {400, "Bad Request"},
        {401, "Unauthorized"}, {403, "Forbidden"}, {404, "Not Found"},
        {416, "Range Not Satisfiable"}, {417, "Expectation Failed"},
        {500, "Internal Server Error"}};
    // clang-format on
    for (auto& [status, phrase] : answers) {
        for (auto& [op, entry, error, failed, bare] : ops) {
            SCOPED_TRACE(op + " answered " + std::to_string(status));
            ScriptedServer server;
            RecordingLogger log;
            logger.store(&log);
            // Enough for an authentication round, a retry or the stat after a change. Every
            // answer reads as a listing of every path used, so only the status can make it
            // fail; a 300 without a Location leads nowhere.
            ScriptedResponse answer =
                Answer(status, Multistatus({{"/dav/d", 4}, {"/dav/e/n", 4}, {"/dav/d/n", 4}}),
                       {{"WWW-Authenticate", "Basic realm=\"r\""}});
            answer.reason = phrase;
            for (int i = 0; i < 3; ++i) server.Enqueue(answer);
            Protocol protocol(((status ? server.url() : ClosedLoopbackUrl()) + "/dav").c_str(),
                              nullptr);
            char* message = nullptr;
            MemoryFetch fetched;
            AERROR result = Perform(op, protocol, &message, fetched);
            logger.store(nullptr);

            bool ok = status == 200, denied = status == 401 || status == 403;
            EXPECT_EQ(result, ok ? SUCCESS : denied ? ACCESS_DENIED : failed);
            std::string code = std::to_string(status), text = Take(message);
            EXPECT_EQ(status ? text : text.substr(0, 17), !status ? "Failed to connect"
                                                          : bare  ? code
                                                                  : code + " " + phrase);
            EXPECT_TRUE(log.Has(kTraceProtocol, entry));
            EXPECT_EQ(HasErrorLine(log, error, status), !ok && !denied) << log.Dump();
            EXPECT_TRUE(ok || fetched.blocks.empty());
        }
    }
}

}  // namespace
