#pragma once
// The version manifest served by the update server, and the decisions taken from it.

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltrano {

// What one manifest body leads to.
enum class ManifestAction {
    Finish,    // nothing to download: versions equal, or not forced while a local version exists
    Download,  // download the entry's archive
    Retry,     // not JSON or not an object: counts as a failed attempt
    Fail,      // unusable manifest: ends the run with VerFileFailed
};

struct ManifestDecision {
    ManifestAction action = ManifestAction::Fail;
    std::string svrVer;
    bool hasSvrVer = false;  // svrVer was read and may be logged and stored
    std::string name;
    int64_t size = 0;
    std::string md5;
    bool hasDownloadThread = false;
    int32_t downloadThread = 0;  // already clamped to 1..64
    std::string problem;         // why Fail or Retry, or a note about a clamped value
};

// Far more than any manifest holds; a server sending more is not believed, nor kept in memory.
constexpr size_t kMaxManifestBytes = size_t(4) << 20;

constexpr int32_t kMinDownloadThreads = 1;
constexpr int32_t kMaxDownloadThreads = 64;

// Judges a manifest body against the installed version. Versions compare byte for byte; only
// the JSON literal true forces an update.
ManifestDecision judgeManifest(const std::string& body, const std::string& curVer, bool noLocalVersion);

// Digests compare without regard to letter case; an empty digest never matches.
bool sameDigest(const std::string& a, const std::string& b);

// "game_dir" must name a sub-directory of the launcher directory: not empty, not absolute, no
// drive letter, no ".." segment, and not the launcher directory itself ("." or "./."). On
// failure *why says what is wrong.
bool isDedicatedGameDir(const std::string& gameDir, std::string* why);

// An archive name from the manifest becomes a file name in the writable directory.
bool isPlainFileName(const std::string& name);

}  // namespace veltrano
