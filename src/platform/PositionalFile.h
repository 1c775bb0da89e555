#pragma once
// A file read and written at explicit offsets, from several threads at once (each call is one
// positioned system call, so writers of different regions never disturb each other).

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrano {

class PositionalFile {
public:
    PositionalFile() = default;
    ~PositionalFile();
    PositionalFile(const PositionalFile&) = delete;
    PositionalFile& operator=(const PositionalFile&) = delete;

    // Opens for reading and writing; create makes a missing file (never truncates). False with
    // error() set when it cannot be opened.
    bool open(const std::string& path, bool create);
    // Opens an existing regular file for reading only; false with error() set otherwise.
    bool openForReading(const std::string& path);
    void close();
    bool isOpen() const { return handle_ != -1; }

    // Cuts the file to 0 bytes and reserves size bytes of disk for it, so that later writes do not
    // fail for space and the file does not fragment. Where the file system cannot reserve, the file
    // is only extended (sparse).
    bool reset(uint64_t size);
    // Whole file size; false when it cannot be read.
    bool size(uint64_t* out);
    // Writes all n bytes at offset. Safe from several threads; on failure errno tells why (ENOSPC
    // for a full disk on either system).
    bool writeAt(const void* data, size_t n, uint64_t offset);
    // Starts writing that region to the disk without waiting for it, where the system allows, so that a
    // later flush has little left to do. Safe from several threads.
    void startWriteOut(uint64_t offset, uint64_t n);
    // Reads up to n bytes at offset; the count read (short only at the end of the file), -1 on error
    // (errno tells why). Safe from several threads.
    long long readAt(void* data, size_t n, uint64_t offset);

    // strerror text of the last failure of open, reset or size.
    const std::string& error() const { return error_; }

private:
    intptr_t handle_ = -1;  // a descriptor, or a Windows HANDLE
    std::string error_;
};

}  // namespace veltrano
