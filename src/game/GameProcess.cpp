#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "game/Game.h"
#include "platform/Process.h"

namespace veltrano {

void terminateProcessesByName(const std::string& exeName) {
    if (exeName.empty()) return;
    for (const ProcessEntry& p : listUserProcesses()) {
        if (p.exeName == exeName) killProcess(p.pid);
    }
}

bool killGameProcess() {
    const std::string& name = LauncherConfig::instance()->game_exe_name();
    std::string found;
    if (!name.empty()) {
        for (const ProcessEntry& p : listUserProcesses()) {
            if (p.exeName == name) {
                found = p.exePath.empty() ? p.exeName : p.exePath;
                break;
            }
        }
    }
    writeLog("killGameProcess:%s", found.c_str());
    return !found.empty();
}

}  // namespace veltrano
