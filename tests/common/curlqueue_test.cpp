// The pool of request objects: lending order, blank objects on return, one
// kept-alive connection per object, and many threads borrowing at once.
#include "common/curlqueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/curllogger.h"
#include "common/logstate.h"
#include "support/host_doubles.h"
#include "support/scripted_server.h"

namespace {

// Lets a fixed number of threads wait for each other.
class Gate {
public:
    explicit Gate(int count) : waiting(count) {}
    void ArriveAndWait() {
        std::unique_lock<std::mutex> guard(lock);
        if (--waiting == 0) opened.notify_all();
        opened.wait(guard, [&] { return waiting == 0; });
    }

private:
    std::mutex lock;
    std::condition_variable opened;
    int waiting;
};

class CountingQueue : public CURLQueue<CURLLogger> {
public:
    CountingQueue() : CURLQueue<CURLLogger>(0) {}
    std::shared_ptr<CURLLogger> AllocCURL() override {
        ++made;
        return CURLQueue<CURLLogger>::AllocCURL();
    }
    int made = 0;
};

TEST(CURLQueue, LendsTheMostRecentlyReturnedObjectCleared) {
    CountingQueue queue;
    auto first = queue.GetCURL();
    EXPECT_EQ(queue.made, 1);
    void* handle = first->GetCURL();
    first->SetURL("http://127.0.0.1:1/x");
    first->SetRequest("MOVE");
    first->AddHeader("Destination", "http://127.0.0.1:1/y");
    first->AddQuery("q", std::string("1"));
    CURLLogger* raw = first.get();
    queue.PutCURL(std::move(first));

    auto again = queue.GetCURL();
    EXPECT_EQ(queue.made, 1);
    EXPECT_EQ(again.get(), raw);
    EXPECT_EQ(again->GetCURL(), handle);
    EXPECT_EQ(again->GetURL(), "");
    EXPECT_EQ(again->GetRequest(), "");
    EXPECT_TRUE(again->GetHeader().empty());
    EXPECT_TRUE(again->GetQuery().empty());
    queue.PutCURL(again);

    auto a = queue.GetCURL();
    auto b = queue.GetCURL();
    auto c = queue.GetCURL();
    EXPECT_EQ(queue.made, 3);
    CURLLogger* lastBack = b.get();
    queue.PutCURL(a);
    queue.PutCURL(c);
    queue.PutCURL(b);
    EXPECT_EQ(queue.IdleCount(), 3u);
    EXPECT_EQ(queue.GetCURL().get(), lastBack);

    CURLQueue<CURLLogger> prefilled(2);
    EXPECT_EQ(prefilled.IdleCount(), 2u);
}

TEST(CURLQueue, GuardReturnsTheObjectOnEveryWayOut) {
    CURLQueue<CURLLogger> queue(0);
    CURLLogger* lent = nullptr;
    try {
        auto object = queue.GetCURL();
        AutoPutCURL<CURLLogger> guard(object, &queue);
        lent = object.get();
        object->AddHeader("Depth", "1");
        throw std::runtime_error("operation failed");
    } catch (const std::runtime_error&) {
    }
    ASSERT_EQ(queue.IdleCount(), 1u);
    auto back = queue.GetCURL();
    EXPECT_EQ(back.get(), lent);
    EXPECT_TRUE(back->GetHeader().empty());
}

// The four request shapes of the protocol, each leaving its own marks on the
// object; after each one the wire must show nothing of the others.
struct Shapes {
    Shapes(ScriptedServer& server, CURLQueue<CURLLogger>& queue) : server(server), queue(queue) {}
    ScriptedServer& server;
    CURLQueue<CURLLogger>& queue;
    std::atomic<int> progressCalls{0};
    std::shared_ptr<_FS_HANDLE> handle = std::make_shared<_FS_HANDLE>();
    std::vector<CURLLogger*> used;

    static void OnProgress(long, long, void* context, double) {
        ++*static_cast<std::atomic<int>*>(context);
    }

