#pragma once
// The launcher's one door to the file system. Every path crossing this interface is UTF-8 with "/"
// separators. The launcher directory always ends in "/"; callers build paths by concatenation.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace veltrano {

class ResizableBuffer {
public:
    virtual ~ResizableBuffer() = default;
    virtual void resize(size_t size) = 0;
    virtual void* buffer() const = 0;
};

template <typename T>
class ResizableBufferAdapter;

template <>
class ResizableBufferAdapter<std::string> : public ResizableBuffer {
public:
    explicit ResizableBufferAdapter(std::string* s) : s_(s) {}
    void resize(size_t size) override { s_->resize(size); }
    void* buffer() const override { return s_->empty() ? nullptr : &s_->front(); }

private:
    std::string* s_;
};

enum class ReadStatus { Ok = 0, Missing = 1, CannotOpen = 2, CannotRead = 3 };

class FileUtils {
public:
    // The process-wide instance (FileUtilsPosix), created on first use; null when init fails.
    static FileUtils* instance();

    virtual ~FileUtils();

    virtual void clearPathCache();
    virtual std::string readText(const std::string& path);
    virtual ReadStatus readInto(const std::string& path, ResizableBuffer* buffer);
    // Resolves a relative name against the search paths; empty when not found.
    virtual std::string fullPath(const std::string& name);
    // The launcher directory in the system's form: no trailing separator.
    virtual std::string launcherDirectoryNative();
    virtual std::string executablePath() = 0;
    // Per-user writable folder, created on demand; ends in "/".
    virtual std::string writableDirectory() = 0;
    virtual void setWritableDirectory(const std::string& dir);
    virtual bool writeText(const std::string& text, const std::string& path);
    virtual std::string toNativePath(const std::string& path) = 0;
    virtual bool fileExists(const std::string& path);
    virtual bool isAbsolutePath(const std::string& path) = 0;
    virtual bool directoryExists(const std::string& path);
    virtual bool createDirectory(const std::string& path) = 0;
    virtual bool removeDirectory(const std::string& path) = 0;
    virtual bool removeFile(const std::string& path) = 0;
    virtual bool renameFile(const std::string& oldPath, const std::string& newPath) = 0;
    // Whole size in bytes; 0 when it cannot be read.
    virtual uint64_t fileSize(const std::string& path) = 0;
    // Bytes an unprivileged writer may still use on the file system holding path; false when it
    // cannot be told.
    virtual bool freeSpace(const std::string& path, uint64_t* bytes) = 0;
    // Flushes everything written to the file system holding path to the disk.
    virtual bool syncFileSystem(const std::string& path) = 0;
    virtual bool init();

    // The executable's directory (or the one set below), UTF-8, ending in "/".
    const std::string& launcherDirectory() const { return launcherDirectory_; }
    // Points the launcher at another directory (tests, the headless runner's --dir). Takes a path
    // with or without trailing "/"; clears the name cache and resets the search path.
    void setLauncherDirectory(const std::string& dir);

protected:
    FileUtils() = default;
    virtual bool fileExistsInternal(const std::string& path) = 0;
    virtual bool directoryExistsInternal(const std::string& path) = 0;
    virtual std::string pathForFilename(const std::string& name, const std::string& resolutionOrder,
                                        const std::string& searchPath);
    virtual std::string fullPathForDirectoryAndFilename(const std::string& directory,
                                                        const std::string& filename);
    // Computes the executable's directory, UTF-8 with a trailing "/".
    virtual std::string computeLauncherDirectory() = 0;
    // Relative paths are taken relative to the launcher directory, never the working directory.
    std::string anchored(const std::string& path);

    std::vector<std::string> resolutionOrders_;
    std::vector<std::string> searchPaths_;
    std::string launcherDirectory_;
    std::map<std::string, std::string> fullPathCache_;
    std::mutex cacheMutex_;  // the cache is shared by the UI and worker threads
    std::string writableDirectoryOverride_;

private:
    ReadStatus readCounted(const std::string& path, ResizableBuffer* buffer, size_t* count);
    bool writeRaw(const void* bytes, size_t size, const std::string& path, const char* mode);
};

}  // namespace veltrano
