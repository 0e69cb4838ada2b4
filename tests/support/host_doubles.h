// Small host-side objects for tests: a recording logger, a listing sink, a
// fetch sink and a cache reader, implemented from the host's interface headers.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "compiled/cache.h"
#include "compiled/filesystem.h"
#include "compiled/logger.h"

struct LogLine {
    int level;
    std::string text;
};

// Formats every line it receives and keeps it; the level mask is settable.
class RecordingLogger : public ILog {
public:
    explicit RecordingLogger(int mask = 0x7fffffff) : mask(mask) {}
    void Write(LOGLEVEL level, const char* text) override { Add(level, text); }
    int GetLevel() override { return mask; }
    void WriteV(LOGLEVEL level, const char* format, va_list* args) override {
        va_list copy;
        va_copy(copy, *args);
        int n = vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
        if (n > 0) vsnprintf(&text[0], text.size() + 1, format, *args);
        Add(level, text);
    }

    std::vector<LogLine> Lines() {
        std::lock_guard<std::mutex> guard(lock);
        return lines;
    }
    void Clear() {
        std::lock_guard<std::mutex> guard(lock);
        lines.clear();
    }
    // Lines at exactly this level whose text contains needle.
    std::vector<std::string> Find(int level, const std::string& needle) {
        std::vector<std::string> found;
        for (auto& line : Lines())
            if ((level == 0 || line.level == level) && line.text.find(needle) != std::string::npos)
                found.push_back(line.text);
        return found;
    }
    bool Has(int level, const std::string& needle) { return !Find(level, needle).empty(); }
    std::string Dump() {
        std::string all;
        for (auto& line : Lines()) all += std::to_string(line.level) + " " + line.text + "\n";
        return all;
    }

    int mask;

private:
    void Add(int level, std::string text) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back({level, std::move(text)});
    }
    std::mutex lock;
    std::vector<LogLine> lines;
};

// Keeps a copy of every listed entry.
class ListSink : public IFileList {
public:
    AERROR AddFile(_FS_FILE* file) override {
        files.push_back(*file);
        return SUCCESS;
    }
    const _FS_FILE* ById(const std::string& id) const {
        for (auto& f : files)
            if (f.id == id) return &f;
        return nullptr;
    }
    std::vector<_FS_FILE> files;
};

// Collects delivered blocks; onData may raise the handle's state or check invariants.
class MemoryFetch : public IFetchCallback {
public:
    struct Block {
        long long offset;
        long long length;
    };
    AERROR OnData(long long offset, const char* data, long long length, int flags) override {
        blocks.push_back({offset, length});
        flagsSeen |= flags;
        data_.append(data, static_cast<size_t>(length));
        if (onData) onData(blocks.size());
        return SUCCESS;
    }
    const std::string& data() const { return data_; }
    std::vector<Block> blocks;
    int flagsSeen = 0;
    std::function<void(size_t blockCount)> onData;

private:
    std::string data_;
};

// Serves an upload from memory; can be told to hand over fewer bytes than it holds.
class MemoryCache : public ICacheIO {
public:
    explicit MemoryCache(std::string content) : content(std::move(content)) {}
    AERROR ReadData(_READDATA* request) override {
        ++calls;
        int64_t limit = std::min<int64_t>(static_cast<int64_t>(content.size()), available);
        if (request->offset >= limit) {
            request->bytesRead = 0;
            return SUCCESS;
        }
        size_t n =
            std::min<uint64_t>(request->capacity, static_cast<uint64_t>(limit - request->offset));
        std::copy_n(content.data() + request->offset, n, request->buffer);
        request->bytesRead = static_cast<int64_t>(n);
        if (onRead) onRead(*request);
        return SUCCESS;
    }
    std::string content;
    int64_t available = INT64_MAX;  // bytes the cache pretends to hold
    int calls = 0;
    std::function<void(_READDATA&)> onRead;
};
