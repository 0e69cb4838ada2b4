// get and put: file data in both directions, streamed through the host's transfer interfaces.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "commands.h"
#include "file_io.h"
#include "interrupt.h"
#include "local_output.h"
#include "progress.h"

namespace {

// Each Read asks for at most this much, so a stop or failure costs little and the
// plug-in's per-request work stays small against the data moved.
constexpr long long readPiece = 4LL << 20;

// Under a speed limit libcurl may take a request's first bytes in one burst and then pause to
// bring the average down; a pause longer than the transport's low-speed window (20 s) fails
// the read, and a request that fits in one burst is not slowed at all. So a limited download
// asks for a few seconds' worth at a time and keeps the overall pace itself.
long long PieceFor(long long speedLimit) {
    if (speedLimit <= 0) return readPiece;
    long long piece = speedLimit > readPiece / 4 ? readPiece : speedLimit * 4;
    return std::max(piece, 64LL << 10);
}

// Waits until done bytes are no ahead of the limit (a Ctrl-C meanwhile ends the process).
void KeepPace(std::chrono::steady_clock::time_point begin, long long done, long long speedLimit) {
    if (speedLimit <= 0) return;
    std::this_thread::sleep_until(
        begin + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(static_cast<double>(done) / speedLimit)));
}

bool IsDirectory(const std::string& local) {
    struct stat info;
    return stat(local.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void UploadProgress(long total, long now, void* context, double speed) {
    auto* progress = static_cast<Progress*>(context);
    if (progress != nullptr && total > 0) progress->Update(now, speed);
}

}  // namespace

int RunGet(Context& c) {
    const Options& o = c.options;
    std::string path = RemotePath(o.args[0]);
    std::string action = "get " + Shown(path);
    if (path.empty()) return Report(action, INVALID_PARAMETER, "the root is a folder", EXIT_USAGE);

    _FS_FILE file;
    Outcome stat = StatExact(c.dav, path, &file);
    if (!stat.ok()) return Report(action, stat);
    if (IsFolder(file)) return Report(action, INVALID_PARAMETER, "is a folder", EXIT_FAILED);

    // The listed size is only a hint (servers may leave it out or be stale): the download reads
    // until the server's end of file, or the length asked for.
    const long long hint = file.size;
    const long long start = o.offset;
    const long long wanted = o.haveLength ? o.length : -1;
    std::string target = o.args.size() > 1 ? o.args[1] : NameOf(path);
    if (target != "-" && IsDirectory(target)) target += "/" + NameOf(path);
    Interrupts::SetAction(action, READ_CANCELED);
    LocalOutput output;
    std::string error;
    if (!output.Open(target, &error))
        return Report("create " + target, FILE_OPEN_FAILED, error, EXIT_LOCAL);

    // Data on a terminal would be torn up by the bar.
    long long expected = std::max(0LL, hint - start);
    if (wanted >= 0) expected = std::min(expected, wanted);
    Progress progress(c.progress && (target != "-" || !isatty(STDOUT_FILENO)), expected);
    auto handle = std::make_shared<_FS_HANDLE>();
    FileFetch sink(output.fd(), output.positional(), start, handle, 0,
                   [&](long long received) { progress.Update(received); });
    auto begin = std::chrono::steady_clock::now();
    for (long long done = 0; wanted < 0 || done < wanted;) {
        long long piece = PieceFor(o.connection.speedLimit);
        if (wanted >= 0) piece = std::min(piece, wanted - done);
        Outcome read = Call(c.dav, [&](char** message) {
            return c.dav->Read(path.c_str(), start + done, piece, handle, &sink, message);
        });
        if (!sink.error().empty())
            return Report("write " + target, FILE_WRITE_FAILED, sink.error(), EXIT_LOCAL);
        long long got = sink.received() - done;
        done += got;
        // 416: nothing at this offset. Past the first read that is the end of the file; at the
        // first, an offset beyond the end unless the file simply ends there.
        if (!read.ok() && HttpStatusOf(read.message) == 416 && got == 0) {
            if (done == 0 && start > 0 && start != hint)
                return Report(action, INVALID_PARAMETER,
                              "offset " + std::to_string(start) + " is past the end of the file",
                              EXIT_USAGE);
            break;
        }
        if (!read.ok()) return Report(action, read);
        // A short answer is the end of the file; one the listing contradicts is checked by
        // asking once more from where it stopped.
        if (got < piece && (got == 0 || start + done >= hint)) break;
        KeepPace(begin, done, o.connection.speedLimit);
    }
    progress.Finish();
    if (!output.Commit(&error))
        return Report("write " + target, FILE_WRITE_FAILED, error, EXIT_LOCAL);
    return EXIT_OK;
}

int RunPut(Context& c) {
    const Options& o = c.options;
    const std::string& local = o.args[0];
    int fd = open(local.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Report("open " + local, FILE_OPEN_FAILED, strerror(errno), EXIT_LOCAL);
    std::shared_ptr<void> closer(nullptr, [fd](void*) { close(fd); });
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return Report("open " + local, FILE_OPEN_FAILED, "not a regular file", EXIT_LOCAL);
    long long size = info.st_size;

    std::string localName = NameOf(local);
    Destination dest;
    Outcome where = ResolveDestination(c.dav, o.args.size() > 1 ? o.args[1] : "", localName, &dest);
    std::string remote = JoinPath(dest.folder, dest.name);
    std::string action = "put " + local + " to " + remote;
    if (!where.ok()) return Report(action, where);
    if (dest.name.empty()) return Report(action, INVALID_NAME, "no file name", EXIT_USAGE);

    Progress progress(c.progress, size);
    auto handle = std::make_shared<_FS_HANDLE>();
    handle->progressFn = UploadProgress;
    handle->progressContext = &progress;
    FileCache cache(fd, size);
    _FS_FILE file;
    file.name = dest.name;
    file.size = size;
    file.attributes = FA_FILE;
    Interrupts::SetAction(action, UPLOAD_CANCELED);
    Outcome upload = Call(c.dav, [&](char** message) {
        return c.dav->Upload(dest.folder.c_str(), handle, &cache, &file, message);
    });
    handle->progressFn = nullptr;
    if (!cache.error().empty())
        return Report("read " + local, FILE_READ_FAILED, cache.error(), EXIT_LOCAL);
    if (!upload.ok()) return Report(action, upload);
    // Trust, then verify: the refreshed record must say the server holds what was sent.
    if (file.id == remote && file.size != size)
        return Report(action, FILE_WRITE_FAILED,
                      "the server holds " + std::to_string(file.size) + " of " +
                          std::to_string(size) + " bytes",
                      EXIT_FAILED);
    progress.Finish();
    return EXIT_OK;
}
