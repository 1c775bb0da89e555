#pragma once
// Downloads one file in parallel byte ranges, each into "<save path>.tmp<index>", resuming pieces
// left by an earlier run, and joins the pieces when all have arrived. UI thread only.
//
// Lifetime: after start() the task owns itself and is freed once its final event has been delivered
// and the last request that can reach it has finished; the owner must not use the pointer after the
// final event. A task that is never started belongs to its creator (delete it).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace veltrano {

class HTTPRequest;

enum DownloadFileEvent : unsigned {
    kDownloadFileProgress = 1,   // the downloaded total was recomputed
    kDownloadFileCompleted = 2,  // every range arrived and the file at the save path is complete
    kDownloadFileFailed = 3,     // a range failed its last attempt, or the pieces could not be joined;
                                 // sent once no transfer of the task can still write to a piece
};

class DownloadFile;
using DownloadFileCallback = std::function<void(unsigned event, DownloadFile* task)>;

struct DownloadSegment {
    std::string url;
    std::string tmpPath;      // save path + ".tmp" + index
    uint64_t downloaded = 0;  // bytes of this range on disk or in flight at the last progress event
    uint64_t length = 0;      // planned length
    uint64_t start = 0;       // first byte still to request
    uint64_t end = 0;         // last byte, inclusive
    int index = 0;
    int retries = 0;  // failed attempts so far
    bool done = false;
};

class DownloadFile {
public:
    static constexpr int kMaxAttempts = 5;

    // Plans the ranges; starts nothing. A segment count of 0 counts as 1; ranges that would start
    // past the end of the file are left out, so a file of 0 bytes has none.
    static DownloadFile* create(const DownloadFileCallback& callback, const std::string& url,
                                const std::string& savePath, uint64_t totalSize, unsigned segmentCount);

    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // Starts every range at once. Called once.
    void start();

    uint64_t getDownloadedTotal() const { return downloadedTotal_; }
    uint64_t getTotalSize() const { return totalSize_; }
    const std::string& getSavePath() const { return savePath_; }
    const std::string& getUrl() const { return url_; }
    const std::vector<DownloadSegment>& segments() const { return segments_; }

private:
    DownloadFile() = default;

    void startSegment(size_t index);
    void onRequestEvent(size_t index, uint64_t present, int state, HTTPRequest* request);
    bool arrived(const DownloadSegment& segment, uint64_t present, HTTPRequest* request) const;
    void failAttempt(size_t index);
    void giveUp();
    void joinSegments();
    void finish(unsigned event);

    std::string url_;
    std::string savePath_;
    uint64_t totalSize_ = 0;
    uint64_t downloadedTotal_ = 0;
    DownloadFileCallback callback_;
    std::vector<DownloadSegment> segments_;
    bool finished_ = false;
    // A range has failed for good: the other transfers are being stopped, and the failed event waits
    // until none of them can still write to a piece.
    bool givingUp_ = false;
    std::vector<HTTPRequest*> running_;  // by range; valid until that request's final callback
    // Held from start() until the final event; every running request holds another reference.
    std::shared_ptr<DownloadFile> self_;
};

}  // namespace veltrano
