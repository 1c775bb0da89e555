#pragma once
// Downloads one file in parallel byte ranges, each written straight into "<save path>.part" at its
// offset, beside a small record of the plan in "<save path>.plan" (file name, size, digest, the
// ranges and how many bytes of each are on disk). A later run of the same plan fetches only what is
// missing; any other plan starts over. A worker thread prepares the file and computes the MD5 of
// its contiguous prefix while later ranges still arrive, so the digest is ready when the last byte
// lands; it then renames the file to the save path. Everything else runs on the UI thread.
//
// Lifetime: after start() the task owns itself and is freed once its final event has been delivered
// and the last request that can reach it has finished; the owner must not use the pointer after the
// final event. A task that is never started belongs to its creator (delete it).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace veltrano {

class HTTPRequest;

enum DownloadFileEvent : unsigned {
    kDownloadFileProgress = 1,   // the downloaded total was recomputed
    kDownloadFileCompleted = 2,  // every range arrived, the file is at the save path, its digest is known
    kDownloadFileFailed = 3,     // a range failed its last attempt, the file could not be stored, or
                                 // the task was cancelled; sent once no transfer can still write to it
};

class DownloadFile;
using DownloadFileCallback = std::function<void(unsigned event, DownloadFile* task)>;

struct DownloadSegment {
    std::string url;
    uint64_t downloaded = 0;  // bytes of this range on disk at the last event
    uint64_t length = 0;      // planned length
    uint64_t start = 0;       // first byte requested by the current attempt
    uint64_t end = 0;         // last byte, inclusive
    int index = 0;
    int retries = 0;  // failed attempts so far
    bool done = false;
};

class DownloadFile {
public:
    static constexpr int kMaxAttempts = 5;

    // Plans the ranges; starts nothing. A segment count of 0 counts as 1; ranges that would start
    // past the end of the file are left out, so a file of 0 bytes has none. md5 (any letter case,
    // may be empty) belongs to the plan: pieces of another archive are never kept.
    static DownloadFile* create(const DownloadFileCallback& callback, const std::string& url,
                                const std::string& savePath, uint64_t totalSize, unsigned segmentCount,
                                const std::string& md5 = "");

    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // Prepares the file on the worker and starts the ranges not on disk yet. Called once.
    void start();
    // Stops every transfer; the failed event follows once none can still write. What arrived stays
    // for a later run.
    void cancel();

    uint64_t getDownloadedTotal() const { return downloadedTotal_; }
    uint64_t getTotalSize() const { return totalSize_; }
    const std::string& getSavePath() const { return savePath_; }
    const std::string& getUrl() const { return url_; }
    // Lowercase hexadecimal MD5 of the file; set at the completed event ("" for an empty file).
    const std::string& getDigest() const { return digest_; }
    const std::vector<DownloadSegment>& segments() const { return segments_; }

    // The files of a plan in progress.
    static std::string partPath(const std::string& savePath) { return savePath + ".part"; }
    static std::string planPath(const std::string& savePath) { return savePath + ".plan"; }
    // Bytes on disk from each range's first byte, as the record at savePath says; empty without one.
    static std::vector<uint64_t> recordedCounts(const std::string& savePath);

    struct Shared;
    class Arrived;
    // Where the file's bytes stand, for a reader that follows them as they arrive.
    std::shared_ptr<const Arrived> arrived() const;
    struct Transfer;

private:
    DownloadFile() = default;

    void poll();
    void startTransfers();
    void startSegment(size_t index);
    void startWhole();
    void launch(size_t index, uint64_t from, uint64_t to, bool whole);
    void onRequestEvent(size_t index, const std::shared_ptr<Transfer>& transfer, int state,
                        HTTPRequest* request);
    void refreshProgress();
    void failAttempt(size_t index);
    void switchToWhole();
    void stopTransfers();
    bool anyRunning() const;
    void allArrived();
    void finish(unsigned event);
    void stopWorker();

    std::string url_;
    std::string savePath_;
    uint64_t totalSize_ = 0;
    uint64_t downloadedTotal_ = 0;
    std::string digest_;
    DownloadFileCallback callback_;
    std::vector<DownloadSegment> segments_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    int pollId_ = -1;
    bool started_ = false;  // the transfers were started (the file is prepared)
    bool arrived_ = false;  // every byte is on disk; waiting for the worker
    bool finished_ = false;
    bool cancelled_ = false;
    // A range failed for good or the task was cancelled: the transfers are being stopped, and the
    // failed event waits until none of them can still write.
    bool givingUp_ = false;
    // The server answered a range with the whole file: the rest comes as one transfer from byte 0,
    // started once the range transfers have stopped.
    bool whole_ = false;
    int wholeRetries_ = 0;
    std::vector<HTTPRequest*> running_;  // by range (the whole transfer in 0); valid until delivered
    std::vector<std::shared_ptr<Transfer>> transfers_;
    // Held from start() until the final event; every running request holds another reference.
    std::shared_ptr<DownloadFile> self_;
};

// What of a download is in its file. Usable from any thread, also after the task has ended.
class DownloadFile::Arrived {
public:
    explicit Arrived(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    // The file the bytes go to; it is renamed to the save path once the digest is known.
    std::string partPath() const;
    // 1 once the file is ready to be read (pieces of an earlier run judged), -1 when it could not
    // be prepared, 0 before.
    int prepared() const;
    // Whether every byte of [from, to) is in the file.
    bool has(uint64_t from, uint64_t to) const;
    // Goes up whenever bytes that were in the file are about to be written again.
    uint64_t rewrites() const;

private:
    std::shared_ptr<Shared> shared_;
};

}  // namespace veltrano
