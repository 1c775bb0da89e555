// The page's bridge into the launcher and the web dialog, on the real Windows API (under wine in CI).
// The bridge is called the way the page's script engine calls it: through IDispatch.
#include <gtest/gtest.h>
#include <windows.h>

#include <oleauto.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "WinTestSupport.h"
#include "app/LaunchParams.h"
#include "config/LauncherConfig.h"
#include "game/Game.h"
#include "platform/FileUtils.h"
#include "platform/Process.h"
#include "platform/Wide.h"
#include "report/Report.h"
#include "util/Encoding.h"
#include "winweb/CWebDialog.h"
#include "winweb/CXWebBrowser2.h"

namespace veltrano {
namespace {

const char kPortal[] = "http://127.0.0.1:8080/login/index.html";

// The bridge with the document's address set by the test, as no page can load here.
class PageBrowser : public CXWebBrowser2 {
public:
    using CXWebBrowser2::CXWebBrowser2;
    std::string page;

protected:
    std::string currentPageUrl() override { return page; }
};

class NoWaitHost : public GameStartHost {
public:
    void gameStarted() override { ++started; }
    void showStartError(const std::string& message) override { errors.push_back(message); }
    void wait(int) override {}
    int started = 0;
    std::vector<std::string> errors;
};

struct Call {
    HRESULT hr = E_FAIL;
    VARIANT result;
};

// Looks the name up and invokes it as a method, as script does for external.Name(args).
Call callByName(IDispatch* target, const wchar_t* name, std::vector<VARIANT> argsLastFirst) {
    Call call;
    VariantInit(&call.result);
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    call.hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(call.hr)) return call;
    DISPPARAMS params = {argsLastFirst.data(), nullptr, static_cast<UINT>(argsLastFirst.size()), 0};
    call.hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &call.result,
                             nullptr, nullptr);
    return call;
}

VARIANT text(const std::string& value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    const std::wstring w = toWide(value);
    v.bstrVal = SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
    return v;
}

VARIANT number(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// A launcher folder with a configuration whose game is a copy of the test helper.
class WebBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        files = FileUtils::instance();
        ASSERT_NE(files, nullptr);
        programDir = files->launcherDirectory();
        base = test::tempRoot() + "veltrano-网页-" + std::to_string(currentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        root = base + "启动器 1/";
        ASSERT_TRUE(files->createDirectory(root + "game/"));
        ASSERT_TRUE(files->createDirectory(root + "res/"));
        ASSERT_TRUE(CopyFileW(toWide(programDir + "win_helper.exe").c_str(),
                              toWide(root + "game/game.exe").c_str(), FALSE));
        ASSERT_TRUE(files->writeText(std::string("{\"game_dir\": \"game\", \"game_exe_name\": \"game.exe\", "
                                                 "\"web_url\": \"") +
                                         kPortal + "\"}",
                                     root + "launcher.cfg"));
        files->setLauncherDirectory(root);
        LauncherConfig::instance()->reset();
        ASSERT_TRUE(LauncherConfig::instance()->load());
        ReportInfo::instance()->suppressed = true;
        LaunchParams::instance()->reset();
        localPage = root + "res/index.html";
        browser = std::make_unique<PageBrowser>(
            kPortal, localPage, [](const std::string& m) { LaunchParams::instance()->onLogin(m); },
            [] { return LaunchParams::instance()->isDownloadComplete(); });
        browser->page = std::string(kPortal) + "?token=t";
    }
    void TearDown() override {
        browser.reset();
        LaunchParams::instance()->reset();
        LauncherConfig::instance()->reset();
        files->setLauncherDirectory(programDir);
        files->removeDirectory(base);
    }

    IDispatch* external() {
        IDispatch* out = nullptr;
        EXPECT_EQ(browser->GetExternal(&out), S_OK);
        if (out) out->Release();  // the browser outlives every use here
        return out;
    }

    FileUtils* files = nullptr;
    std::string programDir, base, root, localPage;
    std::unique_ptr<PageBrowser> browser;
};

