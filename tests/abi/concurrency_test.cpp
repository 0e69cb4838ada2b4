// Eight host threads at once through the loaded plug-in, on one shared object, then on one each,
// against a scripted server: for ThreadSanitizer (scripts/tsan.sh), and nothing lost or crossed.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/scripted_server.h"
#include "support/test_host.h"

namespace {

constexpr int kThreads = 8, kRounds = 3, kRequestsPerRound = 8;  // as Operate sends them

// An answer every operation takes as success: a multistatus describing small files, one in the
// root and every one a stat asks for.
std::string Answer() {
    std::string answer = "<?xml version=\"1.0\"?><D:multistatus xmlns:D=\"DAV:\">", file;
    for (int i = -1; i < 2 * kThreads * kRounds; ++i) {
        file = i < 0 ? "/f" : (i % 2 ? "/up/" : "/moved/") + std::to_string(i / 2) + ".f-x";
        answer += "<D:response><D:href>/dav" + file +
                  "</D:href><D:propstat><D:prop><D:resourcetype/>"
                  "<D:getcontentlength>5</D:getcontentlength></D:prop></D:propstat></D:response>";
    }
    return answer + "</D:multistatus>";
}

void Operate(IProtocol_V2* p, int thread) {
    for (int round = 0; round < kRounds; ++round) {
        std::string name = std::to_string(thread * kRounds + round) + ".f-x", id = "/up/" + name;
        auto handle = std::make_shared<_FS_HANDLE>();
        ListSink sink;
        MemoryFetch fetch;
        MemoryCache cache("abcde");
        _FS_FILE file;
        file.name = name, file.size = 5;
        EXPECT_EQ(p->GetFileList("", &sink, nullptr), SUCCESS);
        EXPECT_EQ(p->Upload("/up", handle, &cache, &file, nullptr), SUCCESS);
        EXPECT_EQ(p->Read(id.c_str(), 0, 5, handle, &fetch, nullptr), SUCCESS);
        EXPECT_EQ(p->GetFileInfo(id.c_str(), &file, nullptr), SUCCESS);
        EXPECT_EQ(p->Move(id.c_str(), "/moved", &file, nullptr), SUCCESS);
        EXPECT_EQ(p->Delete(("/moved/" + name).c_str(), nullptr), SUCCESS);
        EXPECT_EQ(sink.files.size() * 10 + fetch.data().size(), 15u) << "an answer went astray";
    }
}

TEST(Concurrency, EightThreadsOnOneObjectThenOnOneEach) {
    ScriptedServer server;
    const int requests = 1 + kThreads + 2 * kThreads * kRounds * kRequestsPerRound;
    for (int i = 0; i < requests; ++i) server.Respond(207, Answer());
    TestHost host;
    auto connected = [&] {  // configured and tested before any other use, as hosts do
        ProtocolPtr p = host.Create(server.url() + "/dav");
        EXPECT_EQ(p->TestConnect(nullptr), SUCCESS);
        return p;
    };
    auto together = [](auto body) {
        std::atomic<int> waiting{kThreads};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                for (--waiting; waiting > 0;) std::this_thread::yield();  // all start at once
                body(t);
            });
        for (auto& thread : threads) thread.join();
    };
    ProtocolPtr shared = connected();
    together([&](int t) { Operate(shared.get(), t); });
    together([&](int t) { Operate(connected().get(), t); });
    EXPECT_EQ(server.Requests().size(), static_cast<size_t>(requests));
    EXPECT_TRUE(server.Failures().empty());
    for (const RecordedRequest& r : server.Requests()) {  // each request with its own parts
        EXPECT_EQ(r.Header("Range"), r.method == "GET" ? "bytes=0-4" : "") << r.head;
        EXPECT_EQ(r.target.find('%'), std::string::npos) << r.head;  // nothing here needs escapes
    }
}

// A logger that must not be called once it has been replaced: the host deletes it then.
class RetiringLogger final : public RecordingLogger {
public:
    explicit RetiringLogger(std::atomic<int>* late) : late(late) {}
    int GetLevel() override { return Check(), RecordingLogger::GetLevel(); }
    void WriteV(LOGLEVEL level, const char* format, va_list* args) override {
        Check();
        RecordingLogger::WriteV(level, format, args);
    }
    std::atomic<bool> retired{false};

private:
    void Check() {
        if (retired) ++*late;
    }
    std::atomic<int>* late;
};

TEST(Concurrency, LoggersSwappedAndDeletedWhileEightThreadsLog) {
    constexpr int kStats = 25;
    ScriptedServer server;
    for (int i = 0; i < kThreads * kStats; ++i) server.Respond(207, Answer());
    TestHost host(PluginPath(), false);
    ProtocolPtr p = host.Create(server.url() + "/dav");
    std::atomic<int> late{0}, running{kThreads};
    auto* current = new RetiringLogger(&late);
    host.api().BindLogger(current);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            _FS_FILE file;
            for (int i = 0; i < kStats; ++i)
                EXPECT_EQ(p->GetFileInfo("/f", &file, nullptr), SUCCESS);
            --running;
        });
    for (int swaps = 0; running > 0 || swaps < 2; ++swaps) {  // the host deletes what it replaced
        auto* next = new RetiringLogger(&late);
        if (swaps % 3 == 2) host.api().UnbindLogger();
        host.api().BindLogger(next);
        current->retired = true;
        delete current;
        current = next;
    }
    for (auto& thread : threads) thread.join();
    host.api().UnbindLogger();
    current->retired = true;
    delete current;
    EXPECT_EQ(late, 0) << "a replaced logger was called after the swap returned";
}

}  // namespace
