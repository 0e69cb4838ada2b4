#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

struct CommandShape {
    const char* name;
    size_t minArgs;
    size_t maxArgs;
    const char* flags;  // which command-specific options apply: l=long j=json r=recursive R=range
};

const CommandShape commands[] = {
    {"test", 0, 0, ""}, {"ls", 0, 1, "lj"},  {"stat", 1, 1, "j"},
    {"get", 1, 2, "R"}, {"put", 1, 2, ""},   {"mv", 2, 2, ""},
    {"rm", 1, 1, ""},   {"mkdir", 1, 1, ""}, {"rmdir", 1, 1, "r"},
};

const CommandShape* FindCommand(const std::string& name) {
    for (auto& shape : commands)
        if (name == shape.name) return &shape;
    return nullptr;
}

// Byte counts: a decimal number with an optional K, M or G (powers of 1024).
bool ParseBytes(const std::string& text, long long* out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    long long value = strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == text.c_str()) return false;
    std::string suffix(end);
    long long scale = 1;
    if (suffix == "K" || suffix == "k" || suffix == "KiB")
        scale = 1LL << 10;
    else if (suffix == "M" || suffix == "m" || suffix == "MiB")
        scale = 1LL << 20;
    else if (suffix == "G" || suffix == "g" || suffix == "GiB")
        scale = 1LL << 30;
    else if (!suffix.empty())
        return false;
    if (value > INT64_MAX / scale) return false;
    *out = value * scale;
    return true;
}

bool ParseLogLevel(const std::string& text, LogLevel* out) {
    if (text == "none")
        *out = LogLevel::None;
    else if (text == "error")
        *out = LogLevel::Error;
    else if (text == "info")
        *out = LogLevel::Info;
    else if (text == "trace")
        *out = LogLevel::Trace;
    else
        return false;
    return true;
}

bool IsUrl(const std::string& text) {
    return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            if (o->url.empty() && o->command.empty() && IsUrl(arg))
                o->url = arg;
            else if (o->command.empty())
                o->command = arg;
            else
                o->args.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue) return true;
            if (i + 1 >= argc) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto noValue = [&]() -> bool {
            if (!inlineValue) return true;
            *error = "option " + name + " takes no value";
            return false;
        };

        if (name == "-h" || name == "--help") {
            if (!noValue()) return false;
            o->help = true;
        } else if (name == "--version") {
            if (!noValue()) return false;
            o->version = true;
        } else if (name == "-l" || name == "--long") {
            if (!noValue()) return false;
            o->longForm = true;
        } else if (name == "--json") {
            if (!noValue()) return false;
            o->json = true;
        } else if (name == "-r" || name == "--recursive") {
            if (!noValue()) return false;
            o->recursive = true;
        } else if (name == "--no-progress") {
            if (!noValue()) return false;
            o->noProgress = true;
        } else if (name == "--url") {
            if (!takeValue()) return false;
            o->url = value;
        } else if (name == "-u" || name == "--user") {
            if (!takeValue()) return false;
            o->user = value;
            o->haveUser = true;
        } else if (name == "--password") {
            if (!takeValue()) return false;
            o->password = value;
            o->havePassword = true;
        } else if (name == "--user-agent") {
            if (!takeValue()) return false;
            o->userAgent = value;
        } else if (name == "--proxy") {
            if (!takeValue()) return false;
            o->proxy = value;
        } else if (name == "--proxy-user") {
            if (!takeValue()) return false;
            o->proxyUser = value;
        } else if (name == "--plugin") {
            if (!takeValue()) return false;
            o->plugin = value;
        } else if (name == "--speed-limit") {
            if (!takeValue()) return false;
            if (!ParseBytes(value, &o->speedLimit)) {
                *error = "bad --speed-limit '" + value + "' (bytes per second, K/M/G allowed)";
                return false;
            }
        } else if (name == "--offset") {
            if (!takeValue()) return false;
            if (!ParseBytes(value, &o->offset)) {
                *error = "bad --offset '" + value + "'";
                return false;
            }
            o->haveOffset = true;
        } else if (name == "--length") {
            if (!takeValue()) return false;
            if (!ParseBytes(value, &o->length)) {
                *error = "bad --length '" + value + "'";
                return false;
            }
            o->haveLength = true;
        } else if (name == "--log-level") {
            if (!takeValue()) return false;
            if (!ParseLogLevel(value, &o->logLevel)) {
                *error = "bad --log-level '" + value + "' (none, error, info or trace)";
                return false;
            }
        } else {
            *error = "unknown option " + name;
            return false;
        }
    }
    return true;
}

