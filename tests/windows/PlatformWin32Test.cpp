// The Win32 platform layer on a real Windows API (under wine in CI).
#include <gtest/gtest.h>
#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>
#include <shlobj.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "WinTestSupport.h"
#include "app/LaunchParams.h"
#include "game/Game.h"
#include "pack/Pack.h"
#include "platform/CommandLine.h"
#include "platform/Desktop.h"
#include "platform/File.h"
#include "platform/FileUtils.h"
#include "platform/PositionalFile.h"
#include "platform/Process.h"
#include "platform/SingleInstance.h"
#include "platform/Wide.h"
#include "update/Unzip.h"

namespace veltrano {
namespace {

using test::tempRoot;
using test::waitFor;

bool isRunning(ProcessId pid) {
    for (const ProcessEntry& p : listUserProcesses()) {
        if (p.pid == pid) return true;
    }
    return false;
}

// A private folder whose name holds Chinese characters, removed with everything in it.
class WindowsPlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        files = FileUtils::instance();
        ASSERT_NE(files, nullptr);
        root = tempRoot() + "veltrano-测试-" + std::to_string(currentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/启动器/";
        ASSERT_TRUE(files->createDirectory(root));
        ASSERT_TRUE(files->directoryExists(root));
    }
    void TearDown() override { files->removeDirectory(root.substr(0, root.find("/启动器/") + 1)); }

    std::string helper() const { return files->launcherDirectory() + "win_helper.exe"; }
    // A copy of the helper under another name, as a game or a stray program would be.
    std::string helperCopy(const std::string& name) const {
        const std::string path = root + name;
        EXPECT_TRUE(CopyFileW(toWide(helper()).c_str(), toWide(path).c_str(), FALSE)) << path;
        return path;
    }

