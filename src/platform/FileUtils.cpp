#include "platform/FileUtils.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/File.h"
#ifdef _WIN32
#include "platform/FileUtilsWin32.h"
using PlatformFileUtils = veltrano::FileUtilsWin32;
#else
#include "platform/FileUtilsPosix.h"
using PlatformFileUtils = veltrano::FileUtilsPosix;
#endif

namespace veltrano {

namespace {

void replaceAll(std::string& s, const std::string& from, const std::string& to) {
    // Searches again from the start after every change, so overlapping forms collapse fully.
    for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from))
        s.replace(pos, from.size(), to);
}

std::string forwardSlashes(std::string s) {
    for (auto& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

std::string normalizeName(std::string name) {
    if (name.size() > 2 && name[0] == '.' && (name[1] == '/' || name[1] == '\\')) name.erase(0, 2);
    replaceAll(name, ".\\", "\\");
    replaceAll(name, "\\", "/");
    replaceAll(name, "./", "/");
    replaceAll(name, "//", "/");
    return name;
}

}  // namespace

FileUtils* FileUtils::instance() {
    static FileUtils* shared = [] {
        FileUtils* created = new PlatformFileUtils();
        if (!created->init()) {
            delete created;
            return static_cast<FileUtils*>(nullptr);
        }
        return created;
    }();
    return shared;
}

FileUtils::~FileUtils() = default;

bool FileUtils::init() {
    if (launcherDirectory_.empty()) launcherDirectory_ = computeLauncherDirectory();
    searchPaths_.assign(1, launcherDirectory_);
    resolutionOrders_.assign(1, std::string());
    return true;
}

void FileUtils::setLauncherDirectory(const std::string& dir) {
    std::string d = dir;
    if (d.empty() || d.back() != '/') d += '/';
    launcherDirectory_ = d;
    searchPaths_.assign(1, launcherDirectory_);
    resolutionOrders_.assign(1, std::string());
    clearPathCache();
}

std::string FileUtils::anchored(const std::string& path) {
    if (path.empty() || isAbsolutePath(path)) return path;
    return launcherDirectory_ + path;
}

void FileUtils::clearPathCache() {
    std::lock_guard<std::mutex> lock(cacheMutex_);
    fullPathCache_.clear();
}

std::string FileUtils::fullPath(const std::string& name) {
    if (name.empty()) return std::string();
    if (isAbsolutePath(name)) return name;
    {
        std::lock_guard<std::mutex> lock(cacheMutex_);
        auto it = fullPathCache_.find(name);
        if (it != fullPathCache_.end()) return it->second;
    }
    const std::string normalized = normalizeName(name);
    for (const auto& searchPath : searchPaths_) {
        for (const auto& order : resolutionOrders_) {
            std::string found = pathForFilename(normalized, order, searchPath);
            if (!found.empty()) {
                std::lock_guard<std::mutex> lock(cacheMutex_);
                fullPathCache_[name] = found;
                return found;
            }
        }
    }
    return std::string();
}

std::string FileUtils::pathForFilename(const std::string& rawName, const std::string& rawOrder,
                                       const std::string& rawSearchPath) {
    // Either separator is taken in every piece.
    const std::string name = forwardSlashes(rawName);
    const std::string resolutionOrder = forwardSlashes(rawOrder);
    const std::string searchPath = forwardSlashes(rawSearchPath);
    std::string file = name;
    std::string dirPart;
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) {
        dirPart = name.substr(0, slash + 1);
        file = name.substr(slash + 1);
    }
    return fullPathForDirectoryAndFilename(searchPath + dirPart + resolutionOrder, file);
}

std::string FileUtils::fullPathForDirectoryAndFilename(const std::string& directory,
                                                       const std::string& filename) {
    std::string path = forwardSlashes(directory);
    if (!path.empty() && path.back() != '/') path += '/';
    path += forwardSlashes(filename);
    return fileExistsInternal(path) ? path : std::string();
}

std::string FileUtils::launcherDirectoryNative() {
    std::string dir = launcherDirectory_;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

void FileUtils::setWritableDirectory(const std::string& dir) {
    writableDirectoryOverride_ = dir;
}

bool FileUtils::fileExists(const std::string& path) {
    if (path.empty()) return false;
    if (isAbsolutePath(path)) return fileExistsInternal(path);
    return !fullPath(path).empty();
}

bool FileUtils::directoryExists(const std::string& path) {
    if (path.empty()) return false;
    if (isAbsolutePath(path)) return directoryExistsInternal(path);
    {
        std::unique_lock<std::mutex> lock(cacheMutex_);
        auto it = fullPathCache_.find(path);
        if (it != fullPathCache_.end()) {
            const std::string cached = it->second;
            lock.unlock();
            return directoryExistsInternal(cached);
        }
    }
    for (const auto& searchPath : searchPaths_) {
        for (const auto& order : resolutionOrders_) {
            const std::string candidate = fullPath(searchPath + path + order);
            if (!candidate.empty() && directoryExistsInternal(candidate)) {
                std::lock_guard<std::mutex> lock(cacheMutex_);
                fullPathCache_[path] = candidate;
                return true;
            }
        }
    }
    return false;
}

ReadStatus FileUtils::readCounted(const std::string& path, ResizableBuffer* buffer, size_t* count) {
    *count = 0;
    if (path.empty() || !buffer) return ReadStatus::Missing;
    const std::string resolved = fullPath(path);
    if (resolved.empty() || !fileExistsInternal(resolved)) return ReadStatus::Missing;

    // Only regular files: opening a FIFO or a device could block for ever.
    PathInfo before;
    if (!pathInfo(resolved, &before) || !before.regular) return ReadStatus::CannotOpen;
    FILE* f = openFile(resolved, "rb");
    if (!f) return ReadStatus::CannotOpen;
    PathInfo st;
    if (!openFileInfo(f, &st) || static_cast<uint64_t>(static_cast<size_t>(st.size)) != st.size) {
        std::fclose(f);
        return ReadStatus::CannotRead;
    }
    const size_t size = static_cast<size_t>(st.size);
    buffer->resize(size);
    if (size == 0) {
        std::fclose(f);
        return ReadStatus::Ok;
    }
    void* target = buffer->buffer();
    if (!target) {
        std::fclose(f);
        return ReadStatus::CannotRead;
    }
    const size_t got = std::fread(target, 1, size, f);
    std::fclose(f);
    *count = got;
    if (got < size) {
        buffer->resize(got);
        return ReadStatus::CannotRead;
    }
    return ReadStatus::Ok;
}

ReadStatus FileUtils::readInto(const std::string& path, ResizableBuffer* buffer) {
    size_t count = 0;
    return readCounted(path, buffer, &count);
}

std::string FileUtils::readText(const std::string& path) {
    std::string text;
    ResizableBufferAdapter<std::string> adapter(&text);
    readInto(path, &adapter);
    return text;
}

bool FileUtils::writeRaw(const void* bytes, size_t size, const std::string& path, const char* mode) {
    if (path.empty() || !mode) return false;
    FILE* f = openFile(anchored(path), mode);
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(bytes, 1, size, f) == size;
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

bool FileUtils::writeText(const std::string& text, const std::string& path) {
    return writeRaw(text.data(), text.size(), path, "wb");
}

}  // namespace veltrano
