// launcher.cfg as anyone may have edited it: loading never crashes and a failed load keeps defaults.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "FuzzSupport.h"
#include "config/LauncherConfig.h"
#include "platform/FileUtils.h"

using namespace veltrano;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = [] {
        const std::string folder = fuzz::privateFolder();
        FileUtils::instance()->setLauncherDirectory(folder);
        return folder;
    }();
    {
        std::ofstream out(dir + "launcher.cfg", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    LauncherConfig* cfg = LauncherConfig::instance();
    cfg->reset();
    if (!cfg->load()) {
        fuzz::require(cfg->logPath().empty() && cfg->downlaod_text().empty() && cfg->win_width() == 1136,
                      "a refused launcher.cfg left values behind");
    }
    cfg->reset();
    return 0;
}
