// The window classes in this process, on an X server of the test's own, with the rest of the
// launcher replaced by recording fakes: ticks, reports, closing order and redraw economy.

#include <gtk/gtk.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "XvfbSession.h"
#include "mainwindow/Game_MainDialog.h"
#include "support/TestEnv.h"
#include "ui/CVeltranoDlg.h"
#include "ui/CVeltranoMaskDlg.h"
#include "web/CWebDialog.h"

namespace veltrano::test {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the main loop for a while, or until the condition holds.
bool pump(int ms, const std::function<bool()>& until = {}) {
    auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (until && until()) return true;
        while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return until ? until() : true;
}

struct Recorder {
    struct Event {
        std::string what;
        Clock::time_point when;
    };
    std::vector<Event> events;
    std::function<void(unsigned, int, double, double)> updaterCallback;
    LoginHandler loginHandler;
    int64_t now = 1000000;
    int64_t senderWindow = 0;
    bool startGameResult = true;
    std::function<void()> duringStart;

    void add(const std::string& what) { events.push_back({what, Clock::now()}); }
    int count(const std::string& what) const {
        int n = 0;
        for (auto& e : events) n += e.what == what;
        return n;
    }
    const Event* find(const std::string& what) const {
        for (auto& e : events)
            if (e.what == what) return &e;
        return nullptr;
    }

    WindowServices services() {
        WindowServices s;
        s.tickScheduler = [this](float) { add("tick"); };
        s.sendReport = [this](unsigned type, const std::string& extra) {
            add("report " + std::to_string(type) + (extra.empty() ? "" : " " + extra));
        };
        s.setDownloadComplete = [this](bool c) { add(c ? "complete" : "incomplete"); };
        s.isDownloadComplete = [] { return false; };
        s.setLoginHandler = [this](LoginHandler h) { loginHandler = std::move(h); };
        s.onLogin = [this](const std::string& m) { add("login " + m); };
        s.buildWebUrl = [] { return std::string("about:blank"); };
        s.setSenderWindow = [this](int64_t id) { senderWindow = id; };
        s.notifyParentClosing = [this] { add("notice"); };
        s.startUpdater = [this](std::function<void(unsigned, int, double, double)> cb) {
            updaterCallback = std::move(cb);
            add("updater start");
        };
        s.downloadStartTime = [this] { return now - 10; };
        s.baseBytes = [] { return uint64_t{0}; };
        s.startGame = [this](const std::string& uid, const std::string& token, const std::string& cb) {
            add("game " + uid + " " + token + " " + cb);
            if (duringStart) duringStart();
            return startGameResult;
        };
        s.now = [this] { return now; };
        return s;
    }
};

int countMessageBoxes() {
    int n = 0;
    GList* all = gtk_window_list_toplevels();
    for (GList* l = all; l; l = l->next) {
        const char* title = gtk_window_get_title(GTK_WINDOW(l->data));
        if (title && std::string(title) == "系统提示" && gtk_widget_get_visible(GTK_WIDGET(l->data))) ++n;
    }
    g_list_free(all);
    return n;
}

class WindowLogicTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(sharedXvfb(), nullptr);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "display " << sharedXvfb()->display();
        ASSERT_TRUE(env_.writeConfig(R"({"win_width":300,"win_height":200,"process_x":10,"process_y":150,
            "process_bg_width":200,"process_bg_height":20,"process_width":200,"process_height":20,
            "close_btn_x":270,"close_btn_y":0,"close_btn_width":30,"close_btn_height":30,
            "web_x":20,"web_y":30,"web_size_width":100,"web_size_height":80,"app_name":"Logic",
            "downlaod_text":["c %0.0f%%","d %0.0f%% %s","u %0.0f%%","f"],"error_text":"failed %d",
            "process_data_type":"42"})"));
        ASSERT_TRUE(env_.loadConfig());
    }

    std::unique_ptr<Game_MainDialog> open() {
        auto dlg = std::make_unique<Game_MainDialog>(rec_.services());
        EXPECT_TRUE(dlg->OnInitDialog());
        return dlg;
    }

    TestEnv env_;
    Recorder rec_;
};