    FileUtils* files = nullptr;
    std::string root;
};

TEST_F(WindowsPlatformTest, ChineseFolderNamesAreReadWrittenRenamedAndRemoved) {
    const std::string dir = root + "游戏/资源/";
    ASSERT_TRUE(files->createDirectory(dir));
    const std::string file = dir + "版本.txt";
    ASSERT_TRUE(files->writeText("3.0.1", file));
    EXPECT_TRUE(files->fileExists(file));
    EXPECT_EQ(files->readText(file), "3.0.1");
    EXPECT_EQ(files->fileSize(file), 5u);

    const std::string renamed = dir + "新版本.txt";
    ASSERT_TRUE(files->writeText("old", renamed));
    ASSERT_TRUE(files->renameFile(file, renamed)) << "the target is replaced";
    EXPECT_FALSE(files->fileExists(file));
    EXPECT_EQ(files->readText(renamed), "3.0.1");

    ASSERT_TRUE(files->removeFile(renamed));
    EXPECT_FALSE(files->fileExists(renamed));
    ASSERT_TRUE(files->removeDirectory(root + "游戏/"));
    EXPECT_FALSE(files->directoryExists(root + "游戏/"));
}

TEST_F(WindowsPlatformTest, AnArchiveInAChineseFolderIsExtractedIntoOne) {
    // Written straight into the folder: the packer opens its archive by the wide name.
    const std::string archive = root + "游戏.zip";
    ZipWriter zip;
    ASSERT_TRUE(zip.open(archive));
    ASSERT_TRUE(zip.addBytes("version", "3.0.1"));
    ASSERT_TRUE(zip.addBytes("数据/地图.bin", std::string("\x00\x01\x02\xff", 4)));
    // A later entry of the same name replaces the file the earlier one made.
    ASSERT_TRUE(zip.addBytes("version", "3.0.2"));
    ASSERT_TRUE(zip.close());

    const std::string dest = root + "安装/";
    ASSERT_TRUE(files->createDirectory(dest));
    ASSERT_TRUE(uncompressDir(archive.c_str(), dest.c_str(), nullptr));
    EXPECT_EQ(files->readText(dest + "version"), "3.0.2");
    EXPECT_EQ(files->readText(dest + "数据/地图.bin"), std::string("\x00\x01\x02\xff", 4));
}

TEST_F(WindowsPlatformTest, ReadOnlyFilesAreRemovedAlone_AndInsideAFolder) {
    const std::string lone = root + "只读.txt";
    ASSERT_TRUE(files->writeText("x", lone));
    ASSERT_TRUE(setPermissions(lone, 0444));
    PathInfo info;
    ASSERT_TRUE(pathInfo(lone, &info));
    ASSERT_EQ(info.permissions, 0444u) << "the read-only attribute is set";
    EXPECT_TRUE(files->removeFile(lone));
    EXPECT_FALSE(files->fileExists(lone));

    const std::string tree = root + "树/";
    ASSERT_TRUE(files->createDirectory(tree + "子/"));
    ASSERT_TRUE(files->writeText("y", tree + "子/只读.bin"));
    ASSERT_TRUE(setPermissions(tree + "子/只读.bin", 0444));
    EXPECT_TRUE(files->removeDirectory(tree));
    EXPECT_FALSE(files->directoryExists(tree));
}

TEST_F(WindowsPlatformTest, RenameReplacesAReadOnlyTarget) {
    ASSERT_TRUE(files->writeText("new", root + "a.tmp"));
    ASSERT_TRUE(files->writeText("old", root + "a"));
    ASSERT_TRUE(setPermissions(root + "a", 0444));
    ASSERT_TRUE(files->renameFile(root + "a.tmp", root + "a"));
    EXPECT_EQ(files->readText(root + "a"), "new");
}

TEST_F(WindowsPlatformTest, SizesBeyondFourGigabytesAreWhole) {
    const std::string big = root + "大.bin";
    HANDLE h = CreateFileW(toWide(big).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    LARGE_INTEGER at;
    at.QuadPart = (5LL << 30);
    // A sparse-looking end: only the size matters here.
    const bool sized = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
    CloseHandle(h);
    if (!sized) GTEST_SKIP() << "the file system here cannot hold a 5 GiB file";
    EXPECT_EQ(files->fileSize(big), uint64_t(5) << 30);
}

TEST_F(WindowsPlatformTest, PositionalFilesReachOffsetsBeyondFourGigabytes) {
    const std::string path = root + "下载.part";
    PositionalFile file;
    ASSERT_TRUE(file.open(path, true)) << file.error();
    ASSERT_TRUE(file.reset(100)) << file.error();
    uint64_t size = 0;
    ASSERT_TRUE(file.size(&size));
    EXPECT_EQ(size, 100u);

    const uint64_t beyond = (uint64_t(4) << 30) + 10;
    if (!file.writeAt("tail", 4, beyond)) GTEST_SKIP() << "the file system here cannot hold a 4 GiB file";
    ASSERT_TRUE(file.writeAt("head", 4, 0));
    ASSERT_TRUE(file.size(&size));
    EXPECT_EQ(size, beyond + 4);

    char got[8] = {};
    EXPECT_EQ(file.readAt(got, 4, beyond), 4);
    EXPECT_EQ(std::string(got, 4), "tail") << "not wrapped around to offset 10";
    EXPECT_EQ(file.readAt(got, 4, 10), 4);
    EXPECT_EQ(std::string(got, 4), std::string(4, '\0'));
    EXPECT_EQ(file.readAt(got, 8, beyond + 2), 2) << "short only at the end";
    EXPECT_EQ(file.readAt(got, 4, beyond + 4), 0);
    file.close();

    PositionalFile reader;
    ASSERT_TRUE(reader.openForReading(path)) << reader.error();
    EXPECT_EQ(reader.readAt(got, 4, 0), 4);
    EXPECT_EQ(std::string(got, 4), "head");
    EXPECT_FALSE(reader.writeAt("x", 1, 0)) << "opened for reading only";
    EXPECT_FALSE(reader.openForReading(root)) << "a folder is no file";
}

TEST(WindowsThreadPriority, OnlyTheCallingThreadYields) {
    const int before = GetThreadPriority(GetCurrentThread());
    int inside = before;
    std::thread([&] {
        ASSERT_TRUE(lowerCurrentThreadPriority());
        inside = GetThreadPriority(GetCurrentThread());
    }).join();
    EXPECT_LT(inside, before);
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), before);
}

TEST_F(WindowsPlatformTest, ASecondInstanceIsRefusedByTheNamedMutex) {
    SingleInstance first;
    ASSERT_TRUE(first.acquire());
    SingleInstance second;
    EXPECT_FALSE(second.acquire());
    EXPECT_FALSE(second.held());
    first.release();
    EXPECT_TRUE(second.acquire()) << "free again once the first let go";
}

TEST_F(WindowsPlatformTest, EndingByNameEndsThatProgramAndLeavesAnotherAlone) {
    const std::string victim = helperCopy("victim.exe");
    const std::string bystander = helperCopy("bystander.exe");
    ProcessId victimPid = 0, bystanderPid = 0;
    int error = 0;
    ASSERT_TRUE(spawnProcess({victim, "sleep"}, "", &victimPid, &error)) << error;
    ASSERT_TRUE(spawnProcess({bystander, "sleep"}, "", &bystanderPid, &error)) << error;
    ASSERT_TRUE(waitFor([&] { return isRunning(victimPid) && isRunning(bystanderPid); }));

    terminateProcessesByName("victim.exe");
    EXPECT_TRUE(waitFor([&] { return !isRunning(victimPid); }));
    EXPECT_TRUE(isRunning(bystanderPid));
    EXPECT_FALSE(killProcess(currentProcessId())) << "never the calling process";

    EXPECT_TRUE(killProcess(bystanderPid));
    EXPECT_TRUE(waitFor([&] { return !isRunning(bystanderPid); }));
}

