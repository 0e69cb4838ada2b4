// GetProtocol when the allocation of the object fails: the host must get
// false, an untouched out-parameter and no exception. This executable
// replaces the global allocation functions; the loaded library binds to them
// like any other module of the process.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "support/test_host.h"

namespace {
thread_local bool fail_allocations = false;
thread_local int refused_allocations = 0;

void* Allocate(size_t size) {
    if (fail_allocations) {
        ++refused_allocations;
        throw std::bad_alloc();
    }
    void* p = malloc(size != 0 ? size : 1);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void* AllocateNoThrow(size_t size) noexcept {
    if (fail_allocations) {
        ++refused_allocations;
        return nullptr;
    }
    return malloc(size != 0 ? size : 1);
}
}  // namespace

void* operator new(size_t size) {
    return Allocate(size);
}
void* operator new[](size_t size) {
    return Allocate(size);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(size);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    return AllocateNoThrow(size);
}
void operator delete(void* p) noexcept {
    free(p);
}
void operator delete[](void* p) noexcept {
    free(p);
}
void operator delete(void* p, size_t) noexcept {
    free(p);
}
void operator delete[](void* p, size_t) noexcept {
    free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    free(p);
}

namespace {

TEST(GetProtocolAllocation, FailureGivesFalseAndLeavesOutUntouched) {
    TestHost host;
    IProtocol_V2* const sentinel = reinterpret_cast<IProtocol_V2*>(0x5678);
    IProtocol_V2* out = sentinel;

    refused_allocations = 0;
    fail_allocations = true;
    bool created = host.api().GetProtocol("http://127.0.0.1/dav", nullptr, &out);
    fail_allocations = false;

    ASSERT_GT(refused_allocations, 0) << "the library did not allocate through operator new";
    EXPECT_FALSE(created);
    EXPECT_EQ(out, sentinel);

    // And the library is still usable afterwards.
    ProtocolPtr protocol = host.Create("http://127.0.0.1/dav");
    ASSERT_NE(protocol, nullptr);
    EXPECT_EQ(static_cast<int64_t>(protocol->GetFeature()), 0x120);
}

}  // namespace