TEST_F(WindowLogicTest, BuildsTheStackInOrderAndStartsTheUpdateOnce) {
    auto dlg = open();
    ASSERT_EQ(dlg->children().size(), 3u);
    EXPECT_EQ(dlg->children()[0], dlg->mainWindow());
    EXPECT_EQ(dlg->children()[1], dlg->webDialog());
    EXPECT_EQ(dlg->children()[2], dlg->mask());
    EXPECT_EQ(dlg->offsets()[1].x, 20);
    EXPECT_EQ(dlg->offsets()[1].y, 30);
    EXPECT_EQ(dlg->webDialog()->rect().left, 20);
    EXPECT_EQ(dlg->webDialog()->rect().bottom, 110);
    EXPECT_EQ(rec_.senderWindow, static_cast<int64_t>(getpid()));
    EXPECT_EQ(rec_.count("updater start"), 1);
    EXPECT_TRUE(rec_.loginHandler);
    EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(dlg->toplevel())), "Logic");
    // The parts appear one after another, the main window last.
    EXPECT_TRUE(pump(2000, [&] { return gtk_widget_get_visible(dlg->mainWindow()->widget()); }));
    EXPECT_TRUE(gtk_widget_get_visible(dlg->webDialog()->widget()));
    EXPECT_TRUE(pump(2000, [&] { return rec_.count("tick") >= 3; }));
}

TEST_F(WindowLogicTest, ProgressRedrawsOnlyOnChangeAndFinishMarksCompleteOnce) {
    auto dlg = open();
    CVeltranoDlg* main = dlg->mainWindow();
    ASSERT_TRUE(rec_.updaterCallback);
    // From another thread, as the extraction reports arrive.
    std::thread([&] { rec_.updaterCallback(2, 1, 10, 5); }).join();
    ASSERT_TRUE(pump(2000, [&] { return main->lastFrame().text == "u 50%"; }));
    EXPECT_EQ(main->lastFrame().fill.width, 166u);  // 66.666 + 16.6665 of 200

    unsigned redraws = main->redrawCount();
    int ticks = rec_.count("tick");
    pump(600);
    EXPECT_GT(rec_.count("tick"), ticks + 5);
    EXPECT_EQ(main->redrawCount(), redraws) << "an unchanged snapshot must not recompose the window";

    rec_.updaterCallback(3, 0, 0, 0);
    ASSERT_TRUE(pump(2000, [&] { return rec_.count("complete") == 1; }));
    // The tick that saw the finish drew 99.999 %; the next one draws the full bar.
    EXPECT_EQ(main->lastFrame().fill.width, 199u);
    ASSERT_TRUE(pump(1000, [&] { return main->lastFrame().fill.width == 200u; }));
    EXPECT_FALSE(main->lastFrame().hasText);  // four texts: nothing after the finish
    ASSERT_NE(dlg->webDialog()->browser(), nullptr);
    pump(300);
    EXPECT_EQ(rec_.count("complete"), 1);
}

TEST_F(WindowLogicTest, ErrorIsReportedAndShownOnceSpeedEveryTenSeconds) {
    auto dlg = open();
    rec_.updaterCallback(1, 1, 100000, 20480);
    pump(200);
    rec_.now += 9;
    pump(200);
    EXPECT_EQ(rec_.count("report 1015 2.0 Kb/S"), 0);
    rec_.now += 1;
    ASSERT_TRUE(pump(2000, [&] { return rec_.count("report 1015 2.0 Kb/S") == 1; }))
        << "speed " << dlg->mainWindow()->model().speedText();

    rec_.updaterCallback(1, 1102, 0, 0);
    ASSERT_TRUE(pump(2000, [&] { return rec_.count("report 1102") == 1; }));
    EXPECT_TRUE(pump(1000, [&] { return countMessageBoxes() == 1; }));
    pump(300);
    EXPECT_EQ(rec_.count("report 1102"), 1);
    EXPECT_EQ(countMessageBoxes(), 1);
    EXPECT_EQ(dlg->mainWindow()->lastFrame().fill.width, 66u);  // back to the start of the download
    EXPECT_FALSE(dlg->closing());
}

