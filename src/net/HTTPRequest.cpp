#include "net/HTTPRequest.h"

#include <strings.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "config/LauncherConfig.h"
#include "net/Scheduler.h"
#include "platform/File.h"
#include "platform/FileUtils.h"
#include "platform/Process.h"

namespace veltrano {

namespace {

constexpr size_t kBufferStep = 32768;

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_ALL); });
}

std::string trustedBundle() {
    std::string file = LauncherConfig::instance()->ca_file();
    if (file.empty() || isSystemAbsolutePath(file)) return file;
    // Like every other file named in launcher.cfg, a relative name lives beside the launcher.
    FileUtils* fu = FileUtils::instance();
    return fu ? fu->launcherDirectory() + file : file;
}

// Started requests not deleted yet; the lock also keeps a listed request alive while it is cancelled.
std::mutex& liveMutex() {
    static std::mutex* m = new std::mutex();
    return *m;
}
std::set<HTTPRequest*>& liveRequests() {
    static auto* s = new std::set<HTTPRequest*>();
    return *s;
}

}  // namespace

void HTTPRequest::cancelAll() {
    std::lock_guard<std::mutex> lock(liveMutex());
    for (HTTPRequest* r : liveRequests()) r->cancel();
}

size_t HTTPRequest::liveCount() {
    std::lock_guard<std::mutex> lock(liveMutex());
    return liveRequests().size();
}

HTTPRequest* HTTPRequest::create(const HTTPRequestCallback& callback, const std::string& url, int method) {
    initCurlOnce();
    HTTPRequest* request = new HTTPRequest();
    request->callback_ = callback;
    CURL* h = curl_easy_init();
    request->handle_ = h;
    if (!h) return request;  // start reports the failure through the callback
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_USERAGENT, "libcurl");
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 3L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 512L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 5L);
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    // Bounded: a redirect loop would otherwise hold a download range until its 5000 s timeout.
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 30L);
    // The manifest and the archive decide what runs as the game: peers are verified by default.
    const LauncherConfig* config = LauncherConfig::instance();
    if (config->tls_verify()) {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
        std::string bundle = trustedBundle();
        if (!bundle.empty()) curl_easy_setopt(h, CURLOPT_CAINFO, bundle.c_str());
    } else {
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (method == kCCHTTPRequestMethodPost) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, "");
    }
    return request;
}

HTTPRequest::~HTTPRequest() {
    {
        std::lock_guard<std::mutex> lock(liveMutex());
        liveRequests().erase(this);
    }
    // The worker stored the final state as its last act; this only waits for the thread to end.
    if (worker_.joinable()) worker_.join();
    if (outputFile_) std::fclose(outputFile_);
    std::free(buffer_);
    if (handle_) curl_easy_cleanup(handle_);
    if (schedulerId_ >= 0) Scheduler::instance()->unschedule(schedulerId_);
}

void HTTPRequest::setTimeout(int seconds) {
    if (handle_) curl_easy_setopt(handle_, CURLOPT_TIMEOUT, static_cast<long>(seconds));
}

void HTTPRequest::setConnectTimeout(int seconds) {
    if (handle_) curl_easy_setopt(handle_, CURLOPT_CONNECTTIMEOUT, static_cast<long>(seconds));
}

void HTTPRequest::addHeader(const char* line) {
    if (line) headerLines_.emplace_back(line);
}

void HTTPRequest::setPostField(const char* name, const char* value) {
    if (name) postFields_[name] = value ? value : "";
}

bool HTTPRequest::setOutputFile(const std::string& path) {
    if (outputFile_) {
        std::fclose(outputFile_);
        outputFile_ = nullptr;
    }
    outputFile_ = openFile(path, "ab");
    return outputFile_ != nullptr;
}