TEST_F(WebBridgeTest, OnlyTheTwoNamesInTheirExactCase) {
    struct Row {
        const wchar_t* name;
        HRESULT hr;
        DISPID id;
    } rows[] = {
        {L"AppLogin", S_OK, CXWebBrowser2::kAppLogin},
        {L"IsDownLoadComplete", S_OK, CXWebBrowser2::kIsDownLoadComplete},
        {L"applogin", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {L"APPLOGIN", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {L"IsDownloadComplete", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {L"AppLogin ", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
        {L"", DISP_E_UNKNOWNNAME, DISPID_UNKNOWN},
    };
    IDispatch* page = external();
    ASSERT_NE(page, nullptr);
    for (const Row& row : rows) {
        DISPID id = 12345;
        LPOLESTR names[] = {const_cast<LPOLESTR>(row.name)};
        EXPECT_EQ(page->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), row.hr)
            << fromWide(row.name);
        EXPECT_EQ(id, row.id) << fromWide(row.name);
    }
}

TEST_F(WebBridgeTest, IsDownLoadCompleteAnswersTheCurrentState) {
    Call before = callByName(external(), L"IsDownLoadComplete", {});
    ASSERT_EQ(before.hr, S_OK);
    EXPECT_EQ(before.result.vt, VT_BOOL);
    EXPECT_EQ(before.result.boolVal, VARIANT_FALSE);

    LaunchParams::instance()->setDownloadComplete(true);
    Call after = callByName(external(), L"IsDownLoadComplete", {});
    ASSERT_EQ(after.hr, S_OK);
    EXPECT_EQ(after.result.vt, VT_BOOL);
    EXPECT_EQ(after.result.boolVal, VARIANT_TRUE);
}

TEST_F(WebBridgeTest, AppLoginStartsTheGameWithTheLoginsArguments) {
    NoWaitHost host;
    GameStarter starter(&host);
    starter.setLauncherCommandLine("--token=t --source=门户");
    LaunchParams::instance()->setLoginHandler(
        [&](const std::string& uid, const std::string& token, const std::string& cb) {
            starter.OnLoginReady(uid, token, cb);
        });
    const std::string login = R"({"uid":12345,"callback_info":"abc","name":"玩家"})";
    std::vector<VARIANT> args = {text(login)};
    Call call = callByName(external(), L"AppLogin", args);
    VariantClear(&args[0]);
    ASSERT_EQ(call.hr, S_OK);
    EXPECT_EQ(call.result.vt, VT_EMPTY);
    EXPECT_EQ(host.started, 1);
    EXPECT_TRUE(host.errors.empty());

    const std::string gameDir = root + "/game/";
    ASSERT_TRUE(test::waitFor([&] { return files->fileExists(gameDir + "argv.txt"); }));
    std::vector<std::string> got;
    const std::string all = files->readText(gameDir + "argv.txt");
    for (size_t start = 0, end; (end = all.find('\0', start)) != std::string::npos; start = end + 1)
        got.push_back(all.substr(start, end - start));
    const std::vector<std::string> expected = {gameDir + "game.exe",
                                               "-workdir",
                                               gameDir,
                                               "--token=t",
                                               "--source=门户",
                                               "-uid:12345",
                                               "-gametoken:" + base64Encode(login),
                                               "-cbinfo:abc"};
    EXPECT_EQ(got, expected);
}

TEST_F(WebBridgeTest, AppLoginTakesItsArgumentAsText) {
    std::vector<std::string> logins;
    PageBrowser recorder(
        kPortal, localPage, [&](const std::string& m) { logins.push_back(m); }, nullptr);
    recorder.page = kPortal;
    IDispatch* page = nullptr;
    ASSERT_EQ(recorder.GetExternal(&page), S_OK);
    page->Release();

    std::vector<VARIANT> noArgs;
    EXPECT_EQ(callByName(page, L"AppLogin", noArgs).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_TRUE(logins.empty());

    std::vector<VARIANT> args = {number(12345)};
    EXPECT_EQ(callByName(page, L"AppLogin", args).hr, S_OK);
    // Two arguments: the first one counts, and they arrive last first.
    std::vector<VARIANT> two = {number(7), text("{\"uid\":\"é\"}")};
    EXPECT_EQ(callByName(page, L"AppLogin", two).hr, S_OK);
    VariantClear(&two[1]);
    EXPECT_EQ(logins, (std::vector<std::string>{"12345", "{\"uid\":\"é\"}"}));
}

TEST_F(WebBridgeTest, CallsAreAnsweredOnlyWhileTheLaunchersOwnPageShows) {
    std::string fileBase = "file:///" + localPage;
    std::string backslashed = localPage;
    for (auto& c : backslashed) {
        if (c == '/') c = '\\';
    }
    backslashed[0] = static_cast<char>(tolower(backslashed[0]));
    std::string escapedBlanks;
    for (char c : localPage) escapedBlanks += c == ' ' ? std::string("%20") : std::string(1, c);
    struct Row {
        std::string page;
        bool answered;
    } rows[] = {
        {std::string(kPortal) + "?token=t&serverid=9", true},
        {"http://127.0.0.1:8080/other/page.html", true},
        {fileBase, true},
        {fileBase + "#top", true},
        {"file:///" + escapedBlanks, true},
        {backslashed, true},
        {"http://127.0.0.1:8081/login/index.html", false},
        {"https://127.0.0.1:8080/login/index.html", false},
        {"http://evil.test/login/index.html", false},
        {"http://127.0.0.1:8080.evil.test/", false},
        {"file:///" + root + "res/other.html", false},
        {"about:blank", false},
        {"", false},
    };
    LaunchParams::instance()->setDownloadComplete(true);
    std::vector<std::string> logins;
    LaunchParams::instance()->setLoginHandler(
        [&](const std::string& uid, const std::string&, const std::string&) { logins.push_back(uid); });
    IDispatch* page = external();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.page);
        browser->page = row.page;
        Call complete = callByName(page, L"IsDownLoadComplete", {});
        std::vector<VARIANT> args = {text("{\"uid\":1}")};
        Call login = callByName(page, L"AppLogin", args);
        VariantClear(&args[0]);
        if (row.answered) {
            EXPECT_EQ(complete.hr, S_OK);
            EXPECT_EQ(complete.result.boolVal, VARIANT_TRUE);
            EXPECT_EQ(login.hr, S_OK);
        } else {
            EXPECT_EQ(complete.hr, E_ACCESSDENIED);
            EXPECT_EQ(complete.result.vt, VT_EMPTY);
            EXPECT_EQ(login.hr, E_ACCESSDENIED);
        }
    }
    const auto answered =
        std::count_if(std::begin(rows), std::end(rows), [](const Row& r) { return r.answered; });
    EXPECT_EQ(logins.size(), static_cast<size_t>(answered)) << "one login for each page that is answered";
}

TEST_F(WebBridgeTest, TheSiteAnswersOnlyItsOwnInterfaces) {
    const LONG refs = browser->refCount();
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(browser->QueryInterface(IID_IOleCommandTarget, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(browser->refCount(), refs);

    IDocHostUIHandler* handler = nullptr;
    ASSERT_EQ(browser->QueryInterface(IID_IDocHostUIHandler, reinterpret_cast<void**>(&handler)), S_OK);
    EXPECT_EQ(handler, static_cast<IDocHostUIHandler*>(browser.get()));
    EXPECT_EQ(browser->refCount(), refs + 1);
    // The page never gets the engine's context menu.
    POINT at = {1, 1};
    EXPECT_EQ(handler->ShowContextMenu(0, &at, nullptr, nullptr), S_OK);
    handler->Release();
}

// A screen-sized owner window for the dialog.
class OwnerWindow {
public:
    OwnerWindow() {
        hwnd = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP, 0, 0, 640, 480, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnerWindow() {
        if (hwnd) DestroyWindow(hwnd);
    }
    HWND hwnd = nullptr;
};

bool inWindowRegion(HWND hwnd, int x, int y) {
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    const bool has = GetWindowRgn(hwnd, region) != ERROR;
    const bool in = has && PtInRegion(region, x, y);
    DeleteObject(region);
    return in;
}

TEST(WebDialog, AnOwnedPopupWithRoundedCornersThatMovesWithThem) {
    OwnerWindow owner;
    ASSERT_NE(owner.hwnd, nullptr);
    CWebDialog dialog(kPortal, {});
    ASSERT_TRUE(dialog.Create(owner.hwnd, 30, 40, 360, 352));
    const HWND hwnd = dialog.hwnd();
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(GetWindow(hwnd, GW_OWNER), owner.hwnd);
    EXPECT_EQ(GetWindowLongW(hwnd, GWL_STYLE) & (WS_POPUP | WS_CAPTION), WS_POPUP);

    auto expectRounded = [&] {
        EXPECT_FALSE(inWindowRegion(hwnd, 0, 0));
        EXPECT_FALSE(inWindowRegion(hwnd, 359, 0));
        EXPECT_FALSE(inWindowRegion(hwnd, 0, 351));
        EXPECT_FALSE(inWindowRegion(hwnd, 358, 350));
        // 50 pixels in along an edge is past the corner's ellipse.
        EXPECT_TRUE(inWindowRegion(hwnd, 50, 0));
        EXPECT_TRUE(inWindowRegion(hwnd, 0, 50));
        EXPECT_TRUE(inWindowRegion(hwnd, 180, 176));
    };
    expectRounded();
    dialog.moveTo(100, 120);
    RECT rect;
    ASSERT_TRUE(GetWindowRect(hwnd, &rect));
    EXPECT_EQ(rect.left, 100);
    EXPECT_EQ(rect.top, 120);
    EXPECT_EQ(rect.right - rect.left, 360);
    EXPECT_EQ(rect.bottom - rect.top, 352);
    expectRounded();

    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ(dialog.hwnd(), nullptr);
}

TEST(WebDialog, TheBrowserIsCreatedInThePopupOrTheReasonIsGiven) {
    {
        CXWebBrowser2 site(kPortal, "", nullptr, nullptr);
        EXPECT_FALSE(site.create(nullptr));
        OwnerWindow gone;
        const HWND stale = gone.hwnd;
        DestroyWindow(gone.hwnd);
        gone.hwnd = nullptr;
        EXPECT_FALSE(site.create(stale));
        EXPECT_EQ(site.webBrowser(), nullptr);
    }

    OwnerWindow owner;
    CWebDialog dialog(kPortal, {});
    ASSERT_TRUE(dialog.Create(owner.hwnd, 0, 0, 360, 352));
    if (!dialog.browser()) GTEST_SKIP() << "the WebBrowser control cannot be created on this system";
    IWebBrowser2* control = dialog.browser()->webBrowser();
    ASSERT_NE(control, nullptr);
    VARIANT_BOOL silent = VARIANT_FALSE;
    ASSERT_EQ(control->get_Silent(&silent), S_OK);
    EXPECT_EQ(silent, VARIANT_TRUE) << "script errors never open dialogs";
    // In place over the dialog: the control's window is the dialog's child.
    EXPECT_NE(GetWindow(dialog.hwnd(), GW_CHILD), nullptr);
    EXPECT_TRUE(dialog.browser()->navigate(L"about:blank"));
    dialog.Close();
    EXPECT_EQ(dialog.browser()->webBrowser(), nullptr) << "the control is let go with the window";
}

}  // namespace
}  // namespace veltrano
