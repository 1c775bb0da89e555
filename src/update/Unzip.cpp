#include "update/Unzip.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "config/Log.h"
#include "platform/File.h"
#include "platform/Process.h"

namespace veltrano {

namespace {

constexpr uint32_t kMax32 = 0xffffffffu;
constexpr int kCrcError = -105;    // the zip reader's code for a checksum mismatch
constexpr int kBadArchive = -103;  // and for a damaged record
constexpr size_t kEndRecordSize = 22;
constexpr size_t kMaxComment = 0xffff;

uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint64_t le64(const unsigned char* p) {
    return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

bool writeAll(FILE* out, const char* p, size_t size) {
    return size == 0 || std::fwrite(p, 1, size, out) == size;
}

// Creates root + every prefix of name up to each "/" from the left.
bool createPrefixes(const std::string& root, const std::string& name) {
    bool ok = true;
    for (size_t pos = name.find('/'); pos != std::string::npos; pos = name.find('/', pos + 1)) {
        if (pos == 0) continue;
        std::string dir = root + name.substr(0, pos);
        // Made here, or already a real directory: never a link leading out of root.
        if (!createDirectoryNoFollow(dir)) {
            writeLog("can not create directory %s", dir.c_str());
            ok = false;
            break;
        }
    }
    return ok;
}

// Fills in the zip64 extended values for the fields the record marks as too large.
void applyZip64(const unsigned char* extra, size_t size, uint32_t rawSize, uint32_t rawCompressed,
                uint32_t rawOffset, ArchiveEntry* e) {
    size_t at = 0;
    while (at + 4 <= size) {
        uint16_t id = le16(extra + at);
        uint16_t length = le16(extra + at + 2);
        const unsigned char* field = extra + at + 4;
        if (at + 4 + length > size) return;
        if (id == 0x0001) {
            size_t used = 0;
            if (rawSize == kMax32 && used + 8 <= length) e->size = le64(field + used), used += 8;
            if (rawCompressed == kMax32 && used + 8 <= length)
                e->compressedSize = le64(field + used), used += 8;
            if (rawOffset == kMax32 && used + 8 <= length) e->localHeaderOffset = le64(field + used);
            return;
        }
        at += 4 + length;
    }
}

bool acceptableName(const std::string& name, bool logRefusal = true) {
    if (!logRefusal) return name.size() < kUnzipNameBufferSize && unsafeEntryNameReason(name) == nullptr;
    if (name.size() >= kUnzipNameBufferSize) {
        writeLog("refusing entry %s...: name longer than %u bytes", name.substr(0, 100).c_str(),
                 static_cast<unsigned>(kUnzipNameBufferSize - 1));
        return false;
    }
    if (const char* why = unsafeEntryNameReason(name)) {
        // Printed escaped: the name itself may hold a line break.
        std::string shown;
        for (unsigned char c : name) {
            if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                shown += hex;
            } else {
                shown += static_cast<char>(c);
            }
        }
        writeLog("refusing entry %s: %s", shown.c_str(), why);
        return false;
    }
    return true;
}

}  // namespace

Archive::~Archive() = default;

bool Archive::open(const std::string& path, std::string* problem) {
    if (!file_.openForReading(path)) {
        *problem = file_.error() == "not a file" ? file_.error() : "cannot open: " + file_.error();
        return false;
    }
    if (!file_.size(&fileSize_)) {
        *problem = "cannot open: " + file_.error();
        return false;
    }
    return readDirectory(problem);
}

bool Archive::openArriving(const std::string& path, uint64_t fileSize, const std::string& tail,
                           std::string* problem) {
    if (!file_.openForReading(path)) {
        *problem = "cannot open: " + file_.error();
        return false;
    }
    if (tail.size() > fileSize) {
        *problem = "the fetched end is longer than the archive";
        return false;
    }
    fileSize_ = fileSize;
    tail_ = &tail;
    const bool ok = readDirectory(problem);
    tail_ = nullptr;
    return ok;
}

bool Archive::readDirectoryBytes(void* out, size_t size, uint64_t offset) const {
    if (tail_ == nullptr) return readAt(out, size, offset);
    const uint64_t tailStart = fileSize_ - tail_->size();
    if (offset < tailStart || size > fileSize_ - offset) return false;
    std::memcpy(out, tail_->data() + (offset - tailStart), size);
    return true;
}

bool Archive::readAt(void* out, size_t size, uint64_t offset) const {
    const long long got = file_.readAt(out, size, offset);
    return got >= 0 && static_cast<uint64_t>(got) == size;
}

bool Archive::readDirectory(std::string* problem) {
    if (fileSize_ < kEndRecordSize) {
        *problem = "too short for an archive";
        return false;
    }
    // The end record sits in the last 22 bytes plus at most a 64 KiB comment.
    uint64_t searched = std::min<uint64_t>(fileSize_, kEndRecordSize + kMaxComment);
    if (tail_ != nullptr) searched = std::min<uint64_t>(searched, tail_->size());
    const size_t tail = static_cast<size_t>(searched);
    if (tail < kEndRecordSize) {
        *problem = "the fetched end is too short";
        return false;
    }
    std::vector<unsigned char> end(tail);
    const uint64_t tailStart = fileSize_ - tail;
    if (!readDirectoryBytes(end.data(), tail, tailStart)) {
        *problem = "cannot read the end of the archive";
        return false;
    }
    size_t eocd = std::string::npos;
    for (size_t i = tail - kEndRecordSize + 1; i-- > 0;) {
        if (end[i] == 'P' && end[i + 1] == 'K' && end[i + 2] == 5 && end[i + 3] == 6) {
            eocd = i;
            break;
        }
    }
    if (eocd == std::string::npos) {
        *problem = "no end of central directory record";
        return false;
    }
    uint64_t count = le16(&end[eocd + 10]);
    uint64_t cdSize = le32(&end[eocd + 12]);
    uint64_t cdOffset = le32(&end[eocd + 16]);
    const uint64_t eocdAt = tailStart + eocd;
    if (eocdAt >= 20) {
        unsigned char locator[20];
        if (readDirectoryBytes(locator, sizeof locator, eocdAt - 20) && le32(locator) == 0x07064b50) {
            unsigned char record[56];
            const uint64_t at = le64(locator + 8);
            if (!readDirectoryBytes(record, sizeof record, at) || le32(record) != 0x06064b50) {
                *problem = "damaged zip64 end record";
                return false;
            }
            count = le64(record + 32);
            cdSize = le64(record + 40);
            cdOffset = le64(record + 48);
        }
    }
    if (cdOffset > fileSize_ || cdSize > fileSize_ - cdOffset || count > cdSize / 46 + (cdSize == 0)) {
        *problem = "central directory outside the archive";
        return false;
    }
    std::vector<unsigned char> cd(static_cast<size_t>(cdSize));
    if (cdSize > 0 && !readDirectoryBytes(cd.data(), cd.size(), cdOffset)) {
        *problem = tail_ != nullptr ? "the central directory starts before the fetched end"
                                    : "cannot read the central directory";
        return false;
    }
    directoryOffset_ = cdOffset;
    entries_.clear();
    entries_.reserve(static_cast<size_t>(count));
    size_t at = 0;
    for (uint64_t i = 0; i < count; ++i) {
        if (at + 46 > cd.size() || le32(&cd[at]) != 0x02014b50) {
            *problem = "damaged central directory record " + std::to_string(i);
            return false;
        }
        const unsigned char* r = &cd[at];
        const size_t nameLength = le16(r + 28), extraLength = le16(r + 30), commentLength = le16(r + 32);
        if (at + 46 + nameLength + extraLength + commentLength > cd.size()) {
            *problem = "damaged central directory record " + std::to_string(i);
            return false;
        }
        ArchiveEntry e;
        e.flags = le16(r + 8);
        e.method = le16(r + 10);
        e.crc = le32(r + 16);
        const uint32_t rawCompressed = le32(r + 20), rawSize = le32(r + 24), rawOffset = le32(r + 42);
        e.compressedSize = rawCompressed;
        e.size = rawSize;
        e.localHeaderOffset = rawOffset;
        if ((le16(r + 4) >> 8) == 3) e.mode = (le32(r + 38) >> 16) & 0777;
        e.name.assign(reinterpret_cast<const char*>(r + 46), nameLength);
        applyZip64(r + 46 + nameLength, extraLength, rawSize, rawCompressed, rawOffset, &e);
        entries_.push_back(std::move(e));
        at += 46 + nameLength + extraLength + commentLength;
    }
    return true;
}

uint64_t Archive::uncompressedTotal() const {
    uint64_t total = 0;
    for (const auto& e : entries_) total += e.size;
    return total;
}

const char* unsafeEntryNameReason(const std::string& name) {
    if (name.empty()) return "empty name";
    if (name.find('\0') != std::string::npos) return "NUL byte in name";
    for (unsigned char c : name) {
        // Not a valid file name on Windows, and a line break would forge log lines.
        if (c < 0x20 || c == 0x7f) return "control character in name";
    }
    if (name.find('\\') != std::string::npos) return "backslash in name";
    if (name[0] == '/') return "absolute name";
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return "drive letter";
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return "\"..\" segment";
        start = end + 1;
    }
    return nullptr;
}

