#pragma once

#include <algorithm>
#include <cstdio>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "compiled/cache.h"
#include "compiled/logger.h"

struct LogLine {
    int level;
    std::string text;
};

// Keeps every line it is sent, formatted; GetLevel answers mask. Safe across threads.
class RecordingLogger : public ILog {
public:
    void Write(LOGLEVEL level, const char* text) override { Add(level, text); }
    int GetLevel() override { return mask; }
    void WriteV(LOGLEVEL level, const char* format, va_list* args) override {
        char text[1 << 16];
        vsnprintf(text, sizeof text, format, *args);
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
    // Texts of the lines at this level (0: any) that contain needle.
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
    int mask = 0x7fffffff;

private:
    void Add(int level, const char* text) {
        std::lock_guard<std::mutex> guard(lock);
        lines.push_back({level, text});
    }
    std::mutex lock;
    std::vector<LogLine> lines;
};

struct ListSink : IFileList {
    AERROR AddFile(_FS_FILE* file) override {
        if (throws) throw std::runtime_error("host sink");
        files.push_back(*file);
        return SUCCESS;
    }
    std::vector<_FS_FILE> files;
    bool throws = false;  // a host whose sink throws
};

// Keeps the delivered bytes and blocks; onData runs after each block (to raise state).
struct MemoryFetch : IFetchCallback {
    struct Block {
        long long offset, length;
    };
    AERROR OnData(long long offset, const char* data, long long length, int flags) override {
        blocks.push_back({offset, length});
        flagsSeen |= flags;
        bytes.append(data, static_cast<size_t>(length));
        if (onData) onData(blocks.size());
        return SUCCESS;
    }
    const std::string& data() const { return bytes; }
    std::vector<Block> blocks;
    std::string bytes;
    int flagsSeen = 0;
    std::function<void(size_t blockCount)> onData;
};

// Serves an upload from content, of which it pretends to hold only the first available bytes.
struct MemoryCache : ICacheIO {
    explicit MemoryCache(std::string content) : content(std::move(content)) {}
    AERROR ReadData(_READDATA* request) override {
        ++calls;
        int64_t end = std::min<int64_t>(static_cast<int64_t>(content.size()), available);
        int64_t n = std::clamp<int64_t>(end - request->offset, 0, request->capacity);
        std::copy_n(content.data() + std::min(request->offset, end), n, request->buffer);
        request->bytesRead = n;
        if (onRead && n > 0) onRead(*request);
        return SUCCESS;
    }
    std::string content;
    int64_t available = INT64_MAX;
    int calls = 0;
    std::function<void(_READDATA&)> onRead;
};
