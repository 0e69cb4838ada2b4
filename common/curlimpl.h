// One reusable HTTP request over one libcurl easy handle.
#pragma once

#include <curl/curl.h>

#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "../compiled/filesystem.h"
#include "callbacks.h"

class CURLImpl {
public:
    CURLImpl();
    virtual ~CURLImpl();
    CURLImpl(const CURLImpl&) = delete;
    CURLImpl& operator=(const CURLImpl&) = delete;

    virtual void Clear();
    virtual _CURLRTN PerformGet(void* writeFunction, void* writeData);
    virtual _CURLRTN PerformPost(std::string body);
    virtual _CURLRTN PerformPost(void* readFunction, void* readData, long long size);
    // How libcurl rewinds the body a caller's read callback supplies, when it must send
    // it again (a kept-alive connection found dead, a redirect, an authentication
    // round). Used by every post with a read callback and a known size until Clear();
    // data must stay valid for those posts. Without it such a body cannot be resent.
    void SetSeekFunction(curl_seek_callback fn, void* data);
    // Shows each piece of a post's answer body to fn as it arrives, with the status of
    // the response it belongs to, so a caller can work on the answer during the
    // transfer; once fn returns false it is shown nothing more (the rest of the answer is
    // still received, within the answer limit). The body is
    // also collected into the result unless keepBody is false. Until Clear().
    using BodyTap = bool (*)(long status, const char* data, size_t size, void* context);
    void SetBodyTap(BodyTap fn, void* context, bool keepBody = true);
    // Most bytes (headers and body) an answer kept in memory may have; a longer one ends
    // the perform with CURLE_FILESIZE_EXCEEDED. 0 or less: the default. Until Clear().
    void SetAnswerLimit(long long bytes);
    static constexpr long long kDefaultAnswerLimit = 256LL << 20;

    void* GetCURL();

    void SetURL(const char* url);
    std::string GetURL();
    void SetRequest(const char* method);
    std::string GetRequest();
    void SetPost(curl_httppost* form);

    // A null text value is ignored: an empty one would suppress the header.
    template <typename T>
    void AddHeader(const char* name, T value) {
        if (!IsNullText(value)) header[name] = Format(value);
    }
    template <typename T>
    void AddQuery(const char* name, T value) {
        if (!IsNullText(value)) query[name] = Format(value);
    }
    std::unordered_map<std::string, std::string> GetHeader();
    std::unordered_map<std::string, std::string> GetQuery();

    std::string BuildQueryString(bool escape);
    curl_slist* BuildHeader();  // caller frees with curl_slist_free_all; null when empty
    std::string Escape(const char* s);
    std::string Unescape(const char* s);

    // Caps both directions (0 or less: no cap). Also shrinks libcurl's receive buffer so
    // the limiter works in small bursts, and lengthens the stall window by the longest
    // pause the limiter can then impose; Clear() undoes both.
    void SetSpeedLimit(long long bytesPerSecond);
    // Stall window: seconds under 1 byte/s (both directions together) after which a
    // transfer is given up; a speed limit lengthens it by its own longest pause.
    void SetLowSpeedTimeout(long seconds);
    void SetSendBuffer();
    void SetPostFileSize(long long size);
    void BindHandle(std::shared_ptr<_FS_HANDLE> h);

    // Upload-progress binding; its address is the context libcurl hands to _CURL_PROGRESS.
    struct ProgressBinding {
        void (*fn)(long total, long now, void* context, double speed) = nullptr;
        void* context = nullptr;
        void* handle = nullptr;
    };

    static constexpr long kLowSpeedTime = 20;  // default stall window, seconds

protected:
    // Builds an object without an easy handle, as a failed curl_easy_init leaves
    // it; lets tests check that such an object never reaches the network.
    struct NoHandle {};
    explicit CURLImpl(NoHandle);

    std::shared_ptr<void> curl;
    curl_httppost* post = nullptr;
    ProgressBinding progress;
    std::unordered_map<std::string, std::string> query;
    std::unordered_map<std::string, std::string> header;
    std::string url;
    std::string request;
    long connect_timeout = 10;
    curl_seek_callback seekFunction = nullptr;
    void* seekData = nullptr;
    BodyTap bodyTap = nullptr;
    void* bodyTapContext = nullptr;
    bool keepTappedBody = true;
    long long answerLimit = kDefaultAnswerLimit;
    // Registered with libcurl by CURLLogger; lives as long as the object, so
    // it outlives every transfer of the handle.
    char errbuf[CURL_ERROR_SIZE] = {};

private:
    void ApplyDefaults();
    void ApplyStallWindow();
    // Builds the header list (kept alive in headers for the perform) and sets the
    // method, target URL and headers; false, with nothing set, when a header list
    // is wanted but cannot be built.
    bool ApplyTarget(const std::string& target, std::shared_ptr<curl_slist>& headers);

    long long speedLimit = 0;
    long lowSpeedTime = kLowSpeedTime;

    // The text a stream would make of value; text is taken as it stands,
    // which is what streaming it gives, without building a stream per call.
    template <typename T>
    static bool IsNullText(const T& value) {
        if constexpr (std::is_same_v<T, const char*> || std::is_same_v<T, char*>)
            return value == nullptr;
        return false;
    }
    template <typename T>
    static std::string Format(const T& value) {
        if constexpr (std::is_convertible_v<const T&, std::string_view>) {
            return std::string(std::string_view(value));
        } else {
            std::stringstream text;
            text << value;
            return text.str();
        }
    }
};
