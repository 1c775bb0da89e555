#include "net/DownloadFile.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>

#include "config/Log.h"
#include "net/HTTPRequest.h"
#include "net/Scheduler.h"
#include "platform/File.h"
#include "platform/PositionalFile.h"
#include "platform/Process.h"
#include "util/Encoding.h"

namespace veltrano {

namespace {

constexpr size_t kHashChunk = 1 << 20;
// How far a transfer runs ahead of its line in the record: a killed run fetches at most this much
// of each range again.
constexpr uint64_t kRecordStep = 256 << 10;
// The archive is started on its way to the disk in steps of this size as it arrives, so that the
// flush before the new game is used does not find it all still to write.
constexpr uint64_t kWriteOutStep = 8 << 20;
constexpr size_t kSlotDigits = 20;
// Pieces of the earlier layout (one file per range) are removed; the manifest allows 64 ranges.
constexpr int kLegacyPieces = 64;

enum Verdict : int { kFine = 0, kWrongAnswer, kRangeIgnored, kTooLong, kWriteError };

std::string slotText(uint64_t value) {
    char text[kSlotDigits + 1];
    std::snprintf(text, sizeof text, "%020" PRIu64, value);
    return std::string(text, kSlotDigits);
}

std::string baseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool readSmallFile(const std::string& path, size_t limit, std::string* out) {
    FILE* f = openFile(path, "rb");
    if (!f) return false;
    out->assign(limit + 1, '\0');
    size_t n = std::fread(out->data(), 1, out->size(), f);
    bool ok = !std::ferror(f) && n <= limit;
    std::fclose(f);
    out->resize(n);
    return ok;
}

}  // namespace

// What the worker, the transfers and the UI thread share. The plan fields are fixed at create.
struct DownloadFile::Shared {
    std::string savePath;
    uint64_t total = 0;
    std::vector<uint64_t> first, length;
    std::string planText;                           // the record with every count 0
    std::vector<size_t> slotOffset;                 // where each range's count sits in the record
    std::unique_ptr<std::atomic<uint64_t>[]> have;  // bytes on disk from each range's first byte

    PositionalFile data, record;
    std::atomic<uint64_t> signal{0};    // bumped on every change the worker waits for
    std::atomic<uint64_t> hashed{0};    // bytes of the prefix the digest has taken
    std::atomic<uint64_t> rehash{0};    // bumped when bytes the digest took are written again
    std::atomic<uint64_t> rewrites{0};  // bumped when any bytes that were in the file are written again
    std::atomic<bool> stop{false};
    std::atomic<bool> arrived{false};
    std::atomic<int> prepared{0};  // 1 ready, -1 failed; the worker's store publishes have and files
    std::atomic<int> outcome{0};   // 1 completed, -1 failed; the store publishes digest
    std::string digest;

    // A condition variable, not an atomic wait: the runtime of the Windows build can lose the wake-up
    // of an atomic wait.
    std::mutex signalMutex;
    std::condition_variable signalChanged;
    void wake() {
        {
            std::lock_guard<std::mutex> lock(signalMutex);
            signal.fetch_add(1, std::memory_order_release);
        }
        signalChanged.notify_all();
    }

    // End of the bytes present from byte 0 on.
    uint64_t prefixEnd() const {
        for (size_t r = 0; r < first.size(); ++r) {
            uint64_t h = have[r].load(std::memory_order_acquire);
            if (h < length[r]) return first[r] + h;
        }
        return total;
    }

    // Writes a range's count into the record. A count never runs ahead of the bytes written.
    void note(size_t r) {
        std::string text = slotText(have[r].load(std::memory_order_acquire));
        record.writeAt(text.data(), text.size(), slotOffset[r]);
    }

    // Raises have[r] to value unless it is already higher.
    void raise(size_t r, uint64_t value) {
        uint64_t seen = have[r].load(std::memory_order_relaxed);
        while (seen < value && !have[r].compare_exchange_weak(seen, value, std::memory_order_release)) {
        }
    }