bool HTTPRequest::start() {
    state_.store(kCCHTTPRequestStateRunning, std::memory_order_relaxed);
    writesToFile_ = outputFile_ != nullptr && !sink_;
    if (handle_) {
        curl_easy_setopt(handle_, CURLOPT_HTTP_CONTENT_DECODING, 1L);
        if (sink_) {
            curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &HTTPRequest::toSink);
            curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
            // Larger pieces per call: fewer writes into a sink that parallel transfers may share.
            curl_easy_setopt(handle_, CURLOPT_BUFFERSIZE, 256L << 10);
        } else if (writesToFile_) {
            curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &HTTPRequest::writeToFile);
            curl_easy_setopt(handle_, CURLOPT_WRITEDATA, outputFile_);
        } else {
            curl_easy_setopt(handle_, CURLOPT_WRITEFUNCTION, &HTTPRequest::appendToBuffer);
            curl_easy_setopt(handle_, CURLOPT_WRITEDATA, this);
        }
        curl_easy_setopt(handle_, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle_, CURLOPT_XFERINFOFUNCTION, &HTTPRequest::onProgress);
        curl_easy_setopt(handle_, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(handle_, CURLOPT_COOKIEFILE, "");
        if (check_) {
            curl_easy_setopt(handle_, CURLOPT_HEADERFUNCTION, &HTTPRequest::onHeader);
            curl_easy_setopt(handle_, CURLOPT_HEADERDATA, this);
        }
    }
    {
        std::lock_guard<std::mutex> lock(liveMutex());
        liveRequests().insert(this);
    }
    // Registered before the worker exists, so the id is set before anything can deliver the request.
    schedulerId_ = Scheduler::instance()->schedule([this](float dt) { update(dt); });
    // The transfer waits until worker_ is stored: a request started on another thread than the UI
    // thread could otherwise be delivered and deleted while this line still writes to it.
    // A mutex, not an atomic wait: the runtime of the Windows build can lose the wake-up of an atomic
    // wait, and the transfer would never begin.
    auto gate = std::make_shared<std::mutex>();
    std::unique_lock<std::mutex> hold(*gate);
    try {
        worker_ = std::thread([this, gate] {
            { std::lock_guard<std::mutex> passed(*gate); }
            run();
        });
        hold.unlock();
    } catch (const std::system_error&) {
        if (handle_) {
            curl_easy_cleanup(handle_);
            handle_ = nullptr;
        }
        errorCode_ = CURLE_FAILED_INIT;
        errorMessage_ = "cannot start a worker thread";
        state_.store(kCCHTTPRequestStateFailed, std::memory_order_release);
    }
    return true;
}

std::string HTTPRequest::encodePostFields(CURL* handle, const std::map<std::string, std::string>& fields) {
    std::string body;
    for (const auto& [name, value] : fields) {
        char* n = curl_easy_escape(handle, name.c_str(), 0);
        char* v = curl_easy_escape(handle, value.c_str(), 0);
        if (n) body += n;
        body += "=";
        if (v) body += v;
        body += "&";
        curl_free(n);
        curl_free(v);
    }
    return body;
}

void HTTPRequest::run() {
    // Transfers are background work: the window's thread comes first.
    lowerCurrentThreadPriority();
    CURL* h = handle_;
    if (!h) {
        errorCode_ = CURLE_FAILED_INIT;
        errorMessage_ = curl_easy_strerror(CURLE_FAILED_INIT);
        state_.store(kCCHTTPRequestStateFailed, std::memory_order_release);
        return;
    }
    if (!postFields_.empty()) {
        curl_easy_setopt(h, CURLOPT_POST, 1L);
        std::string body = encodePostFields(h, postFields_);
        curl_easy_setopt(h, CURLOPT_COPYPOSTFIELDS, body.c_str());
    }
    curl_slist* headers = nullptr;
    for (const auto& line : headerLines_) {
        curl_slist* grown = curl_slist_append(headers, line.c_str());
        if (grown) headers = grown;
    }
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

    CURLcode result = curl_easy_perform(h);
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    responseCode_ = code;
    curl_easy_cleanup(h);
    handle_ = nullptr;
    curl_slist_free_all(headers);
    errorCode_ = static_cast<int>(result);
    errorMessage_ = result == CURLE_OK ? "" : curl_easy_strerror(result);
    if (bodyTooLarge_)
        errorMessage_ =
            "response body larger than " + std::to_string(maxBodySize_) + " bytes, transfer stopped";
    // The UI thread may delete the request as soon as it sees this store: nothing touches it afterwards.
    state_.store(result == CURLE_OK ? kCCHTTPRequestStateCompleted : kCCHTTPRequestStateFailed,
                 std::memory_order_release);
}

