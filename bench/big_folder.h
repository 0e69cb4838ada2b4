// A folder of many files served by a real lighttpd on loopback, and its
// PROPFIND answer, for the listing benchmarks.
#pragma once

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include "support/real_server.h"

// The plug-in's own request body.
inline const char* PropfindBody() {
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?><D:propfind xmlns:D=\"DAV:\"><D:prop>"
           "<D:resourcetype /><D:getcontentlength /><D:creationdate /><D:lastaccessed />"
           "<D:getlastmodified /></D:prop></D:propfind>";
}

class BigFolder {
public:
    // count files with distinct names, sizes and mtimes in the folder "/big".
    explicit BigFolder(int count) : server("lighttpd", Anonymous()) {
        if (!server.ok()) {
            error = server.error();
            return;
        }
        std::string folder = server.root() + "/big";
        mkdir(folder.c_str(), 0755);
        for (int i = 0; i < count; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "/file %05d ü#.txt", i);
            std::string path = folder + name;
            FILE* f = std::fopen(path.c_str(), "w");
            if (f == nullptr) {
                error = "cannot create " + path;
                return;
            }
            std::fprintf(f, "%d", i);
            std::fclose(f);
            timespec times[2] = {{1600000000 + i * 37, 0}, {1600000000 + i * 37, 0}};
            utimensat(AT_FDCWD, path.c_str(), times, 0);
        }
    }
    bool ok() const { return error.empty(); }
    std::string url() const { return server.url(); }  // ".../dav"; the folder is "/big"

    // The raw Depth 1 answer for "/big", fetched with bare libcurl.
    std::string Answer() {
        std::string body;
        CURL* curl = curl_easy_init();
        curl_slist* headers = curl_slist_append(nullptr, "Depth: 1");
        headers = curl_slist_append(headers, "Content-Type: text/xml");
        std::string target = server.url() + "/big";
        curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PROPFIND");
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, PropfindBody());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
        if (curl_easy_perform(curl) != CURLE_OK) body.clear();
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        return body;
    }

    std::string error;

private:
    static size_t Collect(char* data, size_t size, size_t count, void* to) {
        static_cast<std::string*>(to)->append(data, size * count);
        return size * count;
    }
    RealServer server;
};