    bool prepare();
    void run();
    bool finalize();
};

// One request's way into the file: bytes from..to (inclusive), the range it starts in.
struct DownloadFile::Transfer {
    std::shared_ptr<Shared> shared;
    uint64_t from = 0, to = 0;
    size_t range = 0;  // range holding the next byte (worker side)
    bool whole = false;
    std::atomic<uint64_t> pos{0};
    std::atomic<bool> stop{false};
    std::atomic<bool> approved{false};
    std::atomic<int> verdict{kFine};
    int writeErrno = 0;
    uint64_t notedAt = 0;
    uint64_t writtenOutAt = 0;

    bool check(long code, const std::string& contentRange) {
        if (code >= 300 && code < 400) return true;  // a redirect hop; a final one brings no approved body
        if (code == 206) {
            unsigned long long a = 0;
            if (std::sscanf(contentRange.c_str(), "bytes %llu-", &a) == 1 && a == from) {
                approved.store(true, std::memory_order_relaxed);
                return true;
            }
        } else if (code == 200) {
            // The whole file from byte 0: right only when that is what was asked for.
            if (from == 0 && to + 1 == shared->total) {
                approved.store(true, std::memory_order_relaxed);
                return true;
            }
            verdict.store(kRangeIgnored, std::memory_order_relaxed);
            return false;
        }
        verdict.store(kWrongAnswer, std::memory_order_relaxed);
        return false;
    }