size_t HTTPRequest::writeToFile(char* data, size_t size, size_t count, void* user) {
    return std::fwrite(data, size, count, static_cast<FILE*>(user)) * size;
}

size_t HTTPRequest::toSink(char* data, size_t size, size_t count, void* user) {
    return static_cast<HTTPRequest*>(user)->sink_(data, size * count);
}

size_t HTTPRequest::onHeader(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<HTTPRequest*>(user);
    const size_t n = size * count;
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        self->contentRange_.clear();
    } else if (line.empty()) {
        long code = 0;
        curl_easy_getinfo(self->handle_, CURLINFO_RESPONSE_CODE, &code);
        if (code >= 200 && !self->check_(code, self->contentRange_)) return 0;
    } else if (strncasecmp(line.c_str(), "Content-Range:", 14) == 0) {
        size_t from = line.find_first_not_of(" \t", 14);
        self->contentRange_ = from == std::string::npos ? "" : line.substr(from);
    }
    return n;
}

size_t HTTPRequest::appendToBuffer(char* data, size_t size, size_t count, void* user) {
    auto* self = static_cast<HTTPRequest*>(user);
    size_t n = size * count;
    if (self->maxBodySize_ > 0 && n > self->maxBodySize_ - self->length_) {
        self->bodyTooLarge_ = true;
        return 0;  // libcurl stops with a write error
    }
    if (self->length_ + n + 1 > self->capacity_) {
        size_t capacity = self->capacity_;
        while (self->length_ + n + 1 > capacity) capacity += kBufferStep;
        char* grown = static_cast<char*>(std::realloc(self->buffer_, capacity));
        if (!grown) return 0;  // libcurl stops with a write error
        self->buffer_ = grown;
        self->capacity_ = capacity;
    }
    std::memcpy(self->buffer_ + self->length_, data, n);
    self->length_ += n;
    self->buffer_[self->length_] = 0;
    return n;
}

int HTTPRequest::onProgress(void* user, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                            curl_off_t ulnow) {
    auto* self = static_cast<HTTPRequest*>(user);
    self->m_dltotal.store(static_cast<double>(dltotal), std::memory_order_relaxed);
    self->m_dlnow.store(static_cast<double>(dlnow), std::memory_order_relaxed);
    self->m_ultotal.store(static_cast<double>(ultotal), std::memory_order_relaxed);
    self->m_ulnow.store(static_cast<double>(ulnow), std::memory_order_relaxed);
    return self->cancelled_.load(std::memory_order_relaxed) ? 1 : 0;
}

std::string HTTPRequest::getResponseData() const {
    return buffer_ ? std::string(buffer_) : std::string();
}

void HTTPRequest::update(float) {
    int state = state_.load(std::memory_order_acquire);
    if (state == kCCHTTPRequestStateRunning) {
        if (callback_) callback_(kCCHTTPRequestStateRunning, this);
        return;
    }
    if (outputFile_) {
        std::fclose(outputFile_);
        outputFile_ = nullptr;
    }
    Scheduler::instance()->unschedule(schedulerId_);
    schedulerId_ = -1;
    if (callback_) callback_(state, this);
    delete this;
}

}  // namespace veltrano
