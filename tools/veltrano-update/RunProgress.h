#pragma once
// How a run of the update engine is shown on a terminal or to scripts, and how its outcome maps
// to the headless runner's exit status.

#include <cstdint>
#include <string>

namespace veltrano {

// Exit statuses of veltrano-update.
enum RunExitStatus : int {
    kExitOk = 0,
    kExitUsage = 1,
    kExitConfig = 2,            // launcher.cfg missing or not a JSON object
    kExitVerFileFailed = 3,     // 1101
    kExitDownloadFailed = 4,    // 1102
    kExitDecompressFailed = 5,  // 1106
    kExitVersionMismatch = 6,   // 1113
    kExitGameDirInvalid = 7,    // 1120
    kExitGameStartFailed = 8,   // the login was handed over but the game did not start
    kExitStalled = 9,           // nothing happened for the stall timeout
    kExitAlreadyRunning = 10,   // another launcher holds the single-instance lock
    kExitInternal = 11,         // an outcome code this runner does not know
    kExitNoDiskSpace = 12,      // 1121
};

// Exit status for an outcome code of the Updater (0 for Ok).
int exitStatusForCode(int code);
// One-line explanation of an outcome code for people.
const char* describeCode(int code);
// "checking", "downloading", "installing", "finished" for the Updater states 0..3.
const char* phaseName(int state);

// 1536 -> "1.5 KiB"; below 1024 plain bytes ("512 B").
std::string formatBytes(double bytes);
// Whole seconds as "m:ss" or "h:mm:ss"; negative or not finite gives "--:--".
std::string formatDuration(double seconds);
// Text for a JSON string value, quotes included.
std::string jsonString(const std::string& text);

// What a progress display knows at one moment.
struct ProgressView {
    int state = 0;
    double total = 0;            // bytes or entries
    double done = 0;             // bytes, or the zero-based index of the entry just extracted
    double bytesPerSecond = -1;  // downloads only; negative when unknown
};

// Completion in percent, 0..100: bytes done for a download, entries finished for extraction.
double progressPercent(const ProgressView& view);
// Seconds left at the current speed; negative when unknown.
double secondsLeft(const ProgressView& view);
// "downloading  42.0%  420.0 MiB / 1000.0 MiB  50.0 MiB/s  0:11 left" and the like.
std::string progressText(const ProgressView& view);
// One JSON object for scripts: {"event":"progress","phase":...,"total":...,"done":...,...}.
std::string progressJson(const ProgressView& view);

}  // namespace veltrano
