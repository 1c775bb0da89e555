#include "platform/Console.h"

#include <fcntl.h>
#include <unistd.h>

namespace veltrano {

FILE* detachStandardOutput(bool toStandardError) {
    const int outFd = ::dup(STDOUT_FILENO);
    FILE* out = outFd >= 0 ? ::fdopen(outFd, "w") : nullptr;
    if (out == nullptr) {
        if (outFd >= 0) ::close(outFd);
        return nullptr;
    }
    const int sink = toStandardError ? ::dup(STDERR_FILENO) : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink >= 0) {
        std::fflush(stdout);
        ::dup2(sink, STDOUT_FILENO);
        ::close(sink);
    }
    return out;
}

bool isTerminal(FILE* stream) {
    return stream && ::isatty(fileno(stream));
}

}  // namespace veltrano
