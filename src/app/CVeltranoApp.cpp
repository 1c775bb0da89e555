#include "app/CVeltranoApp.h"

#include "app/LaunchParams.h"
#include "app/StartupSteps.h"
#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "platform/CommandLine.h"
#include "platform/Desktop.h"
#include "platform/FileUtils.h"
#include "platform/Process.h"
#include "report/Report.h"

namespace veltrano {

namespace {

constexpr unsigned kReportLauncherStart = 1001;

// The launcher's icon as the menu entry and the shortcut name it; empty without a configured icon.
std::string launcherIconPath(FileUtils* files) {
    const std::string& icon = LauncherConfig::instance()->launcher_icon();
    if (icon.empty()) return {};
    return files->launcherDirectoryNative() + "/" + icon;
}

void takeFileParam(FileUtils* files) {
    const std::string path = files->launcherDirectory() + "fileparam.txt";
    const std::string fromInstaller = fileParamFromExeName(findParentProcessExeName());
    if (!fromInstaller.empty()) {
        LaunchParams::instance()->setFileparam(fromInstaller);
        files->writeText(fromInstaller, path);
    }
    // The file keeps the parameter for later starts that do not come from the installer.
    if (files->fileExists(path)) LaunchParams::instance()->setFileparam(files->readText(path));
}

void applyOptions(const StartupOptions& options) {
    LaunchParams* params = LaunchParams::instance();
    if (options.parentWindow) params->setParentWindow(*options.parentWindow);
    if (options.token) params->setToken(*options.token);
    if (options.source) params->setSource(*options.source);
    if (options.serverid) params->setServerid(*options.serverid);
    if (options.fcext) params->setFcext(*options.fcext);
}

}  // namespace

CVeltranoApp::CVeltranoApp(int argc, char** argv) {
    for (int i = 0; i < argc && argv && argv[i]; ++i) arguments_.emplace_back(argv[i]);
}

void CVeltranoApp::setOwnerDialogRunner(std::function<void()> runner) {
    ownerDialogRunner_ = std::move(runner);
}

bool CVeltranoApp::InitInstance() {
    // Before anything else, so that a second launcher changes nothing at all.
    if (!instanceMutex_.acquire()) return false;
    ranStartup_ = true;

    std::vector<const char*> argv;
    for (const std::string& a : arguments_) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    setApplicationArguments(static_cast<int>(arguments_.size()), argv.data());

    LauncherConfig* config = LauncherConfig::instance();
    config->load();

    FileUtils* files = FileUtils::instance();
    if (files) {
        takeFileParam(files);
        writeLog("%s", files->launcherDirectory().c_str());
        writeLog("%s", files->writableDirectory().c_str());
        writeUninstallEntry(config->app_name(), files->executablePath(), launcherIconPath(files));
    }

    const StartupOptions options = parseStartupCommandLine(applicationCommandLine());
    userName_ = options.userName;
    applyOptions(options);

    if (options.makeShortcut && files) {
        const std::string link = shortcutPathForName(config->app_name());
        if (!link.empty()) createShortcut(files->executablePath(), "", link, launcherIconPath(files));
    }

    writeLog("cmd line6");

    initReport(userName_);
    sendReport(kReportLauncherStart);

    if (ownerDialogRunner_) ownerDialogRunner_();
    return false;
}

int CVeltranoApp::ExitInstance() {
    return 0;
}

}  // namespace veltrano
