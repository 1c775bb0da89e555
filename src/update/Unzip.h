#pragma once
// Extraction of the game archive (zip) into a destination directory, entry by entry. The
// archive's directory is read here (zip64 sizes and offsets included); entry data is inflated
// with zlib.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/PositionalFile.h"

namespace veltrano {

// Completion kinds of an extraction run by the Updater.
enum UnzipEvent : uint32_t { UnzipFailed = 0, UnzipDone = 1, UnzipProgress = 2 };

// (index of the entry just finished, number of entries).
using UnzipProgressFunction = std::function<void(uint32_t, uint32_t)>;

constexpr size_t kUnzipNameBufferSize = 512;
constexpr size_t kUnzipCopyBufferSize = 65536;
constexpr size_t kUnzipMaxWorkers = 8;

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

    bool operator==(const ArchiveEntry&) const = default;
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
    // Opens a file of fileSize bytes that is still being written, reading its directory from tail
    // (its last tail.size() bytes, fetched on their own). False when the directory does not lie
    // within tail.
    bool openArriving(const std::string& path, uint64_t fileSize, const std::string& tail,
                      std::string* problem);
    const std::vector<ArchiveEntry>& entries() const { return entries_; }
    // Reads exactly size bytes at offset; false on a short read or an error. Safe from several threads.
    bool readAt(void* out, size_t size, uint64_t offset) const;
    // Sum of the entries' uncompressed sizes.
    uint64_t uncompressedTotal() const;
    uint64_t fileSize() const { return fileSize_; }
    // First byte of the central directory: entry data lies before it.
    uint64_t directoryOffset() const { return directoryOffset_; }

private:
    bool readDirectory(std::string* problem);
    // Directory bytes: from the fetched tail when there is one, else from the file.
    bool readDirectoryBytes(void* out, size_t size, uint64_t offset) const;
    mutable PositionalFile file_;
    uint64_t fileSize_ = 0;
    uint64_t directoryOffset_ = 0;
    std::vector<ArchiveEntry> entries_;
    const std::string* tail_ = nullptr;  // only while openArriving reads the directory
};

// Where the bytes of an archive that is still arriving stand. ready tells whether bytes [from, to)
// are in the file; wait returns when that may have changed (or after a short while).
struct ArrivingBytes {
    std::function<bool(uint64_t from, uint64_t to)> ready;
    std::function<void()> wait;
};

// Writes one entry below root (which ends in "/" and was made by this extraction): creates its
// parent directories, never writes through a link and leaves no partial file on failure. Logs
// why it failed. buffer is scratch space reused between calls. With arriving, every byte is read
// only once it is in the file (false without a log line when stop is set meanwhile).
bool extractEntry(const Archive& archive, const ArchiveEntry& entry, const std::string& root,
                  std::vector<char>* buffer, const ArrivingBytes* arriving = nullptr,
                  const std::atomic<bool>* stop = nullptr);

// Extracts every entry of the archive into destDir (which ends in "/") on up to kUnzipMaxWorkers
// threads (the caller's among them). True when all entries were extracted. Entries with unsafe
// names fail the extraction before anything is written; after another failure entries already
// extracted stay. progress is called once per entry, from any of the workers but one at a time,
// with the number of entries done before it (0, 1, ... total - 1). Setting *stop ends the
// extraction early as a failure.
bool uncompressDir(const char* zipPath, const char* destDir, const UnzipProgressFunction& progress,
                   const std::atomic<bool>* stop = nullptr);

// The same for an opened archive. With arriving, an entry is extracted only once its bytes are in
// the file, and workers take whichever entry is ready, largest first.
bool extractArchive(const Archive& archive, const std::string& destDir, const UnzipProgressFunction& progress,
                    const std::atomic<bool>* stop, const ArrivingBytes* arriving = nullptr);

// Whether every name of the archive may be written below a destination; logs the first refusal
// when asked to.
bool acceptableNames(const Archive& archive, bool logRefusal);

// Why an entry name must not be written below a destination directory: absolute, a drive
// letter, a ".." segment, a backslash, a control character or an empty name. nullptr when safe.
const char* unsafeEntryNameReason(const std::string& name);

}  // namespace veltrano
