// The library's life in the host: load, use, release, unload and load again,
// and the one exception that is allowed to reach the host.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

#include "support/test_host.h"

namespace {

void UseOnce(TestHost& host, const std::string& address, const char* expectedUrl) {
    ProtocolPtr a = host.Create(address);
    ProtocolPtr b = host.Create("https://other/x");
    ASSERT_TRUE(a && b);
    char text[128];
    int size = sizeof text;
    ASSERT_EQ(a->GetUserInfo(text, &size), SUCCESS);
    EXPECT_STREQ(text, expectedUrl);
    ASSERT_EQ(a->SetQuota(5, 1), SUCCESS);
    unsigned long long total = 0, used = 0;
    b->GetQuota(&total, &used);
    EXPECT_EQ(total, 0xA0000000000ULL);
}

bool IsLoaded(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

TEST(Lifecycle, LoadUseReleaseUnloadAndReload) {
    ASSERT_FALSE(IsLoaded(WEBDAV_PLUGIN_PATH));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        {
            TestHost host;
            ASSERT_TRUE(IsLoaded(WEBDAV_PLUGIN_PATH));
            UseOnce(host, "http://host/My Files/", "http://host/My%20Files");
            EXPECT_EQ(host.LiveObjects(), 0);
        }
        // Nothing may pin the library in memory (unique symbols, leaked
        // handles): the host unloads plug-ins it no longer needs.
        EXPECT_FALSE(IsLoaded(WEBDAV_PLUGIN_PATH)) << "the library stayed mapped after dlclose";
    }
}

TEST(Lifecycle, ReloadStartsWithNoLoggerBound) {
    RecordingLogger first;
    {
        TestHost host(WEBDAV_PLUGIN_PATH, /*bindLogger=*/false);
        ASSERT_TRUE(host.api().BindLogger(&first));
        // Unloaded with the logger still bound: the next load must not
        // remember a pointer into this scope.
    }
    TestHost host(WEBDAV_PLUGIN_PATH, /*bindLogger=*/false);
    ProtocolPtr protocol = host.Create(ClosedLoopbackUrl("/dav"));
    ASSERT_NE(protocol, nullptr);
    char* message = nullptr;
    protocol->TestConnect(&message);
    protocol->FreeMsg(message);
    EXPECT_TRUE(first.Lines().empty()) << first.Dump();
}

// A bad "ex_info" document is reported by throwing the bare result value
// 6001 out of SetOpt; the host catches it by its type.
TEST(Lifecycle, BadExInfoThrowsTheBareParseErrorToTheHost) {
    TestHost host;
    ProtocolPtr protocol = host.Create("http://127.0.0.1/dav");
    ASSERT_NE(protocol, nullptr);
    for (const char* text : {"not json", "", "{\"data\":"}) {
        SCOPED_TRACE(text);
        try {
            AERROR result = protocol->SetOpt("ex_info", text);
            if (result == NOT_SUPPORTED) GTEST_SKIP() << "SetOpt not implemented yet";
            ADD_FAILURE() << "SetOpt returned " << result << " instead of throwing";
        } catch (AERROR code) {
            EXPECT_EQ(static_cast<int>(code), 6001);
        } catch (...) {
            ADD_FAILURE() << "an exception of another type reached the host";
        }
    }
    // The object stays usable after the exception.
    EXPECT_EQ(static_cast<int64_t>(protocol->GetFeature()) & 0x100, 0x100);
}

}  // namespace
