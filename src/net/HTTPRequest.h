#pragma once
// One HTTP transfer on a worker thread of its own, reported back on the UI thread.
//
// Fire and forget: create, set up, start, and never touch the pointer again outside the callback.
// The callback gets (kCCHTTPRequestStateRunning, request) at every tick while the transfer runs, then
// once (kCCHTTPRequestStateCompleted or kCCHTTPRequestStateFailed, request); right after that call
// the request deletes itself. A request that is never started is never freed by the system: its
// creator deletes it. The worker thread belongs to the request and is joined when the request is
// deleted; requests in flight are counted and can all be stopped at once (cancelAll).

#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace veltrano {

enum HTTPRequestState {
    kCCHTTPRequestStateIdle = 0,
    kCCHTTPRequestStateRunning = 2,
    kCCHTTPRequestStateCompleted = 3,  // libcurl result 0, whatever the HTTP status
    kCCHTTPRequestStateFailed = 5,     // any other libcurl result
};

enum HTTPRequestMethod {
    kCCHTTPRequestMethodGet = 0,
    kCCHTTPRequestMethodPost = 1,
};

class HTTPRequest;
using HTTPRequestCallback = std::function<void(int state, HTTPRequest* request)>;
// Worker thread: sees the status and Content-Range ("" when absent) of every response head before
// its body (a followed redirect passes here too); false stops the transfer, which then fails.
using HTTPResponseCheck = std::function<bool(long code, const std::string& contentRange)>;
// Worker thread: takes body bytes; returning less than n stops the transfer, which then fails.
using HTTPBodySink = std::function<size_t(const char* data, size_t n)>;

class HTTPRequest {
public:
    // Never null. TLS peers are verified unless "tls_verify" is false; "ca_file" adds a trusted bundle.
    static HTTPRequest* create(const HTTPRequestCallback& callback, const std::string& url, int method);

    virtual ~HTTPRequest();
    HTTPRequest(const HTTPRequest&) = delete;
    HTTPRequest& operator=(const HTTPRequest&) = delete;

    void setTimeout(int seconds);
    void setConnectTimeout(int seconds);
    // A complete header line, sent unchanged.
    void addHeader(const char* line);
    // A null value is stored as "". Setting a name again replaces its value.
    void setPostField(const char* name, const char* value);
    // Caps the body kept in memory: a longer body fails the transfer (CURLE_WRITE_ERROR) with a
    // message that says so. 0, the default, keeps any size.
    void setMaxBodySize(size_t bytes) { maxBodySize_ = bytes; }
    // Opens path for appending (created when missing); the body goes there instead of to memory.
    bool setOutputFile(const std::string& path);
    // The body goes to sink instead of a file or memory. Set before start.
    void setBodySink(HTTPBodySink sink) { sink_ = std::move(sink); }
    void setResponseCheck(HTTPResponseCheck check) { check_ = std::move(check); }
    // Always true.
    bool start();
    // Asks a running transfer to stop soon; it then ends as failed (CURLE_ABORTED_BY_CALLBACK). Only
    // from the UI thread, while the request has not been delivered yet.
    void cancel() { cancelled_.store(true, std::memory_order_relaxed); }
    // Stops every started request that has not been deleted yet; any thread.
    static void cancelAll();
    // Started requests not deleted yet, that is not delivered by the Scheduler yet.
    static size_t liveCount();

    long getResponseCode() const { return responseCode_; }
    // The in-memory body up to its first 0 byte.
    std::string getResponseData() const;
    int getErrorCode() const { return errorCode_; }
    std::string getErrorMessage() const { return errorMessage_; }
    // Whether the body went to the output file; false when it was kept in memory.
    bool wroteToFile() const { return writesToFile_; }
    int getState() const { return state_.load(std::memory_order_acquire); }

    // Called by the Scheduler on the UI thread.
    virtual void update(float dt);

    // The post body: every field in name order as escaped name "=" escaped value "&".
    static std::string encodePostFields(CURL* handle, const std::map<std::string, std::string>& fields);

    // Byte counts of this transfer's last progress call; readable while it runs.
    std::atomic<double> m_dltotal{0}, m_dlnow{0}, m_ultotal{0}, m_ulnow{0};

private:
    HTTPRequest() = default;
    void run();

    static size_t writeToFile(char* data, size_t size, size_t count, void* user);
    static size_t appendToBuffer(char* data, size_t size, size_t count, void* user);
    static size_t toSink(char* data, size_t size, size_t count, void* user);
    static size_t onHeader(char* data, size_t size, size_t count, void* user);
    static int onProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                          curl_off_t ulnow);

    HTTPRequestCallback callback_;
    CURL* handle_ = nullptr;
    std::atomic<int> state_{kCCHTTPRequestStateIdle};
    std::atomic<bool> cancelled_{false};
    int errorCode_ = 0;
    std::string errorMessage_;
    std::map<std::string, std::string> postFields_;
    std::vector<std::string> headerLines_;
    FILE* outputFile_ = nullptr;
    HTTPBodySink sink_;
    HTTPResponseCheck check_;
    std::string contentRange_;  // of the response whose headers are arriving
    std::thread worker_;
    bool writesToFile_ = false;
    int schedulerId_ = -1;
    long responseCode_ = 0;
    char* buffer_ = nullptr;
    size_t capacity_ = 0;
    size_t length_ = 0;
    size_t maxBodySize_ = 0;
    bool bodyTooLarge_ = false;
};

}  // namespace veltrano