    void Run(int shape) {
        auto object = queue.GetCURL();
        AutoPutCURL<CURLLogger> guard(object, &queue);
        used.push_back(object.get());
        std::string base = server.url();
        switch (shape) {
            case 0: {  // listing
                server.Respond(207, "<multistatus/>");
                object->SetURL((base + "/dir/").c_str());
                object->SetRequest("PROPFIND");
                object->AddHeader("Depth", "1");
                object->AddHeader("Content-Type", "text/xml");
                object->AddQuery("list", std::string("yes"));
                _CURLRTN r = object->PerformPost(std::string("<propfind/>"));
                EXPECT_EQ(r.http_status, 207);
                EXPECT_EQ(r.body_size, 14);
                break;
            }
            case 1: {  // deletion
                server.Respond(204);
                object->SetURL((base + "/old").c_str());
                object->SetRequest("DELETE");
                EXPECT_EQ(object->PerformGet(nullptr, nullptr).http_status, 204);
                break;
            }
            case 2: {  // ranged read, throttled
                ScriptedResponse part;
                part.status = 206;
                part.body = std::string(5000, 'r');
                server.Enqueue(part);
                object->SetURL((base + "/file").c_str());
                object->AddHeader("Range", "bytes=0-4999");
                object->SetSpeedLimit(50 * 1024 * 1024);
                _CURLRTN r = object->PerformGet(nullptr, nullptr);
                EXPECT_EQ(r.http_status, 206);
                EXPECT_EQ(r.body_size, 5000);
                break;
            }
            case 3: {  // upload with progress
                server.Respond(201);
                object->SetURL((base + "/new").c_str());
                object->SetRequest("PUT");
                object->AddHeader("Content-Type", "");
                object->AddHeader("Expect", "");
                handle->progressFn = &OnProgress;
                handle->progressContext = &progressCalls;
                object->BindHandle(handle);
                std::string file(3000, 'u');
                _BUFREADCTX cursor;
                cursor.data = file.data();
                cursor.size = 3000;
                object->SetPostFileSize(3000);
                _CURLRTN r = object->PerformPost(reinterpret_cast<void*>(&read_callback_buf_func),
                                                 &cursor, 3000);
                EXPECT_EQ(r.http_status, 201);
                break;
            }
        }
    }

