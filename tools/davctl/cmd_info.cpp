// test, ls and stat: the read-only commands.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "commands.h"
#include "json_entry.h"

namespace {

// Names come from the server: keep terminal control characters out of human-readable output.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
    return out;
}

char KindLetter(const _FS_FILE& file) {
    if (IsFolder(file)) return 'd';
    if ((file.attributes & FA_FILE) != FA_NONE) return '-';
    return '?';
}

// "2024-03-01T12:30:05.000Z" as "2024-03-01 12:30:05"; other texts as they are.
std::string ShortTime(const std::string& rfc3339) {
    if (rfc3339.empty()) return "-";
    if (rfc3339.size() < 19 || rfc3339[10] != 'T' || rfc3339.back() != 'Z') return rfc3339;
    std::string shown = rfc3339.substr(0, 19);
    shown[10] = ' ';
    return shown;
}

void PrintLong(const _FS_FILE& file, const std::string& name) {
    printf("%c %14lld  %-19s  %s\n", KindLetter(file), static_cast<long long>(file.size),
           Printable(ShortTime(file.modifiedTime)).c_str(), Printable(name).c_str());
}

void PrintEntries(const Context& c, const std::vector<_FS_FILE>& files) {
    if (c.options.json) {
        std::string out = "[";
        for (size_t i = 0; i < files.size(); ++i) out += (i ? ",\n " : "") + JsonEntry(files[i]);
        printf("%s]\n", out.c_str());
        return;
    }
    for (auto& file : files) {
        if (c.options.longForm)
            PrintLong(file, file.name);
        else
            printf("%s%s\n", Printable(file.name).c_str(), IsFolder(file) ? "/" : "");
    }
}

}  // namespace

int RunLs(Context& c) {
    std::string path = RemotePath(c.options.args.empty() ? "" : c.options.args[0]);
    std::string action = "list " + Shown(path);
    CollectingList list;
    Outcome outcome = ListFolder(c.dav, path, &list);
    if (!outcome.ok()) return Report(action, outcome);
    if (list.files.empty() && !path.empty()) {
        // An empty answer is an empty folder, or a plain file, which lists as itself.
        _FS_FILE file;
        Outcome stat = StatExact(c.dav, path, &file);
        if (!stat.ok()) return Report(action, stat);
        if (!IsFolder(file)) list.files.push_back(file);
    }
    std::sort(list.files.begin(), list.files.end(),
              [](const _FS_FILE& a, const _FS_FILE& b) { return a.name < b.name; });
    PrintEntries(c, list.files);
    return EXIT_OK;
}

// Several paths share one connection: what a host does when it looks at many files.
int RunStat(Context& c) {
    int status = EXIT_OK;
    for (size_t i = 0; i < c.options.args.size(); ++i) {
        std::string path = RemotePath(c.options.args[i]);
        _FS_FILE file;
        Outcome outcome = StatExact(c.dav, path, &file);
        if (!outcome.ok()) {
            int failed = Report("stat " + Shown(path), outcome);
            if (status == EXIT_OK) status = failed;
            continue;
        }
        if (c.options.json) {
            printf("%s\n", JsonEntry(file).c_str());
            continue;
        }
        if (i > 0) printf("\n");
        printf("path:     %s\n", Printable(Shown(file.id)).c_str());
        printf("name:     %s\n", Printable(file.name).c_str());
        printf("type:     %s\n", KindName(file));
        printf("size:     %lld\n", static_cast<long long>(file.size));
        printf("modified: %s\n", Printable(file.modifiedTime).c_str());
        printf("created:  %s\n", Printable(file.creationTime).c_str());
        printf("accessed: %s\n", Printable(file.accessTime).c_str());
    }
    return status;
}
