// wire_ratio: the plug-in against the wire. libwebdav.so is loaded with dlopen and driven only
// through its entry points and IProtocol_V2, by an in-process host (a listing sink that copies
// each entry, a read sink that copies each 64 KiB block, a cache that serves uploads from a
// file); bare libcurl sends the same requests to the same server on one kept-alive easy handle.
// The two take turns unit by unit (one stat, one listing, one range, one upload), the first
// to go alternating, so load from elsewhere on the machine weighs on both alike.
//
//   wire_ratio --url http://127.0.0.1:PORT/dav --workload stats|list|read|write [options]
//
// Prints what it measured, then one "RESULT key=value ..." line for bench/wire_ratio.sh.
// Connections and requests are counted on the wire: this program interposes connect() and
// send(), which both libcurl users in the process call, and counts per side.
#include <curl/curl.h>
#include <dlfcn.h>
#include <malloc.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench/file_cache.h"
#include "compiled/cache.h"
#include "compiled/filesystem.h"
#include "compiled/logger.h"
#include "plugin.h"

namespace {

// ---- counting what goes on the wire -------------------------------------------------------

enum Side { kBare = 0, kPlugin = 1, kNoSide = 2 };
const char* const kSideName[] = {"bare", "plugin", "none"};

struct WireCount {
    long connects = 0;
    long requests = 0;  // sends that begin with a request line
    long sends = 0;     // send() calls: with TCP_NODELAY, about one segment each
    std::string firstHead;
};
Side current = kNoSide;
WireCount wire[3];
bool captureHeads = false;

bool StartsRequest(const char* data, size_t size) {
    static const char* const methods[] = {"GET ",    "PUT ",   "PROPFIND ", "POST ", "MOVE ",
                                          "DELETE ", "MKCOL ", "OPTIONS ",  "HEAD "};
    for (const char* m : methods) {
        size_t n = std::strlen(m);
        if (size >= n && std::memcmp(data, m, n) == 0) return true;
    }
    return false;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int connect(int fd, const sockaddr* addr,
                                                              socklen_t length) {
    using Fn = int (*)(int, const sockaddr*, socklen_t);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "connect"));
    if (addr != nullptr && (addr->sa_family == AF_INET || addr->sa_family == AF_INET6))
        ++wire[current].connects;
    return real(fd, addr, length);
}

extern "C" __attribute__((visibility("default"))) ssize_t send(int fd, const void* data,
                                                               size_t size, int flags) {
    using Fn = ssize_t (*)(int, const void*, size_t, int);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "send"));
    WireCount& count = wire[current];
    ++count.sends;
    const char* text = static_cast<const char*>(data);
    if (StartsRequest(text, size)) {
        ++count.requests;
        if (captureHeads && count.firstHead.empty()) {
            const char* end = static_cast<const char*>(memmem(text, size, "\r\n\r\n", 4));
            count.firstHead.assign(text, end ? static_cast<size_t>(end - text) : size);
        }
    }
    return real(fd, data, size, flags);
}

namespace {

// ---- clocks and memory ----------------------------------------------------------------------

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double ThreadCpu() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

long StatusKiB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long value = -1;
    size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, field, n) == 0) value = std::atol(line + n + 1);
    std::fclose(f);
    return value;
}

