#include "platform/FileUtilsWin32.h"

#include <windows.h>

#include <shlobj.h>

#include "platform/Wide.h"

namespace veltrano {

namespace {

std::string slashes(std::string s) {
    for (auto& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

DWORD attributesOf(const std::string& path) {
    return GetFileAttributesW(toWide(path).c_str());
}

std::wstring modulePath() {
    // Long paths: grow until the whole name fits.
    std::wstring buf(512, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return {};
        if (n < buf.size()) {
            buf.resize(n);
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

// A file that refuses removal because it is read-only loses that attribute and is tried again.
bool deleteClearing(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return true;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) return false;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) != 0;
}

}  // namespace

bool FileUtilsWin32::init() {
    return FileUtils::init();
}

std::string FileUtilsWin32::executablePath() {
    return fromWide(modulePath());
}

std::string FileUtilsWin32::computeLauncherDirectory() {
    const std::wstring exe = modulePath();
    const size_t cut = exe.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return "./";
    return slashes(fromWide(exe.substr(0, cut + 1)));
}

std::string FileUtilsWin32::launcherDirectoryNative() {
    std::string dir = FileUtils::launcherDirectoryNative();
    for (auto& c : dir) {
        if (c == '/') c = '\\';
    }
    return dir;
}

std::string FileUtilsWin32::writableDirectory() {
    if (!writableDirectoryOverride_.empty()) return writableDirectoryOverride_;

    std::wstring name = modulePath();
    const size_t cut = name.find_last_of(L"\\/");
    if (cut != std::wstring::npos) name = name.substr(cut + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name = name.substr(0, dot);

    wchar_t base[MAX_PATH] = {};
    if (!name.empty() && SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, base))) {
        const std::wstring dir = std::wstring(base) + L"\\" + name + L"\\";
        const int rc = SHCreateDirectoryExW(nullptr, dir.c_str(), nullptr);
        if (rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS)
            return slashes(fromWide(dir));
    }
    return launcherDirectory_;
}

std::string FileUtilsWin32::toNativePath(const std::string& path) {
    // The system's ANSI code page, for the narrow calls of other programs; the launcher itself
    // opens files by their wide names.
    const std::wstring wide = toWide(path);
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

bool FileUtilsWin32::isAbsolutePath(const std::string& path) {
    if (path.size() > 2 && path[1] == ':' &&
        ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z')))
        return true;
    return path.size() >= 2 && (path[0] == '/' || path[0] == '\\') && (path[1] == '/' || path[1] == '\\');
}

bool FileUtilsWin32::fileExistsInternal(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = attributesOf(anchored(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileUtilsWin32::directoryExistsInternal(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = attributesOf(anchored(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileUtilsWin32::createDirectory(const std::string& path) {
    if (path.empty()) return false;
    if (directoryExists(path)) return true;
    const std::string full = anchored(path);
    if (attributesOf(full) != INVALID_FILE_ATTRIBUTES) return true;  // something is there; not replaced

    std::string prefix;
    for (size_t i = 0; i < full.size(); ++i) {
        prefix += full[i];
        const bool separator = full[i] == '/' || full[i] == '\\';
        if (!separator && i + 1 != full.size()) continue;
        // "C:/" and the "//server/share/" head of a network path are not made.
        if (prefix.size() <= 3 && prefix.size() >= 2 && prefix[1] == ':') continue;
        if (prefix == "/" || prefix == "//" || prefix == "\\\\") continue;
        if (directoryExistsInternal(prefix)) continue;
        if (!CreateDirectoryW(toWide(prefix).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}

bool FileUtilsWin32::removeTree(const std::wstring& dir) {
    // A read-only folder keeps its entries; clear that first.
    const std::wstring self = dir.substr(0, dir.size() - 1);
    const DWORD own = GetFileAttributesW(self.c_str());
    if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(self.c_str(), own & ~DWORD(FILE_ATTRIBUTE_READONLY));

    WIN32_FIND_DATAW found;
    HANDLE find =
        FindFirstFileExW((dir + L"*").c_str(), FindExInfoStandard, &found, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring child = dir + name;
        const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        if (folder && !link) {
            if (ok && !removeTree(child + L"\\")) ok = false;
        } else if (folder) {
            // A linked folder is removed as a link, never followed out of the tree.
            if (ok && !RemoveDirectoryW(child.c_str())) ok = false;
        } else {
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (ok && !DeleteFileW(child.c_str())) ok = false;
        }
    } while (FindNextFileW(find, &found));
    FindClose(find);
    if (!ok) return false;
    return RemoveDirectoryW(self.c_str()) != 0;
}

bool FileUtilsWin32::removeDirectory(const std::string& path) {
    if (path.empty()) return false;
    std::wstring dir = toWidePath(anchored(path));
    while (dir.size() > 1 && dir.back() == L'\\') dir.pop_back();
    const DWORD attributes = GetFileAttributesW(dir.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;  // a link named as the folder
    return removeTree(dir + L"\\");
}

bool FileUtilsWin32::removeFile(const std::string& path) {
    if (path.empty()) return false;
    return deleteClearing(toWidePath(anchored(path)));
}

bool FileUtilsWin32::renameFile(const std::string& oldPath, const std::string& newPath) {
    if (oldPath.empty() || newPath.empty()) return false;
    const std::wstring from = toWidePath(anchored(oldPath));
    const std::wstring to = toWidePath(anchored(newPath));
    // Replaced in one step, so the target is never lost when the move fails; a read-only target
    // would refuse that, so it gives up the attribute first.
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(to.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

uint64_t FileUtilsWin32::fileSize(const std::string& path) {
    if (path.empty()) return 0;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(toWide(anchored(path)).c_str(), GetFileExInfoStandard, &data)) return 0;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool FileUtilsWin32::freeSpace(const std::string& path, uint64_t* bytes) {
    if (path.empty()) return false;
    ULARGE_INTEGER available{};
    // The path need not be a folder root; the quota of this user is what counts.
    if (!GetDiskFreeSpaceExW(toWidePath(anchored(path)).c_str(), &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

bool FileUtilsWin32::syncFileSystem(const std::string& path) {
    // Flushing a whole volume needs an administrator, so every extracted file is flushed as it is
    // closed (closeWrittenFile) and the renames are made write-through; here only the path is checked.
    return !path.empty() && GetFileAttributesW(toWidePath(anchored(path)).c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace veltrano