    size_t write(const char* bytes, size_t n) {
        if (stop.load(std::memory_order_relaxed)) return 0;
        if (!approved.load(std::memory_order_relaxed)) {
            verdict.store(kWrongAnswer, std::memory_order_relaxed);
            return 0;
        }
        uint64_t p = pos.load(std::memory_order_relaxed);
        if (p + n > to + 1) {
            verdict.store(kTooLong, std::memory_order_relaxed);
            return 0;
        }
        if (!shared->data.writeAt(bytes, n, p)) {
            writeErrno = errno;
            verdict.store(kWriteError, std::memory_order_relaxed);
            return 0;
        }
        p += n;
        pos.store(p, std::memory_order_release);
        const size_t before = range;
        while (range < shared->first.size() && shared->first[range] < p) {
            shared->raise(range, std::min(p - shared->first[range], shared->length[range]));
            if (p < shared->first[range] + shared->length[range]) break;
            ++range;
        }
        if (p - notedAt >= kRecordStep || range != before) {
            for (size_t r = before; r <= range && r < shared->first.size() && shared->first[r] < p; ++r)
                shared->note(r);
            notedAt = p;
        }
        if (p - writtenOutAt >= kWriteOutStep || p == to + 1) {
            shared->data.startWriteOut(writtenOutAt, p - writtenOutAt);
            writtenOutAt = p;
        }
        shared->wake();
        return n;
    }
};

bool DownloadFile::Shared::prepare() {
    for (int i = 0; i < kLegacyPieces; ++i) deleteFile(savePath + ".tmp" + std::to_string(i));
    const std::string part = partPath(savePath), plan = planPath(savePath);
    std::string text;
    bool keep = readSmallFile(plan, planText.size(), &text) && text.size() == planText.size();
    std::vector<uint64_t> counts(first.size(), 0);
    for (size_t r = 0; keep && r < first.size(); ++r) {
        std::string digits = text.substr(slotOffset[r], kSlotDigits);
        keep = std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!keep) break;
        counts[r] = std::strtoull(digits.c_str(), nullptr, 10);
        keep = counts[r] <= length[r];
        text.replace(slotOffset[r], kSlotDigits, std::string(kSlotDigits, '0'));
    }
    keep = keep && text == planText;
    uint64_t size = 0;
    keep = keep && data.open(part, false) && data.size(&size) && size == total && record.open(plan, false);
    if (keep) {
        for (size_t r = 0; r < first.size(); ++r) have[r].store(counts[r], std::memory_order_relaxed);
        return true;
    }
    // Another plan, or none: start over. The record goes first, so that no record ever describes a
    // file it did not write.
    record.close();
    deleteFile(plan);
    for (size_t r = 0; r < first.size(); ++r) have[r].store(0, std::memory_order_relaxed);
    if (!data.open(part, true) || !data.reset(total)) {
        writeLog("cannot prepare %s for %" PRIu64 " bytes: %s", part.c_str(), total, data.error().c_str());
        return false;
    }
    if (!record.open(plan, true) || !record.reset(0) ||
        !record.writeAt(planText.data(), planText.size(), 0)) {
        writeLog("cannot write %s: %s", plan.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

void DownloadFile::Shared::run() {
    lowerCurrentThreadPriority();  // hashing is background work, as the transfers are
    if (!prepare()) {
        prepared.store(-1, std::memory_order_release);
        return;
    }
    prepared.store(1, std::memory_order_release);
    std::vector<unsigned char> buffer(kHashChunk);
    Md5Context ctx;
    md5Init(&ctx);
    uint64_t done = 0;
    uint64_t seenRehash = rehash.load(std::memory_order_acquire);
    while (!stop.load(std::memory_order_acquire)) {
        const uint64_t sig = signal.load(std::memory_order_acquire);
        if (uint64_t r = rehash.load(std::memory_order_acquire); r != seenRehash) {
            seenRehash = r;
            md5Init(&ctx);
            done = 0;
            hashed.store(0, std::memory_order_release);
        }
        const uint64_t end = prefixEnd();
        if (done < end) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(end - done, buffer.size()));
            long long got = data.readAt(buffer.data(), n, done);
            if (got <= 0) {
                writeLog("cannot read %s: %s", partPath(savePath).c_str(),
                         got < 0 ? std::strerror(errno) : "too short");
                outcome.store(-1, std::memory_order_release);
                return;
            }
            md5Append(&ctx, buffer.data(), static_cast<size_t>(got));
            done += static_cast<uint64_t>(got);
            hashed.store(done, std::memory_order_release);
            continue;
        }
        if (done == total && arrived.load(std::memory_order_acquire)) {
            unsigned char d[16];
            md5Finish(&ctx, d);
            digest = md5DigestHex(d);
            outcome.store(finalize() ? 1 : -1, std::memory_order_release);
            return;
        }
        std::unique_lock<std::mutex> lock(signalMutex);
        signalChanged.wait(lock, [&] { return signal.load(std::memory_order_acquire) != sig; });
    }
}

bool DownloadFile::Shared::finalize() {
    const std::string part = partPath(savePath), plan = planPath(savePath);
    data.close();
    record.close();
    // rename replaces an older file at the save path in one step.
    if (!replaceFile(part, savePath)) {
        writeLog("cannot move %s to %s: %s", part.c_str(), savePath.c_str(), std::strerror(errno));
        return false;
    }
    deleteFile(plan);
    return true;
}

DownloadFile* DownloadFile::create(const DownloadFileCallback& callback, const std::string& url,
                                   const std::string& savePath, uint64_t totalSize, unsigned segmentCount,
                                   const std::string& md5) {
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
        s.start = start;
        s.end = std::min(start + chunk - 1, totalSize - 1);
        s.length = s.end - s.start + 1;
        s.index = static_cast<int>(i);
        task->segments_.push_back(s);
    }
    auto shared = std::make_shared<Shared>();
    shared->savePath = savePath;
    shared->total = totalSize;
    std::string digest = md5;
    for (char& c : digest) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string& plan = shared->planText;
    plan = "veltrano download plan 1\nname " + baseName(savePath) + "\nsize " + std::to_string(totalSize) +
           "\nmd5 " + (digest.empty() ? "-" : digest) + "\nranges " + std::to_string(task->segments_.size()) +
           "\n";
    shared->have = std::make_unique<std::atomic<uint64_t>[]>(task->segments_.size());
    for (const auto& s : task->segments_) {
        shared->first.push_back(s.start);
        shared->length.push_back(s.length);
        plan +=
            std::to_string(s.index) + " " + std::to_string(s.start) + "-" + std::to_string(s.end) + " have ";
        shared->slotOffset.push_back(plan.size());
        plan += slotText(0) + "\n";
    }
    task->shared_ = std::move(shared);
    task->running_.assign(task->segments_.size(), nullptr);
    task->transfers_.assign(task->segments_.size(), nullptr);
    return task;
}