// Peak resident memory the call adds on top of what the process held before it.
long PeakGrowthKiB(const std::function<void()>& call) {
    malloc_trim(0);
    FILE* f = std::fopen("/proc/self/clear_refs", "w");  // "5": the peak starts again from now
    if (f != nullptr) {
        std::fputs("5", f);
        std::fclose(f);
    }
    long before = StatusKiB("VmRSS:");
    call();
    return StatusKiB("VmHWM:") - before;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The plug-in's URL encoding of a path: letters, digits and "/_-." stay.
std::string Encode(const std::string& path) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (plain || c == '/' || c == '_' || c == '-' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

const char kPropfindBody[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:propfind xmlns:D=\"DAV:\"><D:prop>"
    "<D:resourcetype /><D:getcontentlength /><D:creationdate /><D:lastaccessed "
    "/><D:getlastmodified /></D:prop></D:propfind>";

constexpr size_t kBlock = 65536;

// ---- the host: logger, sinks, cache ---------------------------------------------------------

// A host logger with errors on, as a host runs by default.
class HostLog : public ILog {
public:
    void Write(LOGLEVEL, const char*) override {}
    int GetLevel() override { return LOG_ERROR | LOG_PROTOCOL | LOG_CURL; }
    void WriteV(LOGLEVEL level, const char* format, va_list* args) override {
        if ((level & LOG_ERROR) == 0) return;
        std::vfprintf(stderr, format, *args);
        std::fputc('\n', stderr);
    }
};

class CopyingList : public IFileList {
public:
    AERROR AddFile(_FS_FILE* file) override {
        kept = *file;
        ++count;
        return SUCCESS;
    }
    _FS_FILE kept;
    long count = 0;
};

class BlockSink : public IFetchCallback {
public:
    AERROR OnData(long long, const char* data, long long length, int) override {
        std::memcpy(block.data(), data, static_cast<size_t>(std::min<long long>(length, kBlock)));
        bytes += length;
        return SUCCESS;
    }
    std::vector<char> block = std::vector<char>(kBlock);
    long long bytes = 0;
};

// ---- bare libcurl: one easy handle, the same requests ---------------------------------------

class Bare {
public:
    explicit Bare(std::string base) : base(std::move(base)), h(curl_easy_init()) {
        // The transport defaults every request of the plug-in carries.
        curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 10L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(h, CURLOPT_USERAGENT, "Tessaryn(gzip)");
    }
    ~Bare() { curl_easy_cleanup(h); }

    bool Propfind(const std::string& path, const char* depth) {
        std::string depthLine = std::string("Depth: ") + depth;
        curl_slist* headers = curl_slist_append(nullptr, depthLine.c_str());
        headers = curl_slist_append(headers, "Accept-encoding: gzip");
        headers = curl_slist_append(headers, "Content-Type: text/xml");
        Target(path);
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, "PROPFIND");
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, kPropfindBody);
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(sizeof kPropfindBody - 1));
        answer.clear();
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Keep);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
        return Perform(headers, 207);
    }

    bool Read(const std::string& path, long long offset, long long length) {
        std::string range =
            "Range: bytes=" + std::to_string(offset) + "-" + std::to_string(offset + length - 1);
        curl_slist* headers = curl_slist_append(nullptr, range.c_str());
        headers = curl_slist_append(headers, "Accept-Encoding: identity");
        Target(path);
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CopyBlocks);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
        return Perform(headers, 206);
    }

    bool Put(const std::string& path, FileCache* cache, long long size) {
        curl_slist* headers = curl_slist_append(nullptr, "Content-Type:");
        Target(path);
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
        curl_easy_setopt(h, CURLOPT_READFUNCTION, &Serve);
        curl_easy_setopt(h, CURLOPT_READDATA, cache);
        upOffset = 0;
        answer.clear();
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Keep);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &answer);
        bool ok = Perform(headers, 0);
        curl_easy_setopt(h, CURLOPT_UPLOAD, 0L);
        return ok;
    }

    std::string answer;
    BlockSink sink;
    static long long upOffset;

private:
    void Target(const std::string& path) {
        url = base + Encode(path);
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    }
    bool Perform(curl_slist* headers, long wanted) {
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
        CURLcode code = curl_easy_perform(h);
        long status = 0;
        curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, static_cast<char*>(nullptr));
        curl_slist_free_all(headers);
        if (code != CURLE_OK) std::fprintf(stderr, "bare: %s\n", curl_easy_strerror(code));
        return code == CURLE_OK && (wanted == 0 ? status < 300 : status == wanted);
    }
    static size_t Keep(char* data, size_t size, size_t count, void* to) {
        static_cast<std::string*>(to)->append(data, size * count);
        return size * count;
    }
    // The host's copy of the bytes, as the plug-in's host makes in its sink.
    static size_t CopyBlocks(char* data, size_t size, size_t count, void* to) {
        auto* sink = static_cast<BlockSink*>(to);
        size_t n = size * count;
        for (size_t done = 0; done < n; done += kBlock)
            sink->OnData(0, data + done, static_cast<long long>(std::min(kBlock, n - done)), 0);
        return n;
    }
    static size_t Serve(char* buffer, size_t size, size_t count, void* from) {
        _READDATA request;
        request.buffer = buffer;
        request.offset = upOffset;
        request.capacity = size * count;
        static_cast<FileCache*>(from)->ReadData(&request);
        upOffset += request.bytesRead;
        return static_cast<size_t>(request.bytesRead);
    }

    std::string base;
    std::string url;
    CURL* h;
};
long long Bare::upOffset = 0;

