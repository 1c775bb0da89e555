// The manifest judge on server answers: never a crash, and every decision is one the run can act on.

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "update/Manifest.h"

using namespace veltrano;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The whole input is the body; its length picks the installed state.
    const bool noLocalVersion = size % 2 != 0;
    const std::string curVer = size % 3 == 0 ? "1.0.7" : "1.0.0";
    const std::string body(reinterpret_cast<const char*>(data), size);
    const ManifestDecision d = judgeManifest(body, curVer, noLocalVersion);
    switch (d.action) {
        case ManifestAction::Download:
            fuzz::require(isPlainFileName(d.name), "a download names a path: " + d.name);
            fuzz::require(d.size > 0, "a download without a positive size");
            fuzz::require(d.hasSvrVer && d.svrVer != curVer, "a download of the installed version");
            break;
        case ManifestAction::Finish:
            fuzz::require(d.hasSvrVer, "a finish without a version");
            break;
        case ManifestAction::Retry:
        case ManifestAction::Fail:
            fuzz::require(!d.problem.empty(), "a failure without a reason");
            break;
    }
    if (d.hasDownloadThread)
        fuzz::require(d.downloadThread >= kMinDownloadThreads && d.downloadThread <= kMaxDownloadThreads,
                      "downloadThread out of range");
    return 0;
}
