#pragma once
// Extraction of the game archive (zip) into a destination directory, entry by entry. The
// archive's directory is read here (zip64 sizes and offsets included); entry data is inflated
// with zlib.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/PositionalFile.h"

namespace veltrano {

// Completion kinds of the asynchronous form.
enum UnzipEvent : uint32_t { UnzipFailed = 0, UnzipDone = 1, UnzipProgress = 2 };

// (index of the entry just finished, number of entries).
using UnzipProgressFunction = std::function<void(uint32_t, uint32_t)>;
// (kind, a, b): progress carries a = index, b = total; the others carry zeros.
using UnzipCallback = std::function<void(uint32_t, uint32_t, uint32_t)>;

constexpr size_t kUnzipNameBufferSize = 512;
constexpr size_t kUnzipCopyBufferSize = 65536;

// One entry of the archive's central directory.
struct ArchiveEntry {
    std::string name;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint64_t localHeaderOffset = 0;
    uint32_t mode = 0;  // Unix permission bits recorded by the archiver, 0 when none
};

// An archive opened for reading; entries can be read from several threads at once.
class Archive {
public:
    Archive() = default;
    ~Archive();
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;

    // Opens the file and reads its directory. False with *problem when it is no readable archive.
    bool open(const std::string& path, std::string* problem);
    const std::vector<ArchiveEntry>& entries() const { return entries_; }
    // Reads exactly size bytes at offset; false on a short read or an error. Safe from several threads.
    bool readAt(void* out, size_t size, uint64_t offset) const;
    // Sum of the entries' uncompressed sizes.
    uint64_t uncompressedTotal() const;

private:
    bool readDirectory(std::string* problem);
    mutable PositionalFile file_;
    uint64_t fileSize_ = 0;
    std::vector<ArchiveEntry> entries_;
};

// Writes one entry below root (which ends in "/" and was made by this extraction): creates its
// parent directories, never writes through a link and leaves no partial file on failure. Logs
// why it failed. buffer is scratch space reused between calls.
bool extractEntry(const Archive& archive, const ArchiveEntry& entry, const std::string& root,
                  std::vector<char>* buffer);

// Extracts every entry of the archive into destDir (which ends in "/"). True when all entries
// were extracted. Entries with unsafe names or unsupported compression fail the extraction
// before anything is written for them; entries already extracted stay.
bool uncompressDir(const char* zipPath, const char* destDir, const UnzipProgressFunction& progress);

// Runs uncompressDir on a detached thread and reports every progress step (when wanted) and then
// exactly one UnzipDone or UnzipFailed through callback, all on that thread. When the thread
// cannot be started, UnzipFailed is reported on the caller's thread and false returned.
bool uncompressDirAsync(const std::string& zipPath, const std::string& destDir, UnzipCallback callback,
                        bool wantProgress);

// Why an entry name must not be written below a destination directory: absolute, a drive
// letter, a ".." segment, a backslash, a control character or an empty name. nullptr when safe.
const char* unsafeEntryNameReason(const std::string& name);

}  // namespace veltrano