TEST_F(WindowLogicTest, ClosingReportsWaitsThenClosesPartsAndTellsThePortal) {
    auto dlg = open();
    pump(300);
    auto started = Clock::now();
    dlg->OnClose();
    EXPECT_EQ(rec_.count("report 1014"), 1);
    EXPECT_EQ(rec_.count("notice"), 0);
    // The loop keeps running during the wait: the timer still ticks.
    int ticks = rec_.count("tick");
    ASSERT_TRUE(pump(5000, [&] { return rec_.count("notice") == 1; }));
    EXPECT_GT(rec_.count("tick"), ticks);
    EXPECT_GE(rec_.find("notice")->when - started, std::chrono::milliseconds(2000));
    EXPECT_FALSE(dlg->mainWindow()->closed());
    EXPECT_TRUE(dlg->webDialog()->closed());
    EXPECT_TRUE(dlg->mask()->closed());
    EXPECT_FALSE(gtk_widget_get_visible(dlg->webDialog()->widget()));
    dlg->run();  // the loop has ended: returns at once
}

TEST_F(WindowLogicTest, CloseRequestsAndClicksReachTheRightPlace) {
    auto dlg = open();
    // The main window ignores close requests; the web page and the mask forward theirs.
    dlg->mainWindow()->OnClose();
    EXPECT_FALSE(dlg->closing());
    dlg->mainWindow()->OnLButtonDown(269, 31, nullptr);
    EXPECT_FALSE(dlg->closing());
    dlg->mainWindow()->OnLButtonDown(300, 30, nullptr);
    EXPECT_TRUE(dlg->closing());

    // Without an owner a close request is the part's own close.
    CVeltranoMaskDlg lone(nullptr);
    ASSERT_TRUE(lone.create());
    lone.OnClose();
    EXPECT_TRUE(lone.closed());
    CVeltranoMaskDlg kept(nullptr);
    ASSERT_TRUE(kept.create());
    kept.setForwardCloseToOwner(false);
    kept.OnClose();
    EXPECT_TRUE(kept.closed());
}

TEST_F(WindowLogicTest, BrowserNeedsAContainerAndNavigatesOnlyOnceCreated) {
    CXWebBrowser browser;
    EXPECT_FALSE(browser.navigate("about:blank"));
    EXPECT_FALSE(browser.setSilent(true));
    EXPECT_FALSE(browser.create(nullptr));
    GtkWidget* leaf = g_object_ref_sink(gtk_drawing_area_new());
    EXPECT_FALSE(browser.create(leaf));
    GtkWidget* box = g_object_ref_sink(gtk_box_new(GTK_ORIENTATION_VERTICAL, 0));
    ASSERT_TRUE(browser.create(box));
    EXPECT_FALSE(browser.create(box));  // one view per browser
    EXPECT_TRUE(browser.navigate("about:blank"));
    EXPECT_FALSE(browser.navigate(""));
    EXPECT_TRUE(browser.setSilent(true));
    EXPECT_TRUE(browser.silent());
    gtk_widget_destroy(box);
    g_object_unref(box);
    g_object_unref(leaf);
}

TEST_F(WindowLogicTest, LoginStartsTheGameAndQuitRequestNeedsTheConfiguredType) {
    auto dlg = open();
    ASSERT_TRUE(rec_.loginHandler);
    rec_.startGameResult = false;
    rec_.loginHandler("7", "dG9r", "cb");
    EXPECT_EQ(rec_.count("game 7 dG9r cb"), 1);
    EXPECT_FALSE(dlg->loopEnded());
    EXPECT_TRUE(dlg->mainWindow()->OnCopyData(41));
    EXPECT_FALSE(dlg->loopEnded());
    rec_.startGameResult = true;
    rec_.loginHandler("8", "", "");
    EXPECT_TRUE(dlg->loopEnded());
    EXPECT_EQ(rec_.count("report 1014"), 0);
    EXPECT_EQ(rec_.count("notice"), 0);

    auto other = open();
    EXPECT_TRUE(other->mainWindow()->OnCopyData(42));
    EXPECT_TRUE(other->loopEnded());
}

TEST_F(WindowLogicTest, ACloseClickDuringTheGameStartClosesOnceTheStartEnded) {
    auto dlg = open();
    ASSERT_TRUE(rec_.loginHandler);
    rec_.startGameResult = false;
    // The start's pauses run the main loop: the close button is clicked in one of them.
    rec_.duringStart = [&] {
        dlg->mainWindow()->OnLButtonDown(300, 30, nullptr);
        EXPECT_FALSE(dlg->closing());
    };
    rec_.loginHandler("7", "", "");
    rec_.duringStart = nullptr;
    EXPECT_TRUE(dlg->closing());
    EXPECT_EQ(rec_.count("report 1014"), 1);
}

}  // namespace
}  // namespace veltrano::test
