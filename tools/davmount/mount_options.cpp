#include "mount_options.h"

#include <unistd.h>

#include <vector>

#include "command_line.h"
#include "numbers.h"

namespace {

bool IsUrl(const std::string& text) {
    return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

bool Seconds(const std::string& text, double* out) {
    long long value = 0;
    if (!ParseCount(text, 86400 * 365, &value)) return false;
    *out = static_cast<double>(value);
    return true;
}

// One "-o" list: ro, allow_other, direct_io, uid=N, gid=N, umask=NNN, attr_timeout=S,
// dir_timeout=S.
bool TakeMountList(const std::string& list, MountOptions* o, std::string* error) {
    size_t begin = 0;
    while (begin <= list.size()) {
        size_t end = list.find(',', begin);
        if (end == std::string::npos) end = list.size();
        std::string item = list.substr(begin, end - begin);
        begin = end + 1;
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        long long id = 0;
        bool ok = true;
        if (item == "ro")
            o->readOnly = true;
        else if (item == "allow_other")
            o->allowOther = true;
        else if (item == "direct_io")
            o->directIo = true;
        else if (key == "uid" && eq != std::string::npos)
            ok = ParseCount(value, 0xfffffffe, &id) && ((o->uid = static_cast<uid_t>(id)), true);
        else if (key == "gid" && eq != std::string::npos)
            ok = ParseCount(value, 0xfffffffe, &id) && ((o->gid = static_cast<gid_t>(id)), true);
        else if (key == "umask" && eq != std::string::npos)
            ok = ParseOctalMask(value, &o->umask);
        else if (key == "attr_timeout" && eq != std::string::npos)
            ok = Seconds(value, &o->attrTimeout);
        else if (key == "dir_timeout" && eq != std::string::npos)
            ok = Seconds(value, &o->dirTimeout);
        else {
            *error = "unknown mount option '" + item + "'";
            return false;
        }
        if (!ok) {
            *error = "bad mount option '" + item + "'";
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseMountOptions(int argc, char** argv, MountOptions* o, std::string* error) {
    o->uid = getuid();
    o->gid = getgid();
    std::vector<std::string> operands;
    WalkCommandLine(
        argc, argv, [&](const std::string& text) { operands.push_back(text); },
        [&](OptionItem& item) {
            const std::string& name = item.name;
            if (name == "-h" || name == "--help") {
                o->help = true;
            } else if (name == "--version") {
                o->version = true;
            } else if (name == "-o") {
                if (item.takeValue()) TakeMountList(item.value, o, error);
            } else if (name == "--cache-dir") {
                if (item.takeValue()) o->cacheDir = item.value;
            } else if (!TakeConnectionOption(name, item.takeValue, item.value, &o->connection,
                                             error)) {
                *error = "unknown option " + name;
            } else if (name == "--log-level") {
                o->notes = o->connection.logLevel;
            }
        },
        error);
    if (!error->empty() || o->help || o->version) return error->empty();
    // The URL may also come from --url or WEBDAV_URL.
    if (operands.size() == 2 && IsUrl(operands[0])) o->connection.url = operands[0];
    if (operands.empty() || operands.size() > 2 || (operands.size() == 2 && !IsUrl(operands[0]))) {
        *error = "URL and MOUNTPOINT expected";
        return false;
    }
    o->mountpoint = operands.back();
    return true;
}

std::string MountUsageText() {
    return R"(Usage: davmount [OPTIONS] URL MOUNTPOINT   (or the URL in --url or WEBDAV_URL)

Shows the files of a WebDAV server as a folder, through the libwebdav plug-in,
loaded the way the host product loads it. Runs in the foreground until
fusermount3 -u MOUNTPOINT, Ctrl-C or SIGTERM; pending uploads are finished
before it unmounts. A file is uploaded when it is closed (or fsync'ed) after a
change, and close reports the server's answer; a file the server refused stays
in the cache folder, and the log says where.

Mount:
  -o LIST                    comma-separated: ro, allow_other, uid=N, gid=N,
                             umask=NNN (octal, default 022), attr_timeout=S
                             (default 5), dir_timeout=S (how long a folder's
                             listing is trusted, default 30), direct_io (no
                             kernel page cache: big files stream faster, but
                             nothing is kept for the next read and shared
                             mmap fails)
  --cache-dir DIR            where changed files wait for their upload (default
                             $XDG_CACHE_HOME/davmount or ~/.cache/davmount)

)" + ConnectionHelp() +
           R"(                             (davmount's own notes show at the default level;
                             the plug-in's lines need --log-level)

  -h, --help                 this text
  --version                  the version of davmount

Exit status: 0 after a clean unmount, 1 usage error, 2 plug-in not loadable,
3 the server or the mount failed, 4 access denied.
)";
}
