// The request object every operation uses: CURLImpl plus logging.
#pragma once

#include <string>

#include "curlimpl.h"

class CURLLogger : public CURLImpl {
public:
    CURLLogger();
    ~CURLLogger() override;

    void InstallLogger();
    _CURLRTN PerformGet(void* writeFunction, void* writeData) override;
    _CURLRTN PerformPost(std::string body) override;
    _CURLRTN PerformPost(void* readFunction, void* readData, long long size) override;
    std::string GetLastURL();

protected:
    explicit CURLLogger(NoHandle tag);  // see CURLImpl(NoHandle)

private:
    std::string DisplayURL();
    void BeforePerform();  // display URL, trace switch, last_url
    std::string last_url;
};

int CURLDebug(CURL* handle, curl_infotype type, char* data, size_t size, void* userptr);
