#include "platform/Console.h"

#include <fcntl.h>
#include <io.h>

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

bool isTerminal(FILE* stream) {
    return stream && _isatty(_fileno(stream));
}

}  // namespace veltrano