// ---- options --------------------------------------------------------------------------------

struct Options {
    std::string url;
    std::string workload;
    std::string plugin;
    std::string folder = "/big";  // the listed folder; its files are stat'ed
    std::string namePattern = "file %05d ü.txt";
    std::string file = "/big.bin";  // read
    std::string source;             // upload: a local file of at least --size bytes
    long long size = 1LL << 30;     // read and upload length
    long long range = 4LL << 20;    // read range
    int count = 2000;               // stats per round, listings per round
    int entries = 10000;            // files in the folder
    int rounds = 5;
    int runs = 3;
};

bool ParseOptions(int argc, char** argv, Options* o) {
    std::map<std::string, std::string> values;
    for (int i = 1; i + 1 < argc; i += 2) values[argv[i]] = argv[i + 1];
    if (argc % 2 == 0) return false;
    auto take = [&](const char* name, std::string& field) {
        if (values.count(name)) field = values[name];
    };
    auto number = [&](const char* name, long long& field) {
        if (values.count(name)) field = std::atoll(values[name].c_str());
    };
    take("--url", o->url);
    take("--workload", o->workload);
    take("--plugin", o->plugin);
    take("--folder", o->folder);
    take("--file", o->file);
    take("--source", o->source);
    number("--size", o->size);
    number("--range", o->range);
    long long count = o->count, entries = o->entries, rounds = o->rounds, runs = o->runs;
    number("--count", count);
    number("--entries", entries);
    number("--rounds", rounds);
    number("--runs", runs);
    o->count = static_cast<int>(count);
    o->entries = static_cast<int>(entries);
    o->rounds = static_cast<int>(rounds);
    o->runs = static_cast<int>(runs);
    return !o->url.empty() && !o->workload.empty() && o->count > 0 && o->rounds > 0 && o->runs > 0;
}

// ---- turns ----------------------------------------------------------------------------------

// One unit of work for one side; false when it failed.
using Unit = std::function<bool(int index)>;

struct Totals {
    double wall[2] = {0, 0};
    double cpu[2] = {0, 0};
};

// Every unit of a round is done by both sides back to back, the first alternating.
bool Round(int units, int round, const Unit& bare, const Unit& plugin, Totals& totals) {
    for (int u = 0; u < units; ++u) {
        for (int turn = 0; turn < 2; ++turn) {
            Side side = ((u + round + turn) % 2 == 0) ? kBare : kPlugin;
            current = side;
            double t0 = Now(), c0 = ThreadCpu();
            bool ok = (side == kBare ? bare : plugin)(u);
            totals.wall[side] += Now() - t0;
            totals.cpu[side] += ThreadCpu() - c0;
            current = kNoSide;
            if (!ok) {
                std::fprintf(stderr, "wire_ratio: %s failed at unit %d\n", kSideName[side], u);
                return false;
            }
        }
    }
    return true;
}

