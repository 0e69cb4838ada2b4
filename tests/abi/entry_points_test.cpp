// The nine entry points as the host sees them: resolved from the loaded
// library with dlsym and called through plain function pointers.
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>
#include <string>

#include "common/chronolog.h"
#include "support/test_host.h"
#include "webdav/extern.h"

namespace {

TEST(EntryPoints, ReportSupportsAndVersion) {
    TestHost host;
    EXPECT_EQ(static_cast<uint32_t>(host.api().GetSupports()), 3u);

    const char* first = host.api().GetProtocolVersion();
    const char* second = host.api().GetProtocolVersion();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "1.0.0");
    EXPECT_EQ(first, second) << "the version must be one static text";
}

TEST(EntryPoints, SupportProtocolIsAFreshHeapCopyEachTime) {
    TestHost host;
    char* first = nullptr;
    char* second = nullptr;
    host.api().GetSupportProtocol(&first);
    host.api().GetSupportProtocol(&second);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_STREQ(first, "dav;box");
    EXPECT_STREQ(second, "dav;box");
    EXPECT_GE(malloc_usable_size(first), 8u);
    host.api().FreeP(first);
    host.api().FreeP(second);
    host.api().FreeP(nullptr);
}

TEST(EntryPoints, AsyncQueueBindingAcceptsOnlyAPointer) {
    TestHost host;
    int queue = 0;
    EXPECT_FALSE(host.api().BindAsyncQ(nullptr));
    EXPECT_TRUE(host.api().BindAsyncQ(&queue));
    EXPECT_TRUE(host.api().BindAsyncQ(&queue));
    host.api().UnbindAsyncQ();
    host.api().UnbindAsyncQ();
}

TEST(EntryPoints, GetProtocolAcceptsAnyAddressText) {
    TestHost host;
    for (const char* address :
         {"", "not a url", "host/share", "http://", "https://h/a//", "\xff\xfe/\x01"}) {
        SCOPED_TRACE(address);
        ProtocolPtr protocol = host.Create(address);
        ASSERT_NE(protocol, nullptr);
        char* type = nullptr;
        EXPECT_EQ(protocol->GetType(&type), SUCCESS);
        EXPECT_STREQ(type, "dav;box");
    }
    EXPECT_EQ(host.LiveObjects(), 0);
}

TEST(EntryPoints, GetProtocolLeavesOutAloneWhenItRefuses) {
    TestHost host;
    IProtocol_V2* const sentinel = reinterpret_cast<IProtocol_V2*>(0x1234);
    IProtocol_V2* out = sentinel;
    EXPECT_FALSE(host.api().GetProtocol(nullptr, nullptr, &out));
    EXPECT_EQ(out, sentinel);
    EXPECT_FALSE(host.api().GetProtocol("http://h/", nullptr, nullptr));
}

TEST(EntryPoints, ManyObjectsLiveAtOnceIndependently) {
    TestHost host;
    ProtocolPtr a = host.Create("http://a/one");
    ProtocolPtr b = host.Create("https://b/two/");
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->SetQuota(10, 5), SUCCESS);
    unsigned long long total = 0, used = 0;
    b->GetQuota(&total, &used);
    EXPECT_EQ(total, 0xA0000000000ULL) << "quota must be per object";
    char text[64];
    int size = sizeof text;
    ASSERT_EQ(b->GetUserInfo(text, &size), SUCCESS);
    EXPECT_STREQ(text, "https://b/two");
    a.reset();
    ASSERT_EQ(b->GetUserInfo(text, &size), SUCCESS);
    EXPECT_STREQ(text, "https://b/two");
}

// Binding rules, observed through a line that the plug-in's own code writes
// (a timing line) with the entry points linked into this test.
TEST(LoggerBinding, NullBindKeepsTheLoggerAndRebindReplacesIt) {
    RecordingLogger a, b;
    UnbindLogger();
    ASSERT_TRUE(BindLogger(&a));
    { ChronoLog timer("first"); }
    EXPECT_FALSE(BindLogger(nullptr));
    { ChronoLog timer("second"); }
    ASSERT_TRUE(BindLogger(&b));
    { ChronoLog timer("third"); }
    UnbindLogger();
    { ChronoLog timer("fourth"); }
    UnbindLogger();  // harmless when nothing is bound

    EXPECT_TRUE(a.Has(1026, "first"));
    EXPECT_TRUE(a.Has(1026, "second")) << "a null bind must not unbind";
    EXPECT_FALSE(a.Has(0, "third"));
    EXPECT_TRUE(b.Has(1026, "third"));
    EXPECT_FALSE(a.Has(0, "fourth"));
    EXPECT_FALSE(b.Has(0, "fourth"));
}

// The same rules through the loaded library, using an operation that logs
// (a failing request). Skipped while no operation of the library logs.
TEST(LoggerBinding, LinesFollowTheBindingInTheLoadedLibrary) {
    TestHost host(WEBDAV_PLUGIN_PATH, /*bindLogger=*/false);
    RecordingLogger a, b;
    ProtocolPtr protocol = host.Create(ClosedLoopbackUrl("/dav"));
    ASSERT_NE(protocol, nullptr);
    auto touch = [&] {
        char* message = nullptr;
        protocol->TestConnect(&message);
        protocol->FreeMsg(message);
        _FS_FILE file;
        message = nullptr;
        protocol->GetFileInfo("/x", &file, &message);
        protocol->FreeMsg(message);
    };

    ASSERT_TRUE(host.api().BindLogger(&a));
    touch();
    if (a.Lines().empty()) GTEST_SKIP() << "no operation of the library logs yet";
    EXPECT_FALSE(host.api().BindLogger(nullptr));
    a.Clear();
    touch();
    EXPECT_FALSE(a.Lines().empty()) << "a null bind must not unbind";

    ASSERT_TRUE(host.api().BindLogger(&b));
    a.Clear();
    touch();
    EXPECT_TRUE(a.Lines().empty());
    EXPECT_FALSE(b.Lines().empty());

    host.api().UnbindLogger();
    b.Clear();
    touch();
    EXPECT_TRUE(b.Lines().empty());
}

}  // namespace
