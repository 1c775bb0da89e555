// The Windows launcher window on the real API, without a screen reader: it is drawn again only when
// what it shows changed, and a window of no size is never drawn.
#include <gtest/gtest.h>
#include <windows.h>

#include <objidl.h>

#include <algorithm>
using std::max;
using std::min;
#include <gdiplus.h>

#include <string>

#include "WinTestSupport.h"
#include "config/LauncherConfig.h"
#include "platform/FileUtils.h"
#include "platform/Process.h"
#include "winui/CVeltranoDlg.h"

namespace veltrano {
namespace {

class LauncherWindowWin32Test : public ::testing::Test {
protected:
    void SetUp() override {
        Gdiplus::GdiplusStartupInput input;
        ASSERT_EQ(Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr), Gdiplus::Ok);
        files = FileUtils::instance();
        programDir = files->launcherDirectory();
        root = test::tempRoot() + "veltrano-窗口-" + std::to_string(currentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        ASSERT_TRUE(files->createDirectory(root));
    }
    void TearDown() override {
        window.reset();
        LauncherConfig::instance()->reset();
        files->setLauncherDirectory(programDir);
        files->removeDirectory(root);
        Gdiplus::GdiplusShutdown(gdiplus);
    }

    // A window of the given size with a progress bar and a status line, its clock standing still.
    void open(int width, int height) {
        ASSERT_TRUE(files->writeText("{\"win_width\": " + std::to_string(width) +
                                         ", \"win_height\": " + std::to_string(height) +
                                         ", \"process_width\": 100, \"process_height\": 10, "
                                         "\"process_bg_width\": 120, \"process_bg_height\": 20, "
                                         "\"downlaod_text\": [\"a %0.0f\", \"b %0.0f %s\", \"c\", \"d\"]}",
                                     root + "launcher.cfg"));
        files->setLauncherDirectory(root);
        LauncherConfig::instance()->reset();
        ASSERT_TRUE(LauncherConfig::instance()->load());
        WindowServices services;
        services.now = [] { return int64_t{1000}; };
        services.downloadStartTime = [] { return int64_t{990}; };
        services.baseBytes = [] { return uint64_t{0}; };
        window = std::make_unique<CVeltranoDlg>(nullptr, nullptr, services);
        ASSERT_TRUE(window->create());
    }

    ULONG_PTR gdiplus = 0;
    FileUtils* files = nullptr;
    std::string programDir, root;
    std::unique_ptr<CVeltranoDlg> window;
};

TEST_F(LauncherWindowWin32Test, DrawsAgainOnlyWhenWhatItShowsChanged) {
    open(300, 200);
    ASSERT_NE(window->hwnd(), nullptr);
    // The initialisation drew the first picture, layered.
    EXPECT_EQ(window->redrawCount(), 1u);
    EXPECT_TRUE(GetWindowLongPtrW(window->hwnd(), GWL_EXSTYLE) & WS_EX_LAYERED);
    EXPECT_FALSE(window->UpdateView());
    EXPECT_EQ(window->redrawCount(), 1u);

    // Half the download: the bar and the text change once, then stay.
    window->OnUpdaterEvent(1, 1, 1000, 500);
    EXPECT_TRUE(window->UpdateView());
    EXPECT_FALSE(window->UpdateView());
    EXPECT_EQ(window->redrawCount(), 2u);
}

TEST_F(LauncherWindowWin32Test, AWindowOfNoSizeIsNeverDrawn) {
    open(0, 0);
    ASSERT_NE(window->hwnd(), nullptr);
    EXPECT_EQ(window->redrawCount(), 0u);
    window->OnUpdaterEvent(1, 1, 1000, 500);
    EXPECT_FALSE(window->UpdateView());
    EXPECT_EQ(window->redrawCount(), 0u);
}

}  // namespace
}  // namespace veltrano