// The heads of the first requests, header lines sorted: the same text when both sides sent
// the same request.
std::string Normalised(const std::string& head) {
    std::vector<std::string> lines;
    std::stringstream in(head);
    std::string line;
    while (std::getline(in, line, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    if (lines.size() > 1) std::sort(lines.begin() + 1, lines.end());
    std::string out;
    for (auto& l : lines) out += l + "\n";
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: wire_ratio --url URL --workload stats|list|read|write [--count N]\n"
                     "  [--rounds R] [--runs K] [--folder /big] [--entries N] [--file /big.bin]\n"
                     "  [--source LOCALFILE] [--size BYTES] [--range BYTES] [--plugin PATH]\n");
        return 2;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    std::string error;
    auto library = LoadPlugin(o.plugin, &error);
    if (!library) {
        std::fprintf(stderr, "wire_ratio: %s\n", error.c_str());
        return 2;
    }
    static HostLog log;
    library->api().BindLogger(&log);
    IProtocol_V2* raw = nullptr;
    if (!library->api().GetProtocol(o.url.c_str(), nullptr, &raw) || raw == nullptr) {
        std::fprintf(stderr, "wire_ratio: GetProtocol failed\n");
        return 2;
    }
    ProtocolPtr dav(raw);
    Bare bare(o.url);

    // Both sides connect and learn the server before anything is timed.
    current = kPlugin;
    char* message = nullptr;
    AERROR tested = dav->TestConnect(&message);
    dav->FreeMsg(message);
    current = kBare;
    bare.Propfind("", "0");
    current = kNoSide;
    if (tested != SUCCESS) {
        std::fprintf(stderr, "wire_ratio: TestConnect gave %d\n", static_cast<int>(tested));
        return 3;
    }

    auto handle = std::make_shared<_FS_HANDLE>();
    BlockSink pluginSink;
    FileCache cache(o.source.empty() ? "/dev/null" : o.source);
    std::vector<std::string> names;
    for (int i = 0; i < o.count; ++i) {
        char name[256];
        std::snprintf(name, sizeof name, o.namePattern.c_str(), i % std::max(o.entries, 1));
        names.push_back(o.folder + "/" + name);
    }

    int units = 0;
    double unitBytes = 0, unitItems = 0;
    Unit bareUnit, pluginUnit;
    const std::string w = o.workload;
    if (w == "stats") {
        units = o.count;
        unitItems = 1;
        bareUnit = [&](int i) { return bare.Propfind(names[i], "0"); };
        pluginUnit = [&](int i) {
            _FS_FILE file;
            char* msg = nullptr;
            AERROR r = dav->GetFileInfo(names[i].c_str(), &file, &msg);
            dav->FreeMsg(msg);
            return r == SUCCESS && file.id == names[i];
        };
    } else if (w == "list") {
        units = o.count;
        unitItems = o.entries;
        bareUnit = [&](int) { return bare.Propfind(o.folder, "1"); };
        pluginUnit = [&](int) {
            CopyingList list;
            char* msg = nullptr;
            AERROR r = dav->GetFileList(o.folder.c_str(), &list, &msg);
            dav->FreeMsg(msg);
            return r == SUCCESS && list.count == o.entries;
        };
    } else if (w == "read") {
        units = static_cast<int>((o.size + o.range - 1) / o.range);
        unitBytes = static_cast<double>(o.range);
        bareUnit = [&](int i) { return bare.Read(o.file, i * o.range, o.range); };
        pluginUnit = [&](int i) {
            char* msg = nullptr;
            AERROR r = dav->Read(o.file.c_str(), i * o.range, o.range, handle, &pluginSink, &msg);
            dav->FreeMsg(msg);
            return r == SUCCESS;
        };
    } else if (w == "write") {
        if (o.source.empty()) {
            std::fprintf(stderr, "wire_ratio: write needs --source\n");
            return 2;
        }
        units = 1;
        unitBytes = static_cast<double>(o.size);
        bareUnit = [&](int) { return bare.Put("/up.bin", &cache, o.size); };
        pluginUnit = [&](int) {
            _FS_FILE file;
            file.name = "up.bin";
            file.size = o.size;
            char* msg = nullptr;
            AERROR r = dav->Upload("", handle, &cache, &file, &msg);
            dav->FreeMsg(msg);
            return r == SUCCESS && file.size == o.size;
        };
    } else {
        std::fprintf(stderr, "wire_ratio: unknown workload %s\n", w.c_str());
        return 2;
    }

    // One unit each with the request heads recorded, as a check that both send the same.
    captureHeads = true;
    for (auto& c : wire) c = WireCount();
    Totals warm;
    if (!Round(1, 0, bareUnit, pluginUnit, warm)) return 3;
    captureHeads = false;
    bool sameRequests = Normalised(wire[kBare].firstHead) == Normalised(wire[kPlugin].firstHead);
    if (!sameRequests)
        std::printf("request heads differ:\n--- bare\n%s\n--- plugin\n%s\n",
                    wire[kBare].firstHead.c_str(), wire[kPlugin].firstHead.c_str());

    for (auto& c : wire) c = WireCount();
    std::vector<double> ratios, bareWall, pluginWall, bareCpu, pluginCpu;
    for (int run = 0; run < o.runs; ++run) {
        Totals totals;
        for (int round = 0; round < o.rounds; ++round)
            if (!Round(units, round, bareUnit, pluginUnit, totals)) return 3;
        ratios.push_back(totals.wall[kBare] / totals.wall[kPlugin]);
        double perUnit = 1.0 / (o.rounds * units);
        bareWall.push_back(totals.wall[kBare] * perUnit);
        pluginWall.push_back(totals.wall[kPlugin] * perUnit);
        bareCpu.push_back(totals.cpu[kBare] * perUnit);
        pluginCpu.push_back(totals.cpu[kPlugin] * perUnit);
        std::printf("run %d: ratio %.3f (bare %.3f ms, plugin %.3f ms per unit)\n", run + 1,
                    ratios.back(), bareWall.back() * 1e3, pluginWall.back() * 1e3);
    }
    double totalUnits = static_cast<double>(o.runs) * o.rounds * units;
    const WireCount timed[2] = {wire[kBare], wire[kPlugin]};

    // Memory, outside the timed turns and the counts.
    long memoryKiB = -1, memory2KiB = -1;
    double answerKiB = 0;
    if (w == "list") {
        current = kBare;
        bare.Propfind(o.folder, "1");
        answerKiB = static_cast<double>(bare.answer.size()) / 1024;
        current = kPlugin;
        memoryKiB = PeakGrowthKiB([&] { pluginUnit(0); });
    } else if (w == "read") {
        current = kPlugin;
        // One Read of 64 MiB and one of the whole length: what it holds must not grow.
        long long small = std::min<long long>(o.size, 64LL << 20);
        memoryKiB = PeakGrowthKiB(
            [&] { dav->Read(o.file.c_str(), 0, small, handle, &pluginSink, nullptr); });
        memory2KiB = PeakGrowthKiB(
            [&] { dav->Read(o.file.c_str(), 0, o.size, handle, &pluginSink, nullptr); });
    } else if (w == "write") {
        current = kPlugin;
        memoryKiB = PeakGrowthKiB([&] { pluginUnit(0); });
    }
    current = kNoSide;

    double ratio = Median(ratios);
    double minRatio = *std::min_element(ratios.begin(), ratios.end());
    double maxRatio = *std::max_element(ratios.begin(), ratios.end());
    double bw = Median(bareWall), pw = Median(pluginWall);
    double bc = Median(bareCpu), pc = Median(pluginCpu);
    std::printf(
        "%s: plugin/bare speed %.3f (runs %.3f-%.3f); per unit bare %.3f ms, plugin %.3f ms;"
        " thread CPU bare %.3f ms, plugin %.3f ms\n",
        w.c_str(), ratio, minRatio, maxRatio, bw * 1e3, pw * 1e3, bc * 1e3, pc * 1e3);
    std::printf(
        "wire: bare %ld connections, %ld requests, %ld sends; plugin %ld connections, "
        "%ld requests, %ld sends (over %.0f units each)\n",
        timed[kBare].connects, timed[kBare].requests, timed[kBare].sends, timed[kPlugin].connects,
        timed[kPlugin].requests, timed[kPlugin].sends, totalUnits);

    std::printf(
        "RESULT workload=%s ratio=%.3f min=%.3f max=%.3f bare_ms=%.3f plugin_ms=%.3f "
        "bare_cpu_ms=%.3f plugin_cpu_ms=%.3f units=%.0f bare_conn=%ld bare_req=%ld "
        "bare_sends=%ld plugin_conn=%ld plugin_req=%ld plugin_sends=%ld same_requests=%d",
        w.c_str(), ratio, minRatio, maxRatio, bw * 1e3, pw * 1e3, bc * 1e3, pc * 1e3, totalUnits,
        timed[kBare].connects, timed[kBare].requests, timed[kBare].sends, timed[kPlugin].connects,
        timed[kPlugin].requests, timed[kPlugin].sends, sameRequests ? 1 : 0);
    if (unitBytes > 0)
        std::printf(" bare_MBps=%.0f plugin_MBps=%.0f", unitBytes / bw / 1e6, unitBytes / pw / 1e6);
    if (w == "list") {
        // Work on the calling thread beyond receiving the answer: parsing, records, the sink.
        double client = pc - bc;
        std::printf(" client_ms=%.1f entries_per_s=%.0f answer_KiB=%.0f peak_KiB=%ld", client * 1e3,
                    client > 0 ? unitItems / client : 0, answerKiB, memoryKiB);
    } else if (w == "read") {
        std::printf(" peak64M_KiB=%ld peakAll_KiB=%ld", memoryKiB, memory2KiB);
    } else if (w == "write") {
        std::printf(" peak_KiB=%ld", memoryKiB);
    }
    std::printf("\n");
    dav.reset();
    library->api().UnbindLogger();
    return 0;
}
