// libFuzzer target: any bytes as a PROPFIND answer. The answer is read whole
// and read in pieces as it would arrive (the first byte picks the piece size);
// both readings must give the same records, and no finished response may be
// freed while the parser still uses it.

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>

#include "webdav/multistatus.h"
#include "webdav/protocol.h"

namespace {

Protocol& Owner() {
    static Protocol* protocol = [] {
        auto* p = new Protocol("http://127.0.0.1/dav", nullptr);
        p->rootPath = "/dav";
        return p;
    }();
    return *protocol;
}

bool SameRecords(const nodeinfo* a, const nodeinfo* b) {
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next) {
        const _FS_FILE& x = a->file;
        const _FS_FILE& y = b->file;
        // Times are compared for presence only: a date the reader cannot
        // place reads as the current time, which moves between the readings.
        if (x.id != y.id || x.name != y.name || x.size != y.size ||
            x.attributes != y.attributes || x.modifiedTime.empty() != y.modifiedTime.empty() ||
            x.creationTime.empty() != y.creationTime.empty() ||
            x.accessTime.empty() != y.accessTime.empty())
            return false;
    }
    return a == nullptr && b == nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] % 97;
    const char* body = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    Protocol& protocol = Owner();

    std::shared_ptr<xmlDoc> doc = ParseMultistatus(body, length);
    nodeinfo* whole = doc ? protocol.parsePropfindAnswer(doc->children) : nullptr;

    MultistatusRecords records(protocol);
    for (size_t at = 0; at < length; at += piece)
        records.Feed(body + at, std::min(piece, length - at));
    bool usable = records.Finish();
    nodeinfo* pieces = records.Take();

    if (usable != (doc != nullptr) || !SameRecords(whole, pieces)) abort();
    Protocol::nodeinfoFree(whole);
    Protocol::nodeinfoFree(pieces);
    return 0;
}