std::shared_ptr<const DownloadFile::Arrived> DownloadFile::arrived() const {
    return std::make_shared<const Arrived>(shared_);
}

std::string DownloadFile::Arrived::partPath() const {
    return DownloadFile::partPath(shared_->savePath);
}

int DownloadFile::Arrived::prepared() const {
    return shared_->prepared.load(std::memory_order_acquire);
}

bool DownloadFile::Arrived::has(uint64_t from, uint64_t to) const {
    const Shared& s = *shared_;
    if (to > s.total) return false;
    for (size_t r = 0; r < s.first.size() && s.first[r] < to; ++r) {
        const uint64_t end = s.first[r] + s.length[r];
        if (end <= from) continue;
        if (s.first[r] + s.have[r].load(std::memory_order_acquire) < std::min(end, to)) return false;
    }
    return true;
}

uint64_t DownloadFile::Arrived::rewrites() const {
    return shared_->rewrites.load(std::memory_order_acquire);
}

std::vector<uint64_t> DownloadFile::recordedCounts(const std::string& savePath) {
    std::vector<uint64_t> counts;
    std::string text;
    if (!readSmallFile(planPath(savePath), 1 << 16, &text)) return counts;
    size_t at = 0;
    while (at < text.size()) {
        size_t nl = text.find('\n', at);
        std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        unsigned long long count = 0;
        if (std::sscanf(line.c_str(), "%*u %*u-%*u have %llu", &count) == 1) counts.push_back(count);
        at = nl == std::string::npos ? text.size() : nl + 1;
    }
    return counts;
}

DownloadFile::~DownloadFile() {
    stopWorker();
}

void DownloadFile::stopWorker() {
    if (!worker_.joinable()) return;
    shared_->stop.store(true, std::memory_order_release);
    shared_->wake();
    worker_.join();
}

void DownloadFile::start() {
    if (self_ || finished_) return;
    self_ = std::shared_ptr<DownloadFile>(this);
    auto keep = self_;  // a task that ends right here lets go of itself
    if (segments_.empty()) {
        FILE* f = openFile(savePath_, "wb");
        if (!f) writeLog("cannot create %s: %s", savePath_.c_str(), std::strerror(errno));
        finish(f && std::fclose(f) == 0 ? kDownloadFileCompleted : kDownloadFileFailed);
        return;
    }
    try {
        worker_ = std::thread([shared = shared_] { shared->run(); });
    } catch (const std::system_error&) {
        writeLog("cannot start the download worker for %s", savePath_.c_str());
        finish(kDownloadFileFailed);
        return;
    }
    std::weak_ptr<DownloadFile> weak = self_;
    pollId_ = Scheduler::instance()->schedule([weak](float) {
        if (auto task = weak.lock()) task->poll();
    });
}

void DownloadFile::cancel() {
    if (finished_ || cancelled_) return;
    cancelled_ = true;
    if (started_) stopTransfers();  // before that, poll ends the task once the file is prepared
}

void DownloadFile::poll() {
    if (finished_) return;
    if (!started_) {
        int prepared = shared_->prepared.load(std::memory_order_acquire);
        if (prepared == 0) return;
        started_ = true;
        if (prepared < 0 || cancelled_) {
            finish(kDownloadFileFailed);
            return;
        }
        startTransfers();
        return;
    }
    if (!arrived_) return;
    int outcome = shared_->outcome.load(std::memory_order_acquire);
    if (outcome == 0) return;
    if (outcome > 0) digest_ = shared_->digest;
    finish(outcome > 0 ? kDownloadFileCompleted : kDownloadFileFailed);
}

