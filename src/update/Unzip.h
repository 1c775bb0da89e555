#pragma once
// Extraction of the game archive (zip) into a destination directory, entry by entry, each file
// written under a ".tmp" name first and moved into place when complete.

#include <cstdint>
#include <functional>
#include <string>

namespace veltrano {

// Completion kinds of the asynchronous form.
enum UnzipEvent : uint32_t { UnzipFailed = 0, UnzipDone = 1, UnzipProgress = 2 };

// (index of the entry just finished, number of entries).
using UnzipProgressFunction = std::function<void(uint32_t, uint32_t)>;
// (kind, a, b): progress carries a = index, b = total; the others carry zeros.
using UnzipCallback = std::function<void(uint32_t, uint32_t, uint32_t)>;

constexpr size_t kUnzipNameBufferSize = 512;
constexpr size_t kUnzipCopyBufferSize = 8192;

// Extracts every entry of the archive into destDir (which ends in "/"). True when all entries
// were extracted. Entries with unsafe names fail the extraction before anything is written for
// them; entries already extracted stay.
bool uncompressDir(const char* zipPath, const char* destDir, const UnzipProgressFunction& progress);

// Runs uncompressDir on a detached thread and reports every progress step (when wanted) and then
// exactly one UnzipDone or UnzipFailed through callback, all on that thread.
void uncompressDirAsync(const std::string& zipPath, const std::string& destDir, UnzipCallback callback,
                        bool wantProgress);

// Why an entry name must not be written below a destination directory: absolute, a drive
// letter, a ".." segment, a backslash, a NUL byte or an empty name. nullptr when it is safe.
const char* unsafeEntryNameReason(const std::string& name);

}  // namespace veltrano