bool extractEntry(const Archive& archive, const ArchiveEntry& entry, const std::string& root,
                  std::vector<char>* buffer, const ArrivingBytes* arriving, const std::atomic<bool>* stop) {
    auto arrived = [&](uint64_t from, uint64_t to) {
        // Bytes past the end never arrive: the read fails and says so.
        if (arriving == nullptr || to > archive.fileSize()) return true;
        while (!arriving->ready(from, to)) {
            if (stop != nullptr && stop->load()) return false;
            arriving->wait();
        }
        return true;
    };
    const std::string& name = entry.name;
    const std::string finalPath = root + name;
    if (name.back() == '/') {
        createPrefixes(root, name);
        return true;
    }
    if (entry.method != 0 && entry.method != Z_DEFLATED) {
        writeLog("can not extract %s: compression method %u is not supported", name.c_str(),
                 static_cast<unsigned>(entry.method));
        return false;
    }
    if (entry.flags & 1) {
        writeLog("can not extract %s: it is encrypted", name.c_str());
        return false;
    }
    unsigned char local[30];
    if (!arrived(entry.localHeaderOffset, entry.localHeaderOffset + sizeof local)) return false;
    if (!archive.readAt(local, sizeof local, entry.localHeaderOffset) || le32(local) != 0x04034b50) {
        writeLog("can not open file %s", name.c_str());
        return false;
    }
    uint64_t dataAt = entry.localHeaderOffset + 30 + le16(local + 26) + le16(local + 28);
    if (!arrived(dataAt, dataAt + entry.compressedSize)) return false;

    if (!createPrefixes(root, name)) {
        writeLog("can not open destination file %s", finalPath.c_str());
        return false;
    }
    // A file of the same name from an earlier entry is replaced; a link is never followed.
    PathInfo existing;
    if (pathInfo(finalPath, &existing, false) && existing.regular && !existing.link) deleteFile(finalPath);
    FILE* out = openNewFile(finalPath);
    if (!out) {
        writeLog("can not open destination file %s", finalPath.c_str());
        return false;
    }
    auto fail = [&](int code) {
        if (code != 0) writeLog("can not read zip file %s, error code is %d", name.c_str(), code);
        std::fclose(out);
        deleteFile(finalPath);
        return false;
    };

    buffer->resize(2 * kUnzipCopyBufferSize);
    char* in = buffer->data();
    char* outBuf = buffer->data() + kUnzipCopyBufferSize;
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t written = 0;
    uint64_t left = entry.compressedSize;
    z_stream zs{};
    const bool deflated = entry.method == Z_DEFLATED;
    if (deflated && inflateInit2(&zs, -MAX_WBITS) != Z_OK) return fail(kBadArchive);
    int zrc = Z_OK;
    while (left > 0 || (deflated && zrc != Z_STREAM_END && zs.avail_in > 0)) {
        size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, kUnzipCopyBufferSize));
        if (chunk > 0 && !archive.readAt(in, chunk, dataAt)) {
            if (deflated) inflateEnd(&zs);
            return fail(kBadArchive);
        }
        dataAt += chunk;
        left -= chunk;
        if (!deflated) {
            crc = crc32(crc, reinterpret_cast<const Bytef*>(in), static_cast<uInt>(chunk));
            if (!writeAll(out, in, chunk)) {
                writeLog("can not write destination file %s, error:%s", finalPath.c_str(),
                         std::strerror(errno));
                return fail(0);
            }
            written += chunk;
            continue;
        }
        zs.next_in = reinterpret_cast<Bytef*>(in);
        zs.avail_in = static_cast<uInt>(chunk);
        do {
            zs.next_out = reinterpret_cast<Bytef*>(outBuf);
            zs.avail_out = static_cast<uInt>(kUnzipCopyBufferSize);
            zrc = inflate(&zs, Z_NO_FLUSH);
            if (zrc != Z_OK && zrc != Z_STREAM_END && !(zrc == Z_BUF_ERROR && zs.avail_in == 0)) {
                inflateEnd(&zs);
                return fail(zrc < 0 ? zrc : kBadArchive);
            }
            const size_t produced = kUnzipCopyBufferSize - zs.avail_out;
            crc = crc32(crc, reinterpret_cast<const Bytef*>(outBuf), static_cast<uInt>(produced));
            if (!writeAll(out, outBuf, produced)) {
                inflateEnd(&zs);
                writeLog("can not write destination file %s, error:%s", finalPath.c_str(),
                         std::strerror(errno));
                return fail(0);
            }
            written += produced;
        } while (zs.avail_out == 0 && zrc != Z_STREAM_END);
        if (zrc == Z_STREAM_END) break;
    }
    if (deflated) {
        inflateEnd(&zs);
        if (zrc != Z_STREAM_END) return fail(Z_DATA_ERROR);
    }
    // A damaged stored entry reads fine; only its checksum tells.
    if (written != entry.size || crc != entry.crc) return fail(kCrcError);
    // The executable bit survives; group and others never get write access.
    if (entry.mode != 0) setOpenFilePermissions(out, (entry.mode & 0755) | 0600);
    if (!closeWrittenFile(out)) {
        writeLog("can not write destination file %s, error:%s", finalPath.c_str(), std::strerror(errno));
        deleteFile(finalPath);
        return false;
    }
    return true;
}