void DownloadFile::startTransfers() {
    bool all = true;
    for (size_t i = 0; i < segments_.size(); ++i) {
        DownloadSegment& seg = segments_[i];
        seg.downloaded = shared_->have[i].load(std::memory_order_relaxed);
        seg.done = seg.downloaded == seg.length;
        all = all && seg.done;
    }
    refreshProgress();
    for (size_t i = 0; i < segments_.size() && !finished_; ++i)
        if (!segments_[i].done) startSegment(i);
    if (all) allArrived();
}

void DownloadFile::startSegment(size_t index) {
    DownloadSegment& seg = segments_[index];
    const uint64_t first = seg.end + 1 - seg.length;
    const uint64_t present = shared_->have[index].load(std::memory_order_acquire);
    seg.start = first + present;
    seg.downloaded = present;
    launch(index, seg.start, seg.end, false);
}

void DownloadFile::startWhole() {
    launch(0, 0, totalSize_ - 1, true);
}

void DownloadFile::launch(size_t index, uint64_t from, uint64_t to, bool whole) {
    if (whole) {
        for (size_t r = 0; r < segments_.size(); ++r)
            if (shared_->have[r].load(std::memory_order_acquire) > 0) {
                shared_->rewrites.fetch_add(1, std::memory_order_release);
                break;
            }
    }
    // Bytes the digest already took are about to be written again: it starts over with them.
    if (from < shared_->hashed.load(std::memory_order_acquire)) {
        shared_->rehash.fetch_add(1, std::memory_order_release);
        shared_->wake();
    }
    auto transfer = std::make_shared<Transfer>();
    transfer->shared = shared_;
    transfer->from = from;
    transfer->to = to;
    transfer->whole = whole;
    transfer->range = index;
    transfer->pos.store(from, std::memory_order_relaxed);
    transfer->notedAt = from;
    transfer->writtenOutAt = from;

    std::shared_ptr<DownloadFile> self = self_;
    HTTPRequest* request = HTTPRequest::create(
        [self, index, transfer](int state, HTTPRequest* r) {
            self->onRequestEvent(index, transfer, state, r);
        },
        url_, kCCHTTPRequestMethodGet);
    std::string range = "RANGE:bytes=" + std::to_string(from) + "-" + std::to_string(to);
    request->addHeader(range.c_str());
    request->setConnectTimeout(3);
    request->setTimeout(5000);
    request->setResponseCheck([transfer](long code, const std::string& contentRange) {
        return transfer->check(code, contentRange);
    });
    request->setBodySink([transfer](const char* bytes, size_t n) { return transfer->write(bytes, n); });
    running_[index] = request;
    transfers_[index] = transfer;
    request->start();
}

void DownloadFile::refreshProgress() {
    uint64_t total = 0;
    for (size_t i = 0; i < segments_.size(); ++i) {
        segments_[i].downloaded = shared_->have[i].load(std::memory_order_acquire);
        total += segments_[i].downloaded;
    }
    downloadedTotal_ = total;
}

bool DownloadFile::anyRunning() const {
    return std::any_of(running_.begin(), running_.end(), [](HTTPRequest* r) { return r != nullptr; });
}

