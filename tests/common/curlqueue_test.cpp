// The pool of request objects. How one pooled object serves every request shape in any
// order with nothing carried over, on one connection, is in the request object's test.
#include "common/curlqueue.h"

#include <gtest/gtest.h>

#include <thread>

#include "common/curllogger.h"
#include "common/logstate.h"
#include "support/host_doubles.h"
#include "support/scripted_server.h"

// Run under ThreadSanitizer by scripts/tsan.sh; the host rebinds its logger meanwhile.
TEST(CURLQueue, LendsLastReturnedFirstAndSixteenThreadsBorrowPerformAndReturn) {
    RecordingLogger rec;
    ScriptedServer server;
    CURLQueue<CURLLogger> queue(0);
    auto first = queue.GetCURL();
    {  // guards return their objects as they go; the last returned is lent first
        AutoPutCURL<CURLLogger> a(first, &queue), b(queue.GetCURL(), &queue);
    }
    EXPECT_EQ(queue.GetCURL(), first);
    for (int i = 0; i < 16 * 12; ++i) server.Respond(200, "pong");
    std::atomic<int> ok{0}, running{16};
    std::vector<std::thread> threads;
    for (int t = 0; t < 16; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 12; ++i) {
                auto object = queue.GetCURL();
                AutoPutCURL<CURLLogger> guard(object, &queue);
                object->SetURL(server.url().c_str());
                _CURLRTN r = i % 2 ? object->PerformGet(nullptr, nullptr)
                                   : object->PerformPost(std::string("ping"));
                ok += r.body_size == 4 && std::string(r.body.get(), 4) == "pong";
            }
            --running;
        });
    for (; running > 0; std::this_thread::yield()) logger.store(logger.load() ? nullptr : &rec);
    for (auto& thread : threads) thread.join();
    logger.store(nullptr);
    EXPECT_EQ(ok, 16 * 12);
    EXPECT_LE(server.ConnectionCount(), static_cast<int>(queue.IdleCount()));  // one each
}
