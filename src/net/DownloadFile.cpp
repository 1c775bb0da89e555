#include "net/DownloadFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/Log.h"
#include "net/HTTPRequest.h"
#include "net/Scheduler.h"
#include "platform/File.h"

namespace veltrano {

namespace {

constexpr size_t kJoinBufferSize = 1 << 20;

bool regularFileSize(const std::string& path, uint64_t* size) {
    PathInfo info;
    if (!pathInfo(path, &info) || !info.regular) return false;
    *size = info.size;
    return true;
}

bool pathExists(const std::string& path) {
    return pathInfo(path, nullptr, false);
}

uint64_t firstByte(const DownloadSegment& s) {
    return s.end + 1 - s.length;
}

}  // namespace

DownloadFile* DownloadFile::create(const DownloadFileCallback& callback, const std::string& url,
                                   const std::string& savePath, uint64_t totalSize, unsigned segmentCount) {
    auto* task = new DownloadFile();
    task->callback_ = callback;
    task->url_ = url;
    task->savePath_ = savePath;
    task->totalSize_ = totalSize;
    uint64_t count = segmentCount == 0 ? 1 : segmentCount;
    uint64_t chunk = totalSize / count + (totalSize % count != 0 ? 1 : 0);
    for (uint64_t i = 0; i < count && chunk > 0; ++i) {
        uint64_t start = i * chunk;
        if (start >= totalSize) break;
        DownloadSegment s;
        s.url = url;
        s.tmpPath = savePath + ".tmp" + std::to_string(i);
        s.start = start;
        s.end = std::min(start + chunk - 1, totalSize - 1);
        s.length = s.end - s.start + 1;
        s.index = static_cast<int>(i);
        task->segments_.push_back(s);
    }
    task->running_.assign(task->segments_.size(), nullptr);
    return task;
}

DownloadFile::~DownloadFile() = default;

void DownloadFile::start() {
    if (self_ || finished_) return;
    self_ = std::shared_ptr<DownloadFile>(this);
    auto keep = self_;  // a task with nothing to fetch finishes (and lets go of itself) right here
    if (segments_.empty()) {
        joinSegments();
        return;
    }
    for (size_t i = 0; i < segments_.size() && !finished_; ++i) startSegment(i);
}

void DownloadFile::startSegment(size_t index) {
    DownloadSegment& seg = segments_[index];
    uint64_t first = firstByte(seg);
    uint64_t present = 0;
    uint64_t size = 0;
    if (regularFileSize(seg.tmpPath, &size)) {
        if (first + size > seg.end) {
            // Longer than the range, or already whole: nothing says which plan wrote it.
            deleteFile(seg.tmpPath);
        } else {
            present = size;  // also resumes a piece that lacks only its last byte
        }
    }
    seg.start = first + present;
    seg.downloaded = present;

    std::shared_ptr<DownloadFile> self = self_;
    HTTPRequest* request = HTTPRequest::create(
        [self, index, present](int state, HTTPRequest* r) { self->onRequestEvent(index, present, state, r); },
        url_, kCCHTTPRequestMethodGet);
    std::string range = "RANGE:bytes=" + std::to_string(seg.start) + "-" + std::to_string(seg.end);
    request->addHeader(range.c_str());
    request->setConnectTimeout(3);
    request->setTimeout(5000);
    if (!request->setOutputFile(seg.tmpPath)) {
        // Without its file the range would land in memory; count the attempt as failed at the next tick
        // instead of transferring it.
        writeLog("cannot open %s for writing: %s", seg.tmpPath.c_str(), std::strerror(errno));
        delete request;
        auto id = std::make_shared<int>(-1);
        *id = Scheduler::instance()->schedule([self, index, id](float) {
            Scheduler::instance()->unschedule(*id);
            if (!self->finished_ && !self->givingUp_) self->failAttempt(index);
        });
        return;
    }
    running_[index] = request;
    request->start();
}

bool DownloadFile::arrived(const DownloadSegment& seg, uint64_t present, HTTPRequest* request) const {
    long code = request->getResponseCode();
    if (!request->wroteToFile()) return false;
    if (code != 206 && code != 200) return false;
    // A 200 carries the file from its first byte: it fits only a range asked for from byte 0.
    if (code == 200 && firstByte(seg) + present != 0) return false;
    uint64_t size = 0;
    return regularFileSize(seg.tmpPath, &size) && size == seg.length;
}

void DownloadFile::onRequestEvent(size_t index, uint64_t present, int state, HTTPRequest* request) {
    DownloadSegment& seg = segments_[index];
    if (state != kCCHTTPRequestStateRunning) running_[index] = nullptr;
    if (finished_) return;
    if (givingUp_) {
        // Whatever this transfer left in its piece stays there for a later run to resume.
        if (state != kCCHTTPRequestStateRunning &&
            std::none_of(running_.begin(), running_.end(), [](HTTPRequest* r) { return r != nullptr; }))
            finish(kDownloadFileFailed);
        return;
    }
    if (state == kCCHTTPRequestStateRunning) {
        double now = request->m_dlnow.load(std::memory_order_relaxed);
        uint64_t got = present + (now > 0 ? static_cast<uint64_t>(now) : 0);
        seg.downloaded = std::min(got, seg.length);
        uint64_t total = 0;
        for (const auto& s : segments_) total += s.downloaded;
        downloadedTotal_ = total;
        if (callback_) callback_(kDownloadFileProgress, this);
        return;
    }
    if (state == kCCHTTPRequestStateCompleted && arrived(seg, present, request)) {
        seg.done = true;
        seg.downloaded = seg.length;
        for (const auto& s : segments_)
            if (!s.done) return;
        joinSegments();
        return;
    }
    if (state == kCCHTTPRequestStateFailed) {
        writeLog("download range %d of %s failed: %s", seg.index, url_.c_str(),
                 request->getErrorMessage().c_str());
    } else {
        writeLog("download range %d of %s: answer %ld did not deliver bytes %llu-%llu", seg.index,
                 url_.c_str(), request->getResponseCode(), static_cast<unsigned long long>(seg.start),
                 static_cast<unsigned long long>(seg.end));
    }
    failAttempt(index);
}

void DownloadFile::failAttempt(size_t index) {
    DownloadSegment& seg = segments_[index];
    deleteFile(seg.tmpPath);
    seg.start = firstByte(seg);
    seg.downloaded = 0;
    ++seg.retries;
    if (seg.retries >= kMaxAttempts) {
        giveUp();
        return;
    }
    startSegment(index);
}

void DownloadFile::giveUp() {
    givingUp_ = true;
    bool anyRunning = false;
    for (HTTPRequest* r : running_) {
        if (!r) continue;
        r->cancel();
        anyRunning = true;
    }
    if (!anyRunning) finish(kDownloadFileFailed);
}

void DownloadFile::joinSegments() {
    bool ok = true;
    for (const auto& seg : segments_) {
        uint64_t size = 0;
        if (!regularFileSize(seg.tmpPath, &size) || size != seg.length) {
            writeLog("cannot join %s: piece %s is missing or has the wrong size", savePath_.c_str(),
                     seg.tmpPath.c_str());
            ok = false;
            break;
        }
    }
    if (ok && pathExists(savePath_) && !deleteFile(savePath_)) {
        writeLog("cannot replace %s: %s", savePath_.c_str(), std::strerror(errno));
        ok = false;
    }
    FILE* out = ok ? openFile(savePath_, "wb") : nullptr;
    if (ok && !out) {
        writeLog("cannot create %s: %s", savePath_.c_str(), std::strerror(errno));
        ok = false;
    }
    std::vector<char> buffer;
    if (ok) buffer.resize(kJoinBufferSize);
    for (size_t i = 0; ok && i < segments_.size(); ++i) {
        const DownloadSegment& seg = segments_[i];
        FILE* in = openFile(seg.tmpPath, "rb");
        if (!in) {
            writeLog("cannot read %s: %s", seg.tmpPath.c_str(), std::strerror(errno));
            ok = false;
            break;
        }
        uint64_t copied = 0;
        size_t n = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) {
            if (std::fwrite(buffer.data(), 1, n, out) != n) {
                writeLog("cannot write %s: %s", savePath_.c_str(), std::strerror(errno));
                ok = false;
                break;
            }
            copied += n;
        }
        if (ok && (std::ferror(in) || copied != seg.length)) {
            writeLog("cannot read %s whole", seg.tmpPath.c_str());
            ok = false;
        }
        std::fclose(in);
    }
    if (out && std::fclose(out) != 0 && ok) {
        writeLog("cannot finish writing %s: %s", savePath_.c_str(), std::strerror(errno));
        ok = false;
    }
    if (!ok) {
        // The pieces stay for a later run; a half-joined file must not pass for the download.
        if (out) deleteFile(savePath_);
        finish(kDownloadFileFailed);
        return;
    }
    for (const auto& seg : segments_) deleteFile(seg.tmpPath);
    finish(kDownloadFileCompleted);
}

void DownloadFile::finish(unsigned event) {
    if (finished_) return;
    finished_ = true;
    DownloadFileCallback callback = std::move(callback_);
    callback_ = nullptr;
    if (callback) callback(event, this);
    // Running requests of other ranges still hold the task; the last one to finish frees it.
    self_.reset();
}

}  // namespace veltrano
