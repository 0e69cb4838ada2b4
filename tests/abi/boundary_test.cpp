// The plug-in as a host meets it: exported names, entry points, each slot of the object's table
// called by number, the one exception allowed across, a failed allocation, unloading.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <new>

#include "support/test_host.h"

namespace {
thread_local bool refuse = false;  // operator new fails while set
}  // namespace

// The loaded library allocates through this like any other module of the process.
void* operator new(size_t size) {
    static auto next = reinterpret_cast<void* (*)(size_t)>(dlsym(RTLD_NEXT, "_Znwm"));
    return refuse ? throw std::bad_alloc() : next(size);
}

namespace {

const std::string kClosed = ClosedLoopbackUrl("/dav");

// Calls slot Slot of the object's table as the host's compiler does: the object first, then
// the arguments as the host's slot list declares them (strings and shared pointers by value).
template <int Slot, typename R = int32_t, typename... Args>
R Call(IProtocol_V2* object, Args... args) {
    void** table = *reinterpret_cast<void***>(object);
    return reinterpret_cast<R (*)(IProtocol_V2*, Args...)>(table[Slot])(object, std::move(args)...);
}

TEST(Boundary, ExportsExactlyTheNineEntryPointsAsFunctions) {
    std::string nm = "nm -D --defined-only '" + PluginPath() + "' | cut -d' ' -f2- | diff - '";
    EXPECT_EQ(system((nm + SourceDir() + "/tests/abi/exports.txt'").c_str()), 0);
}

TEST(Boundary, EntryPointsAndLoggerBinding) {
    TestHost host(PluginPath(), /*bindLogger=*/false);
    const PluginEntryPoints& api = host.api();
    EXPECT_EQ(api.GetSupports(), 3u);
    EXPECT_STREQ(api.GetProtocolVersion(), "1.0.0");
    char *first = nullptr, *second = nullptr;
    api.GetSupportProtocol(&first);
    api.GetSupportProtocol(&second);
    EXPECT_STREQ(first, "dav;box");
    EXPECT_NE(first, second) << "each call hands over a copy of its own";
    api.FreeP(first), api.FreeP(second), api.FreeP(nullptr);
    EXPECT_TRUE(!api.BindAsyncQ(nullptr) && api.BindAsyncQ(&first));
    api.UnbindAsyncQ(), api.UnbindAsyncQ();

    auto* const untouched = reinterpret_cast<IProtocol_V2*>(0x5678);
    IProtocol_V2* out = untouched;
    EXPECT_FALSE(api.GetProtocol(nullptr, nullptr, &out));
    refuse = true;
    bool made = api.GetProtocol("http://h/", nullptr, &out);
    refuse = false;
    EXPECT_FALSE(made) << "a failed allocation must not escape as an exception";
    EXPECT_EQ(out, untouched);
    for (const char* address : {"", "not a url", "http://", "\xff\xfe/\x01"})
        EXPECT_NE(host.Create(address), nullptr) << address;

    RecordingLogger a, b;
    ProtocolPtr p = host.Create(kClosed);
    auto logs = [&](RecordingLogger& to) {
        to.Clear();
        p->GetFileInfo("/x", nullptr, nullptr);
        return !to.Lines().empty();
    };
    EXPECT_FALSE(logs(host.logger())) << "nothing is bound at load";
    ASSERT_TRUE(api.BindLogger(&a));
    EXPECT_FALSE(api.BindLogger(nullptr));
    EXPECT_TRUE(logs(a)) << "a null bind must not unbind";
    ASSERT_TRUE(api.BindLogger(&b));
    EXPECT_FALSE(logs(a));
    EXPECT_FALSE(b.Lines().empty());
    api.UnbindLogger();
    EXPECT_FALSE(logs(b));
}

// Network slots against a closed port: each lands on its operation (a line of its own shows it
// with the arguments in their places), fails, and hands over a message to free.
TEST(Boundary, NetworkSlotsReachTheirOperations) {
    TestHost host;
    ProtocolPtr owned = host.Create(kClosed);
    IProtocol_V2* o = owned.get();
    auto handle = std::make_shared<_FS_HANDLE>();
    MemoryFetch fetched;
    MemoryCache cached("0123456789");
    IFetchCallback* fetch = &fetched;
    ICacheIO* cache = &cached;
    _FS_FILE file;
    file.name = "n", file.size = 10;
    char* m = nullptr;
    auto lands = [&](int32_t result, const char* line) {
        EXPECT_NE(result, SUCCESS) << line;
        EXPECT_NE(m, nullptr) << line;
        Call<24, void>(o, m);  // FreeMsg
        m = nullptr;
        EXPECT_TRUE(host.logger().Has(0, line)) << line << " in\n" << host.logger().Dump();
        EXPECT_EQ(handle.use_count(), 1) << line << ": a by-value shared pointer stayed behind";
        host.logger().Clear();
    };
    lands(Call<5>(o, "/5", static_cast<IFileList*>(nullptr), &m), "GetFileList id: [/5]");
    lands(Call<7>(o, "/7", &file, &m), "GetFileInfo id: [/7]");
    lands(Call<8>(o, "/8", "/t", &file, &m), "Rename id [/8], target [/t], filename [n]");
    lands(Call<9>(o, "/9", "/t", &file, &m), "_Move id [/9] target [/t]");
    lands(Call<10>(o, "/10", "/t", &file, &m), "MoveDir id [/10]");
    lands(Call<11>(o, "/11", &file, &m), "CreateDirectory id: [/11]");
    lands(Call<12>(o, "/12", &m), "Delete id: [/12]");
    lands(Call<13>(o, "/13", &m), "DeleteDirectory id: [/13]");
    lands(Call<14>(o, "/14", 100LL, 50LL, handle, fetch, &m), "Read [/14] offset 100, length 50");
    lands(Call<15>(o, "/15", handle, cache, &file, &m), "Upload id [/15], name [n]");
    lands(Call<21>(o, &m), "TestConnect TestConnect , curl error");
}

TEST(Boundary, LocalSlotsAndTheOneExceptionThatCrosses) {
    TestHost host;
    IProtocol_V2* raw = nullptr;
    ASSERT_TRUE(host.api().GetProtocol("http://h/My Files/", nullptr, &raw));
    char text[64] = "zz";
    int size = sizeof text;
    EXPECT_EQ(Call<19>(raw, text, &size) + Call<20>(raw, "x") + Call<25>(raw, text, &size), 0);
    EXPECT_STREQ(text, "zz") << "no credential, no identifier";
    EXPECT_EQ(Call<1>(raw, text, &size), SUCCESS);
    EXPECT_STREQ(text, "http://h/My%20Files");
    EXPECT_EQ(Call<26>(raw, text, &size), SUCCESS);
    EXPECT_EQ(text[0] + size, 0) << "the root identifier is the empty text";
    unsigned long long total = 0, used = 0;
    EXPECT_EQ(Call<3>(raw, 700ULL, 300ULL) + Call<2>(raw, &total, &used), 0);
    EXPECT_EQ(total * 1000 + used, 700300u);
    using Quota = bool (*)(void*, void*, long long*, long long*);
    Quota answer = [](void* context, void* protocol, long long* total, long long* left) {
        *total = 1000;
        *left = context == protocol ? 400 : 0;
        return true;
    };
    Call<23, void>(raw, static_cast<void*>(raw), answer);
    Call<2>(raw, &total, &used);
    EXPECT_EQ(total * 1000 + used, 1000600u);
    char* type = nullptr;
    EXPECT_EQ(Call<4>(raw, &type) + Call<18>(raw), 0);  // and Connect, which sends nothing
    EXPECT_STREQ(type, "dav;box");
    char* message = type;
    EXPECT_EQ(Call<6>(raw, static_cast<IFileChanges*>(nullptr), &message), SUCCESS);
    EXPECT_EQ(Call<16>(raw, "/a", std::string("1"), std::string("2"), std::string("3"),
                       static_cast<_FS_FILE*>(nullptr), &message),
              NOT_SUPPORTED);
    EXPECT_EQ(message, type) << "no message where nothing happened";
    try {
        Call<17>(raw, "ex_info", "{\"data\":");  // a broken document: the bare parse error
        ADD_FAILURE() << "SetOpt returned";
    } catch (AERROR code) {
        EXPECT_EQ(code, 6001);
    }
    EXPECT_EQ((Call<22, int64_t>(raw)), 0x120) << "the object stays usable";
    Call<0, void>(raw);  // Release: the sanitizer build reports the object if it leaked
}

TEST(Boundary, UnloadsAndLoadsAgain) {
    auto loaded = [] {
        void* library = dlopen(PluginPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        return library != nullptr && dlclose(library) == 0;
    };
    for (int round = 0; round < 3; ++round) {
        EXPECT_FALSE(loaded()) << "still mapped after dlclose, round " << round;
        TestHost host;
        EXPECT_EQ(host.Create(kClosed)->TestConnect(nullptr), FAILED);  // the pool holds a handle
    }
    EXPECT_FALSE(loaded()) << "nothing may pin the library: hosts unload plug-ins";
}

}  // namespace
