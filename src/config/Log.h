#pragma once
// The launcher's log: one time-stamped entry per call, from any thread.

#include <string>

namespace veltrano {

// printf-style. Pass texts that are not formats as writeLog("%s", text).
void writeLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Local time as "%4d/%02d/%02d %02d:%02d:%02d".
std::string timeStamp();

}  // namespace veltrano
