// Test helper: borrows every idle request object for a scope, so operations
// inside it get new ones (no connection or authentication state left by
// earlier tests), then hands them back.
#pragma once

#include <memory>
#include <vector>

#include "webdav/protocol.h"

struct IdlePoolSetAside {
    IdlePoolSetAside() {
        while (cq.IdleCount() > 0) held.push_back(cq.GetCURL());
    }
    ~IdlePoolSetAside() {
        for (auto& object : held) cq.PutCURL(object);
    }
    IdlePoolSetAside(const IdlePoolSetAside&) = delete;
    IdlePoolSetAside& operator=(const IdlePoolSetAside&) = delete;
    std::vector<std::shared_ptr<CURLLogger>> held;
};
