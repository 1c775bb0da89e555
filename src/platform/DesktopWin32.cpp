#include "platform/Desktop.h"

#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shlobj.h>

#include "platform/Wide.h"

namespace veltrano {

namespace {

std::wstring specialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return {};
    return path;
}

bool setText(HKEY key, const wchar_t* name, const std::wstring& value) {
    // REG_SZ lengths count bytes, the terminating zero included.
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
           ERROR_SUCCESS;
}

template <typename T>
void release(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

}  // namespace

std::string userDataDirectory() {
    std::string dir = fromWide(specialFolder(CSIDL_LOCAL_APPDATA));
    for (auto& c : dir) {
        if (c == '\\') c = '/';
    }
    return dir;
}

bool writeUninstallEntry(const std::string&, const std::string&, const std::string&) {
    const std::wstring folder = specialFolder(CSIDL_APPDATA);
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qrvn",
                        0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const bool ok = setText(key, L"UninstallString", folder + L"\\QRVN-FLASH\\uninstall.exe") &&
                    setText(key, L"DisplayIcon", folder + L"\\QRVN-FLASH\\Launcher-FlashGame-QRVN.exe");
    RegCloseKey(key);
    return ok;
}

bool createShortcut(const std::string& target, const std::string& arguments, const std::string& shortcutPath,
                    const std::string& iconPath) {
    const HRESULT init = CoInitialize(nullptr);
    if (FAILED(init)) return false;
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         reinterpret_cast<void**>(&link)));
    if (ok) {
        // The shell keeps these texts as given and other programs read them with "\" only.
        const size_t cut = target.find_last_of("/\\");
        link->SetPath(toWidePath(target).c_str());
        link->SetWorkingDirectory(
            toWidePath(cut == std::string::npos ? std::string() : target.substr(0, cut)).c_str());
        link->SetArguments(toWide(arguments).c_str());
        if (!iconPath.empty()) link->SetIconLocation(toWidePath(iconPath).c_str(), 0);
        ok = SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
             SUCCEEDED(file->Save(toWide(shortcutPath).c_str(), FALSE));
    }
    release(file);
    release(link);
    CoUninitialize();
    return ok;
}

std::string shortcutPathForName(const std::string& appName) {
    if (appName.empty() || appName == "." || appName == ".." ||
        appName.find_first_of("/\\") != std::string::npos)
        return {};
    const std::wstring desktop = specialFolder(CSIDL_DESKTOPDIRECTORY);
    if (desktop.empty()) return {};
    return fromWide(desktop) + "\\" + appName + ".lnk";
}

}  // namespace veltrano