bool CheckCommand(const Options& o, std::string* error) {
    if (o.command.empty()) {
        *error = "no command given";
        return false;
    }
    const CommandShape* shape = FindCommand(o.command);
    if (shape == nullptr) {
        *error = "unknown command '" + o.command + "'";
        return false;
    }
    if (o.args.size() < shape->minArgs || o.args.size() > shape->maxArgs) {
        *error = "wrong number of operands for '" + o.command + "'";
        return false;
    }
    auto allowed = [&](char flag) { return strchr(shape->flags, flag) != nullptr; };
    if (o.longForm && !allowed('l'))
        *error = "-l applies to ls only";
    else if (o.json && !allowed('j'))
        *error = "--json applies to ls and stat only";
    else if (o.recursive && !allowed('r'))
        *error = "-r applies to rmdir only";
    else if ((o.haveOffset || o.haveLength) && !allowed('R'))
        *error = "--offset and --length apply to get only";
    if (!error->empty()) return false;
    if (o.url.empty()) {
        *error = "no server URL (give it first, with --url, or in WEBDAV_URL)";
        return false;
    }
    if (!IsUrl(o.url)) {
        *error = "the server URL must begin with http:// or https://";
        return false;
    }
    return true;
}

std::string UsageText() {
    return R"(Usage: davctl [URL] COMMAND [OPERANDS] [OPTIONS]

Works on the files of a WebDAV server through the libwebdav plug-in, loaded the
way the host product loads it. Remote paths are relative to the URL's path.

Commands:
  test                       test the connection; prints the server's answer
  ls [FOLDER]                list a folder (default: the root)
      -l, --long             kind, size, modification time (UTC) and name
      --json                 one JSON array of entries, for scripts
  stat PATH [--json]         show one file or folder
  get REMOTE [LOCAL|-]       download to LOCAL (default: the remote name in the
                             current folder; a folder takes the remote name;
                             '-' writes to standard output)
      --offset N             first byte to fetch (default 0)
      --length N             bytes to fetch (default: to the end of the file)
  put LOCAL [REMOTE]         upload a local file; REMOTE is a folder to put it
                             in (default: the root) or the new file's path
  mv FROM TO                 move or rename; TO may be an existing folder
  rm PATH                    delete a file (folders: use rmdir)
  mkdir PATH                 create a folder
  rmdir PATH [-r]            delete an empty folder; -r deletes its contents too

Connection:
  --url URL                  the server URL (or the first operand, or WEBDAV_URL)
  -u, --user USER            user name (or WEBDAV_USER)
  --password PASSWORD        password (better: WEBDAV_PASSWORD, or the prompt
                             that appears when a user is given without one and
                             standard input is a terminal)
  --user-agent TEXT          User-Agent header for every request
  --proxy HOST:PORT          send requests through this HTTP proxy
  --proxy-user USER[:PASS]   credentials for the proxy
  --speed-limit BYTES        cap get and put at BYTES per second (K, M, G allowed)

Other options:
  --plugin PATH              the plug-in to load (or WEBDAV_PLUGIN; default: the
                             libwebdav.so next to davctl, then the one it was built with)
  --log-level LEVEL          plug-in log lines on stderr: none (default), error,
                             info or trace
  --no-progress              no progress bar (it only appears when stderr is a terminal)
  -h, --help                 this text
  --version                  versions of davctl and of the plug-in

Every failure prints one line on stderr:
  davctl: <what was attempted>: <result name>[: <server's or system's message>]

Exit status:
  0    success
  1    usage error (bad command, operand or option)
  2    the plug-in could not be loaded or gave no protocol object
  3    the operation failed
  4    access denied (wrong or missing credentials, no permission)
  5    not found (the remote file or folder does not exist)
  6    local file error (cannot read the upload or write the download)
  130  interrupted (Ctrl-C); a partial download is removed
)";
}