TEST_F(WindowsPlatformTest, TheGameCommandLineReachesTheGameAsSplit) {
    ASSERT_TRUE(files->createDirectory(root + "game dir/"));
    CopyFileW(toWide(helper()).c_str(), toWide(root + "game dir/游戏.exe").c_str(), FALSE);
    const std::string launcherLine = quoteWindowsArgument("--token=a b") + " " +
                                     quoteWindowsArgument("say \"hi\"") + " " +
                                     quoteWindowsArgument("C:\\trailing\\") + " --source=门户";
    const std::string cmd =
        buildGameCommandLine(root, "game dir", "游戏.exe", launcherLine, "42", "dG9rZW4=", "{\"x\": 1}");
    ProcessId pid = 0;
    int error = 0;
    ASSERT_TRUE(startProcess(cmd, "", &pid, &error)) << "error " << error;
    const std::string argvFile = root + "/game dir/argv.txt";

    std::string expected;
    for (const std::string& a : splitWindowsCommandLine(cmd, true)) expected += a + '\0';
    EXPECT_EQ(test::readOnceWritten(argvFile), expected);
}

TEST_F(WindowsPlatformTest, UninstallEntryAndShortcutAreWrittenAsTheShellReadsThem) {
    ASSERT_TRUE(writeUninstallEntry("Emberfall", helper(), ""));
    wchar_t appData[MAX_PATH] = {};
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, appData, CSIDL_APPDATA, FALSE));
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\qrvn";
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"UninstallString", L"\\QRVN-FLASH\\uninstall.exe"},
        {L"DisplayIcon", L"\\QRVN-FLASH\\Launcher-FlashGame-QRVN.exe"}};
    for (const auto& [name, tail] : rows) {
        wchar_t value[1024] = {};
        DWORD size = sizeof value;
        DWORD type = 0;
        ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_ANY, &type, value, &size), ERROR_SUCCESS);
        EXPECT_EQ(type, DWORD(REG_SZ));
        EXPECT_EQ(std::wstring(value), std::wstring(appData) + tail);
    }

    const std::string target = root + "启动器.exe";
    const std::string link = root + "翡翠.lnk";
    const std::string icon = root + "res/icon.ico";
    ASSERT_TRUE(files->writeText("MZ", target));
    ASSERT_TRUE(createShortcut(target, "", link, icon));
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    IShellLinkW* shell = nullptr;
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                           reinterpret_cast<void**>(&shell))));
    ASSERT_TRUE(SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    ASSERT_TRUE(SUCCEEDED(file->Load(toWide(link).c_str(), STGM_READ)));
    wchar_t text[MAX_PATH] = {};
    int index = -1;
    // The target as the shell resolves it (wine's GetPath gives the link's narrow copy of the name).
    PIDLIST_ABSOLUTE item = nullptr;
    ASSERT_TRUE(SUCCEEDED(shell->GetIDList(&item)));
    ASSERT_TRUE(SHGetPathFromIDListW(item, text));
    CoTaskMemFree(item);
    EXPECT_EQ(fromWide(text), fromWide(toWidePath(target)));
    ASSERT_TRUE(SUCCEEDED(shell->GetWorkingDirectory(text, MAX_PATH)));
    EXPECT_EQ(fromWide(text), fromWide(toWidePath(root.substr(0, root.size() - 1))));
    ASSERT_TRUE(SUCCEEDED(shell->GetIconLocation(text, MAX_PATH, &index)));
    EXPECT_EQ(fromWide(text), fromWide(toWidePath(icon)));
    EXPECT_EQ(index, 0);
    file->Release();
    shell->Release();
    CoUninitialize();
}

TEST_F(WindowsPlatformTest, TheClosingNoticeReachesAWindowOfAnotherProcess) {
    ProcessId pid = 0;
    int error = 0;
    ASSERT_TRUE(spawnProcess({helper(), "receive", root}, "", &pid, &error)) << error;
    const std::string windowText = test::readOnceWritten(root + "window.txt");
    ASSERT_FALSE(windowText.empty());
    const int64_t window = std::stoll(windowText);
    ASSERT_NE(window, 0);

    LaunchParams* params = LaunchParams::instance();
    params->setParentWindow(window);
    params->setSenderWindow(4321);
    EXPECT_TRUE(params->notifyParentClosing());
    params->setParentWindow(0);

    std::string record(528, '\0');
    record[0] = 1;
    record[4] = '1';
    record[524] = 1;
    EXPECT_EQ(test::readOnceWritten(root + "message.bin"), "1 4321\n" + record);
}

}  // namespace
}  // namespace veltrano