    void Check(int shape, const RecordedRequest& sent) {
        static const char* methods[] = {"PROPFIND", "DELETE", "GET", "PUT"};
        EXPECT_EQ(sent.method, methods[shape]);
        EXPECT_EQ(sent.HasHeader("Depth"), shape == 0);
        EXPECT_EQ(sent.HasHeader("Range"), shape == 2);
        EXPECT_EQ(sent.Header("Content-Type"), shape == 0 ? "text/xml" : "");
        EXPECT_FALSE(sent.HasHeader("Expect"));
        EXPECT_EQ(sent.target.find('?') != std::string::npos, shape == 0) << sent.target;
        static const char* bodies[] = {"<propfind/>", "", "", nullptr};
        if (bodies[shape]) {
            EXPECT_EQ(sent.body, bodies[shape]);
        } else {
            EXPECT_EQ(sent.body, std::string(3000, 'u'));
        }
        if (shape == 1 || shape == 2) {
            EXPECT_FALSE(sent.HasHeader("Content-Length"));
        }
    }
};

TEST(CURLQueue, OnePooledObjectRunsEveryRequestShapeInAnyOrder) {
    ScriptedServer server;
    CURLQueue<CURLLogger> queue(0);
    Shapes shapes(server, queue);
    const std::vector<std::vector<int>> orders = {
        {0, 1, 2, 3}, {3, 2, 1, 0}, {2, 0, 3, 1}, {1, 3, 0, 2}, {3, 3, 0, 0}};
    size_t seen = 0;
    for (auto& order : orders) {
        for (int shape : order) {
            int before = shapes.progressCalls;
            shapes.Run(shape);
            auto requests = server.Requests();
            ASSERT_EQ(requests.size(), seen + 1);
            SCOPED_TRACE("shape " + std::to_string(shape) + " after " + std::to_string(seen));
            shapes.Check(shape, requests.back());
            // Progress is reported for the upload only, never after it was cleared.
            EXPECT_EQ(shapes.progressCalls > before, shape == 3);
            ++seen;
        }
    }
    for (auto* object : shapes.used) EXPECT_EQ(object, shapes.used[0]);
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_TRUE(server.Failures().empty());
}

// The pool serves every mount: an object that settled on Basic with one
// server must not offer those credentials unasked to the next server, which
// may want another scheme (or no credentials at all).
TEST(CURLQueue, ReturnedObjectForgetsTheAuthenticationItSettledOn) {
    ScriptedServer server;
    CURLQueue<CURLLogger> pool(0);
    auto describe = [&](CURLLogger& request) {
        request.SetURL((server.url() + "/mount").c_str());
        curl_easy_setopt(request.GetCURL(), CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
        curl_easy_setopt(request.GetCURL(), CURLOPT_USERNAME, "alice");
        curl_easy_setopt(request.GetCURL(), CURLOPT_PASSWORD, "secret");
    };

    server.Respond(401, "", {{"WWW-Authenticate", "Basic realm=\"dav\""}});
    server.Respond(200, "first");
    auto first = pool.GetCURL();
    describe(*first);
    EXPECT_EQ(first->PerformGet(nullptr, nullptr).http_status, 200);
    pool.PutCURL(first);

    server.Respond(200, "second");
    auto second = pool.GetCURL();
    ASSERT_EQ(second, first);
    describe(*second);
    EXPECT_EQ(second->PerformGet(nullptr, nullptr).http_status, 200);
    pool.PutCURL(second);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_FALSE(requests[0].HasHeader("Authorization"));
    EXPECT_EQ(requests[1].Header("Authorization").rfind("Basic ", 0), 0u);
    EXPECT_FALSE(requests[2].HasHeader("Authorization"))
        << "credentials offered before the server asked: " << requests[2].head;
}

TEST(CURLQueue, EachConcurrentlyUsedObjectKeepsOneConnection) {
    ScriptedServer server;
    CURLQueue<CURLLogger> queue(0);
    constexpr int kThreads = 4;
    constexpr int kRequests = 5;
    for (int i = 0; i < 2 * kThreads * kRequests + 10; ++i) server.Respond(200, "pong");

    for (int round = 0; round < 2; ++round) {
        Gate allBorrowed(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&] {
                auto object = queue.GetCURL();
                AutoPutCURL<CURLLogger> guard(object, &queue);
                allBorrowed.ArriveAndWait();  // every thread holds its own object now
                for (int i = 0; i < kRequests; ++i) {
                    object->SetURL((server.url() + "/ping").c_str());
                    EXPECT_EQ(object->PerformGet(nullptr, nullptr).http_status, 200);
                }
            });
        for (auto& thread : threads) thread.join();
    }
    EXPECT_EQ(queue.IdleCount(), static_cast<size_t>(kThreads));
    for (int i = 0; i < 10; ++i) {
        auto object = queue.GetCURL();
        AutoPutCURL<CURLLogger> guard(object, &queue);
        object->SetURL(server.url().c_str());
        EXPECT_EQ(object->PerformGet(nullptr, nullptr).http_status, 200);
    }
    EXPECT_EQ(server.ConnectionCount(), kThreads);
    EXPECT_EQ(server.Requests().size(), static_cast<size_t>(2 * kThreads * kRequests + 10));
}

// Run under ThreadSanitizer by scripts/tsan.sh.
TEST(CURLQueueStress, SixteenThreadsBorrowPerformAndReturn) {
    RecordingLogger rec;
    ScriptedServer server;
    CURLQueue<CURLLogger> queue(0);
    constexpr int kThreads = 16;
    constexpr int kRounds = 12;
    for (int i = 0; i < kThreads * kRounds; ++i) server.Respond(200, "pong");

    logger.store(&rec);
    std::atomic<bool> done{false};
    // The host may bind and unbind its logger while requests run.
    std::thread rebinder([&] {
        while (!done) {
            {
                std::lock_guard<std::mutex> guard(ll);
                logger.store(logger.load() ? nullptr : &rec);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::atomic<int> ok{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                auto object = queue.GetCURL();
                AutoPutCURL<CURLLogger> guard(object, &queue);
                object->SetURL((server.url() + "/t" + std::to_string(t)).c_str());
                object->AddHeader("X-Round", std::to_string(i));
                object->AddQuery("n", std::to_string(i));
                _CURLRTN r = (i % 2) ? object->PerformGet(nullptr, nullptr)
                                     : object->PerformPost(std::string("ping"));
                if (r.code == CURLE_OK && r.http_status == 200 && r.body_size == 4 &&
                    std::string(r.body.get(), 4) == "pong")
                    ++ok;
            }
        });
    for (auto& thread : threads) thread.join();
    done = true;
    rebinder.join();
    logger.store(nullptr);

    EXPECT_EQ(ok, kThreads * kRounds);
    EXPECT_TRUE(server.Failures().empty());
    EXPECT_LE(queue.IdleCount(), static_cast<size_t>(kThreads));
    EXPECT_LE(server.ConnectionCount(), kThreads);
}

}  // namespace
