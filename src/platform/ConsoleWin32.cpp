#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace veltrano {

FILE* detachStandardOutput(bool toStandardError) {
    std::fflush(stdout);
    const int outFd = _dup(_fileno(stdout));
    FILE* out = outFd >= 0 ? _fdopen(outFd, "wb") : nullptr;
    if (out == nullptr) {
        if (outFd >= 0) _close(outFd);
        return nullptr;
    }
    const int sink = toStandardError ? _dup(_fileno(stderr)) : _open("NUL", _O_WRONLY | _O_BINARY);
    if (sink >= 0) {
        _dup2(sink, _fileno(stdout));
        _close(sink);
    }
    return out;
}

void ignoreClosedOutputSignal() {}

bool writeConsoleNoWait(const std::string& bytes) {
    // A console or file takes the bytes at once; a pipe whose reader went away reports it closed.
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return true;
    DWORD written = 0;
    if (WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) return true;
    const DWORD error = GetLastError();
    return error != ERROR_BROKEN_PIPE && error != ERROR_NO_DATA && error != ERROR_INVALID_HANDLE;
}

bool isTerminal(FILE* stream) {
    return stream && _isatty(_fileno(stream));
}

}  // namespace veltrano