bool uncompressDir(const char* zipPath, const char* destDir, const UnzipProgressFunction& progress,
                   const std::atomic<bool>* stop) {
    if (zipPath == nullptr || destDir == nullptr) {
        writeLog("source zip is null or dest path is null!");
        return false;
    }
    Archive archive;
    std::string problem;
    const bool opened = archive.open(zipPath, &problem);
    writeLog("uncompressDir unzOpen %d", opened ? 1 : 0);
    if (!opened) {
        writeLog("unzGetGlobalInfo not ok");
        writeLog("uncompressDir %s: %s", zipPath, problem.c_str());
        return false;
    }
    // Every name is checked before anything is written, so a refused archive leaves nothing.
    if (!acceptableNames(archive, true)) return false;
    return extractArchive(archive, destDir, progress, stop);
}

bool acceptableNames(const Archive& archive, bool logRefusal) {
    for (const ArchiveEntry& entry : archive.entries()) {
        if (!acceptableName(entry.name, logRefusal)) return false;
    }
    return true;
}

bool extractArchive(const Archive& archive, const std::string& dest, const UnzipProgressFunction& progress,
                    const std::atomic<bool>* stop, const ArrivingBytes* arriving) {
    const auto& entries = archive.entries();
    const uint32_t total = static_cast<uint32_t>(entries.size());
    // Folders first, so that workers rarely race to make the same parents.
    std::vector<uint32_t> files;
    files.reserve(total);
    std::vector<char> buffer;
    std::mutex reportMutex;
    uint32_t finished = 0;
    std::atomic<bool> failed{false};
    auto report = [&] {
        // One call per entry, counted in order even though entries finish in any order.
        std::lock_guard<std::mutex> lock(reportMutex);
        if (progress) progress(finished, total);
        ++finished;
    };
    for (uint32_t i = 0; i < total; ++i) {
        if (entries[i].name.back() != '/') {
            files.push_back(i);
            continue;
        }
        if (!extractEntry(archive, entries[i], dest, &buffer)) return false;
        report();
    }
    // A name the archive holds twice ends up with its last entry's data, as in one pass in order;
    // workers writing the same file at once would race.
    std::unordered_map<std::string, uint32_t> lastOfName;
    for (uint32_t i : files) lastOfName[entries[i].name] = i;
    std::erase_if(files, [&](uint32_t i) {
        if (lastOfName[entries[i].name] == i) return false;
        report();
        return true;
    });
    // Largest first from one shared queue: the big entries spread over the workers and the small
    // ones fill the gaps at the end.
    std::stable_sort(files.begin(), files.end(),
                     [&](uint32_t a, uint32_t b) { return entries[a].size > entries[b].size; });
    // An entry's bytes run from its local header to the next entry's (or the directory).
    std::vector<uint64_t> spanEnd(total, archive.directoryOffset());
    if (arriving != nullptr) {
        std::vector<uint32_t> byOffset(files);
        std::sort(byOffset.begin(), byOffset.end(), [&](uint32_t a, uint32_t b) {
            return entries[a].localHeaderOffset < entries[b].localHeaderOffset;
        });
        for (size_t k = 0; k + 1 < byOffset.size(); ++k)
            spanEnd[byOffset[k]] = entries[byOffset[k + 1]].localHeaderOffset;
    }
    auto stopped = [&] {
        return failed.load(std::memory_order_relaxed) || (stop != nullptr && stop->load());
    };
    std::atomic<size_t> next{0};
    std::mutex queueMutex;  // guards files while they arrive
    // The next entry to extract, or false when none is left (or the extraction stops).
    auto take = [&](uint32_t* index) {
        if (arriving == nullptr) {
            const size_t at = next.fetch_add(1, std::memory_order_relaxed);
            if (at >= files.size()) return false;
            *index = files[at];
            return true;
        }
        while (!stopped()) {
            {
                std::lock_guard<std::mutex> lock(queueMutex);
                if (files.empty()) return false;
                for (auto it = files.begin(); it != files.end(); ++it) {
                    const ArchiveEntry& e = entries[*it];
                    if (arriving->ready(e.localHeaderOffset,
                                        std::max(spanEnd[*it], e.localHeaderOffset + 30))) {
                        *index = *it;
                        files.erase(it);
                        return true;
                    }
                }
            }
            arriving->wait();
        }
        return false;
    };
    auto work = [&] {
        // Extraction beside a download takes only what the transfers and the window leave.
        if (arriving != nullptr) lowerCurrentThreadPriority(2);
        std::vector<char> scratch;
        uint32_t index = 0;
        while (!stopped() && take(&index)) {
            if (!extractEntry(archive, entries[index], dest, &scratch, arriving, stop)) {
                failed.store(true);
                return;
            }
            report();
        }
    };
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t helpers = std::min<size_t>({cores, kUnzipMaxWorkers, files.size()});
    std::vector<std::thread> workers;
    for (size_t i = 1; i < helpers; ++i) {
        try {
            workers.emplace_back(work);
        } catch (const std::system_error& e) {
            writeLog("extracting with %u workers: %s", static_cast<unsigned>(workers.size() + 1), e.what());
            break;
        }
    }
    work();
    for (auto& t : workers) t.join();
    if (stop != nullptr && stop->load() && !failed.load()) {
        writeLog("extraction stopped");
        return false;
    }
    return !failed.load();
}

}  // namespace veltrano
