#pragma once
// FileUtils on Windows: UTF-8 paths through the wide API.

#include "platform/FileUtils.h"

namespace veltrano {

class FileUtilsWin32 : public FileUtils {
public:
    FileUtilsWin32() = default;

    std::string launcherDirectoryNative() override;
    std::string executablePath() override;
    std::string writableDirectory() override;
    std::string toNativePath(const std::string& path) override;
    bool isAbsolutePath(const std::string& path) override;
    bool createDirectory(const std::string& path) override;
    bool removeDirectory(const std::string& path) override;
    bool removeFile(const std::string& path) override;
    bool renameFile(const std::string& oldPath, const std::string& newPath) override;
    uint64_t fileSize(const std::string& path) override;
    bool freeSpace(const std::string& path, uint64_t* bytes) override;
    bool syncFileSystem(const std::string& path) override;
    bool init() override;

protected:
    bool fileExistsInternal(const std::string& path) override;
    bool directoryExistsInternal(const std::string& path) override;
    std::string computeLauncherDirectory() override;

private:
    bool removeTree(const std::wstring& dir);
};

}  // namespace veltrano