void DownloadFile::onRequestEvent(size_t index, const std::shared_ptr<Transfer>& transfer, int state,
                                  HTTPRequest* request) {
    if (state != kCCHTTPRequestStateRunning && running_[index] == request) running_[index] = nullptr;
    if (finished_) return;
    if (state == kCCHTTPRequestStateRunning) {
        if (givingUp_ || transfers_[index] != transfer) return;
        refreshProgress();
        if (callback_) callback_(kDownloadFileProgress, this);
        return;
    }
    // Its last count goes into the record, so that a later run resumes after it.
    for (size_t r = index; r < segments_.size() && (r == index || transfer->whole); ++r) shared_->note(r);
    if (givingUp_) {
        if (!anyRunning()) finish(kDownloadFileFailed);
        return;
    }
    if (transfers_[index] != transfer) return;  // a range transfer stopped for the whole one
    const int verdict = transfer->verdict.load(std::memory_order_relaxed);
    if (state == kCCHTTPRequestStateCompleted && verdict == kFine &&
        transfer->pos.load(std::memory_order_acquire) == transfer->to + 1) {
        for (size_t r = index; r < segments_.size() && (r == index || transfer->whole); ++r) {
            segments_[r].done = true;
            segments_[r].downloaded = segments_[r].length;
        }
        if (std::all_of(segments_.begin(), segments_.end(), [](const DownloadSegment& s) { return s.done; }))
            allArrived();
        return;
    }
    if (verdict == kRangeIgnored && !transfer->whole) {
        writeLog(
            "download of %s: the server answered bytes %llu-%llu with the whole file; continuing as one "
            "transfer from byte 0",
            url_.c_str(), static_cast<unsigned long long>(transfer->from),
            static_cast<unsigned long long>(transfer->to));
        switchToWhole();
        return;
    }
    if (verdict == kWriteError) {
        writeLog("cannot write %s: %s", partPath(savePath_).c_str(), std::strerror(transfer->writeErrno));
    } else if (state == kCCHTTPRequestStateFailed && verdict == kFine) {
        writeLog("download range %d of %s failed: %s", segments_[index].index, url_.c_str(),
                 request->getErrorMessage().c_str());
    } else {
        writeLog("download range %d of %s: answer %ld did not deliver bytes %llu-%llu",
                 segments_[index].index, url_.c_str(), request->getResponseCode(),
                 static_cast<unsigned long long>(transfer->from),
                 static_cast<unsigned long long>(transfer->to));
    }
    if (transfer->whole) {
        if (++wholeRetries_ >= kMaxAttempts) {
            givingUp_ = true;
            finish(kDownloadFileFailed);
            return;
        }
        startWhole();
        return;
    }
    failAttempt(index);
}

void DownloadFile::failAttempt(size_t index) {
    DownloadSegment& seg = segments_[index];
    // The range starts again from its first byte.
    if (shared_->have[index].exchange(0, std::memory_order_acq_rel) > 0)
        shared_->rewrites.fetch_add(1, std::memory_order_release);
    shared_->note(index);
    seg.start = seg.end + 1 - seg.length;
    seg.downloaded = 0;
    ++seg.retries;
    if (seg.retries >= kMaxAttempts) {
        stopTransfers();
        return;
    }
    startSegment(index);
}

void DownloadFile::switchToWhole() {
    whole_ = true;
    for (size_t i = 0; i < running_.size(); ++i) {
        if (running_[i]) running_[i]->cancel();
        if (transfers_[i]) transfers_[i]->stop.store(true, std::memory_order_relaxed);
        transfers_[i] = nullptr;
    }
    // The whole transfer starts once no range transfer can write any more.
    auto id = std::make_shared<int>(-1);
    std::weak_ptr<DownloadFile> weak = self_;
    *id = Scheduler::instance()->schedule([weak, id](float) {
        auto task = weak.lock();
        if (!task || task->finished_ || task->givingUp_) {
            Scheduler::instance()->unschedule(*id);
            return;
        }
        if (task->anyRunning()) return;
        Scheduler::instance()->unschedule(*id);
        task->startWhole();
    });
}

void DownloadFile::stopTransfers() {
    givingUp_ = true;
    for (size_t i = 0; i < running_.size(); ++i) {
        if (running_[i]) running_[i]->cancel();
        if (transfers_[i]) transfers_[i]->stop.store(true, std::memory_order_relaxed);
    }
    if (!anyRunning()) finish(kDownloadFileFailed);
}

void DownloadFile::allArrived() {
    arrived_ = true;
    refreshProgress();
    shared_->arrived.store(true, std::memory_order_release);
    shared_->wake();
}

void DownloadFile::finish(unsigned event) {
    if (finished_) return;
    finished_ = true;
    // The worker stops within one chunk of hashing; after a completion it has already ended.
    stopWorker();
    if (pollId_ >= 0) Scheduler::instance()->unschedule(pollId_);
    pollId_ = -1;
    refreshProgress();
    DownloadFileCallback callback = std::move(callback_);
    callback_ = nullptr;
    if (callback) callback(event, this);
    // Running requests of other ranges still hold the task; the last one to finish frees it.
    self_.reset();
}

}  // namespace veltrano
