#include "options.h"

#include <cstdint>
#include <cstring>

#include "command_line.h"
#include "numbers.h"

namespace {

struct CommandShape {
    const char* name;
    size_t minArgs;
    size_t maxArgs;
    const char* flags;  // which command-specific options apply: l=long j=json r=recursive
                        // R=range f=force
};

const CommandShape commands[] = {
    {"test", 0, 0, ""}, {"ls", 0, 1, "lj"},  {"stat", 1, SIZE_MAX, "j"},
    {"get", 1, 2, "R"}, {"put", 1, 2, ""},   {"mv", 2, 2, "f"},
    {"rm", 1, 1, ""},   {"mkdir", 1, 1, ""}, {"rmdir", 1, 1, "r"},
};

const CommandShape* FindCommand(const std::string& name) {
    for (auto& shape : commands)
        if (name == shape.name) return &shape;
    return nullptr;
}

bool IsUrl(const std::string& text) {
    return text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0;
}

}  // namespace

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
    auto operand = [&](const std::string& text) {
        if (o->connection.url.empty() && o->command.empty() && IsUrl(text))
            o->connection.url = text;
        else if (o->command.empty())
            o->command = text;
        else
            o->args.push_back(text);
    };
    auto option = [&](OptionItem& item) {
        const std::string& name = item.name;
        auto number = [&](long long* out, bool* given) {
            if (item.takeValue() && !ParseBytes(item.value, out))
                *error = "bad " + name + " '" + item.value + "' (digits, K/M/G allowed)";
            *given = true;
        };
        const std::pair<const char*, bool Options::*> flags[] = {
            {"-h", &Options::help},
            {"--help", &Options::help},
            {"--version", &Options::version},
            {"-l", &Options::longForm},
            {"--long", &Options::longForm},
            {"--json", &Options::json},
            {"-r", &Options::recursive},
            {"--recursive", &Options::recursive},
            {"-f", &Options::force},
            {"--force", &Options::force},
            {"--no-progress", &Options::noProgress}};
        for (auto& [flag, field] : flags)
            if (name == flag) {
                o->*field = true;
                if (item.inlined) *error = "option " + name + " takes no value";
                return;
            }
        if (name == "--offset")
            number(&o->offset, &o->haveOffset);
        else if (name == "--length")
            number(&o->length, &o->haveLength);
        else if (!TakeConnectionOption(name, item.takeValue, item.value, &o->connection, error))
            *error = "unknown option " + name;
    };
    return WalkCommandLine(argc, argv, operand, option, error);
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
    else if (o.force && !allowed('f'))
        *error = "-f applies to mv only";
    else if ((o.haveOffset || o.haveLength) && !allowed('R'))
        *error = "--offset and --length apply to get only";
    return error->empty();
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
  stat PATH... [--json]      show files or folders, one PATH after the other in
                             one connection (--json: one object per line)
  get REMOTE [LOCAL|-]       download to LOCAL (default: the remote name in the
                             current folder; a folder takes the remote name;
                             '-' or /dev/stdout writes to standard output; a
                             device, FIFO or symbolic link is written through)
      --offset N             first byte to fetch (default 0)
      --length N             bytes to fetch (default: to the end of the file)
  put LOCAL [REMOTE]         upload a local file; REMOTE is a folder to put it
                             in (default: the root) or the new file's path
  mv FROM TO                 move or rename; TO may be an existing folder.
                             Never replaces a non-empty folder, and replaces
                             an existing file only with:
      -f, --force            replace an existing file at TO
  rm PATH                    delete a file (never a folder: use rmdir)
  mkdir PATH                 create a folder
  rmdir PATH [-r]            delete an empty folder; -r deletes its contents too

)" + ConnectionHelp() +
           R"(
Other options:
  --no-progress              no progress bar (it only appears when stderr is a terminal)
  -h, --help                 this text
  --version                  versions of davctl and of the plug-in

Numbers are digits, optionally followed by K, M or G (powers of 1024).

Every failure prints one line on stderr:
  davctl: <what was attempted>: <result name>[: <server's or system's message>]

Exit status:
  0    success
  1    usage error (bad command, operand or option)
  2    the plug-in could not be loaded or gave no protocol object
  3    the operation failed, or was refused to keep data safe
  4    access denied (wrong or missing credentials, no permission)
  5    not found (the remote file or folder does not exist)
  6    local file error (cannot read the upload or write the download)
  130  interrupted (Ctrl-C); a partial download is removed
)";
}
