#pragma once
// Files by UTF-8 path on either system: C runtime streams opened through the system's own path form
// (wide names on Windows), the facts of a path, and local time. The core opens no file any other way.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

namespace veltrano {

struct PathInfo {
    bool regular = false;
    bool directory = false;
    bool link = false;  // the path names a symbolic link (seen only when links are not followed)
    uint64_t size = 0;
    int64_t modified = 0;      // seconds since 1970-01-01 UTC
    unsigned permissions = 0;  // POSIX permission bits; on Windows 0444 or 0644 (plus 0111 for folders)
};

// Opens with a C runtime mode ("rb", "wb", "ab", "r+b"); the stream is not inherited by programs the
// launcher starts. Null on failure (errno tells why).
FILE* openFile(const std::string& path, const char* mode);

// False when nothing is at the path. With followLinks false a symbolic link is described itself.
bool pathInfo(const std::string& path, PathInfo* info, bool followLinks = true);
// The facts of an open stream.
bool openFileInfo(FILE* file, PathInfo* info);

// Sets the POSIX permission bits; Windows keeps only whether the owner may write (read-only).
bool setPermissions(const std::string& path, unsigned permissions);

// Creates a new file for writing ("wb") only when nothing is at the path, never through a link.
// Null on failure (errno tells why: EEXIST when something is there).
FILE* openNewFile(const std::string& path);
// Sets the POSIX permission bits of an open stream; Windows keeps only whether the owner may write.
bool setOpenFilePermissions(FILE* file, unsigned permissions);
// Closes a stream that was written; false when its data could not be written out. On Windows the
// data is also flushed to the disk here, since Windows lets no user flush a whole file system.
bool closeWrittenFile(FILE* file);

// Makes one folder; true also when a real folder (not a link to one) is already there.
bool createDirectoryNoFollow(const std::string& path);

// Moves a file over another in one step (the target is replaced when it exists).
bool replaceFile(const std::string& from, const std::string& to);

// Removes one file (not a folder). False when it could not be removed.
bool deleteFile(const std::string& path);

// Appends the bytes at the end of the file in one write, creating the file when missing.
bool appendToFile(const std::string& path, const std::string& bytes);

// True when the path does not depend on the working directory: "/x" here, "C:x", "\\x" or "//x" on Windows.
bool isSystemAbsolutePath(const std::string& path);

// The path made absolute against the working directory, "." and ".." steps resolved without looking
// at the disk; "/" separators. The path itself when that fails.
std::string absolutePath(const std::string& path);

// The broken-down local time of t; false when the system cannot convert it.
bool localTime(std::time_t t, std::tm* out);

}  // namespace veltrano
