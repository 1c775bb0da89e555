#include "update/Install.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "config/Log.h"
#include "platform/FileUtils.h"

namespace veltrano {

namespace {

std::mutex& exchangeMutex() {
    static std::mutex* m = new std::mutex();
    return *m;
}

std::function<void()>& exchangeMidpoint() {
    static std::function<void()> midpoint;
    return midpoint;
}

bool exists(FileUtils* fu, const std::string& path) {
    return fu->directoryExists(path) || fu->fileExists(path);
}

std::string parentOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

void removeLeftover(FileUtils* fu, const std::string& path, const char* what) {
    if (!fu->directoryExists(path)) return;
    if (fu->removeDirectory(path))
        writeLog("install: removed the %s %s", what, path.c_str());
    else
        writeLog("install: can not remove the %s %s", what, path.c_str());
}

}  // namespace

InstallPaths installPaths(const std::string& gameDirectory) {
    std::string game = gameDirectory;
    // "a//b/./game/" and "game" name the same folder; the siblings hang off its last segment.
    std::string clean;
    size_t start = 0;
    while (start < game.size()) {
        size_t end = game.find('/', start);
        if (end == std::string::npos) end = game.size();
        std::string segment = game.substr(start, end - start);
        if (segment != "." && !(segment.empty() && start > 0)) clean += (start == 0 ? "" : "/") + segment;
        start = end + 1;
    }
    InstallPaths p;
    p.game = clean;
    p.staging = clean + ".veltrano-staging";
    p.old = clean + ".veltrano-old";
    return p;
}

bool prepareStaging(const InstallPaths& paths) {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) return false;
    removeLeftover(fu, paths.staging, "leftover staging folder");
    // The old-tree name must be free before an exchange can use it.
    removeLeftover(fu, paths.old, "leftover old game folder");
    if (exists(fu, paths.staging) || exists(fu, paths.old)) {
        writeLog("install: can not clear %s", paths.staging.c_str());
        return false;
    }
    if (!fu->createDirectory(paths.staging)) {
        writeLog("install: can not create %s", paths.staging.c_str());
        return false;
    }
    return true;
}

void discardStaging(const InstallPaths& paths) {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr || !fu->directoryExists(paths.staging)) return;
    if (!fu->removeDirectory(paths.staging))
        writeLog("install: can not remove %s; the next start removes it", paths.staging.c_str());
}

bool putStagingInPlace(const InstallPaths& paths) {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) return false;
    // A power cut after the exchange must not leave empty files behind a present version file.
    if (!fu->syncFileSystem(paths.staging)) {
        writeLog("install: can not flush %s to disk: %s", paths.staging.c_str(), std::strerror(errno));
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(exchangeMutex());
        const bool hadGame = exists(fu, paths.game);
        if (hadGame && !fu->renameFile(paths.game, paths.old)) {
            writeLog("install: can not move %s aside: %s", paths.game.c_str(), std::strerror(errno));
            return false;
        }
        if (exchangeMidpoint()) exchangeMidpoint()();
        if (!fu->renameFile(paths.staging, paths.game)) {
            writeLog("install: can not move %s into place: %s", paths.staging.c_str(), std::strerror(errno));
            if (hadGame && !fu->renameFile(paths.old, paths.game))
                writeLog("install: can not move %s back; the next start does", paths.old.c_str());
            return false;
        }
    }
    // The renames themselves reach the disk; outside the lock, so that a closing launcher does not wait.
    fu->syncFileSystem(parentOf(paths.game));
    if (fu->directoryExists(paths.old) && !fu->removeDirectory(paths.old))
        writeLog("install: can not remove the old game %s; the next start does", paths.old.c_str());
    return true;
}

void restoreInterruptedGame(const InstallPaths& paths) {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr || exists(fu, paths.game) || !fu->directoryExists(paths.old)) return;
    // Cut off between the two renames: the update did not finish, so the old game comes back.
    if (fu->renameFile(paths.old, paths.game))
        writeLog("install: %s was missing; put the game from %s back", paths.game.c_str(), paths.old.c_str());
    else
        writeLog("install: %s is missing and %s can not be put back: %s", paths.game.c_str(),
                 paths.old.c_str(), std::strerror(errno));
}

void recoverInterruptedInstall(const InstallPaths& paths) {
    FileUtils* fu = FileUtils::instance();
    if (fu == nullptr) return;
    removeLeftover(fu, paths.staging, "unfinished update in");
    if (fu->directoryExists(paths.old) && exists(fu, paths.game)) {
        removeLeftover(fu, paths.old, "replaced game in");
        return;
    }
    restoreInterruptedGame(paths);
}

void holdInstallExchanges() {
    // Never released: the process is ending.
    exchangeMutex().lock();
}

void setExchangeMidpointForTesting(std::function<void()> midpoint) {
    std::lock_guard<std::mutex> lock(exchangeMutex());
    exchangeMidpoint() = std::move(midpoint);
}

}  // namespace veltrano
