// The launcher's game start from the login and its closing, with the windows replaced by a record of
// what they are asked to do.

#include "window/ClosingSequence.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/TestEnv.h"
#include "window/LoginGate.h"

namespace veltrano {
namespace {

using Events = std::vector<std::string>;

// The window, its owner dialog and the rest of the launcher, as one record.
struct Launcher : GameStartHost, GameStartOwner, ClosingSequence::Steps {
    Events events;
    bool startResult = false;
    // Runs inside the start, as a click would in the start's pauses.
    std::function<void()> duringStart;
    LoginHandler handler;

    WindowServices services() {
        WindowServices s;
        s.sendReport = [this](unsigned type, const std::string&) {
            events.push_back("report " + std::to_string(type));
        };
        s.notifyParentClosing = [this] { events.push_back("notice"); };
        s.setLoginHandler = [this](LoginHandler h) { handler = std::move(h); };
        s.startGame = [this](const std::string& uid, const std::string& token, const std::string& cb) {
            events.push_back("start " + uid + " " + token + " " + cb);
            if (duringStart) duringStart();
            events.push_back("start ends");
            return startResult;
        };
        return s;
    }

    // The owner dialog forwards to its closing sequence.
    bool closing() const override { return closingSequence.closing(); }
    void gameStartEnded() override {
        events.push_back("start ended");
        closingSequence.gameStartEnded();
    }
    // The window: a game that runs ends the loop.
    void gameStarted() override {
        events.push_back("game runs");
        closingSequence.quit();
    }
    void showStartError(const std::string&) override { events.push_back("error box"); }
    void wait(int) override {
        if (duringStart) duringStart();
    }
    void startCloseWait(unsigned milliseconds) override {
        events.push_back("wait " + std::to_string(milliseconds));
    }
    void closeChildren() override { events.push_back("children closed"); }
    void endLoop() override { events.push_back("loop ends"); }

    ClosingSequence closingSequence{*this, services()};
    LoginGate gate{this, this, services()};

    Launcher() { closingSequence.watch(&gate); }
};

TEST(ClosingSequence, ReportsWaitsThenClosesChildrenTellsThePortalAndEndsTheLoop) {
    Launcher l;
    l.closingSequence.requestClose();
    EXPECT_EQ(l.events, (Events{"report 1014", "wait 2000"}));
    EXPECT_TRUE(l.closingSequence.closing());
    EXPECT_FALSE(l.closingSequence.loopEnded());
    l.closingSequence.waitEnded();
    EXPECT_EQ(l.events, (Events{"report 1014", "wait 2000", "children closed", "notice", "loop ends"}));
    EXPECT_TRUE(l.closingSequence.loopEnded());
}

TEST(ClosingSequence, CloseRequestIsIgnoredWhileClosingAndOnceTheLoopEnded) {
    struct Case {
        const char* what;
        std::function<void(Launcher&)> before;
        Events expected;
    };
    const Case cases[] = {
        {"while closing",
         [](Launcher& l) { l.closingSequence.requestClose(); },
         {"report 1014", "wait 2000"}},
        {"after the closing",
         [](Launcher& l) {
             l.closingSequence.requestClose();
             l.closingSequence.waitEnded();
         },
         {"report 1014", "wait 2000", "children closed", "notice", "loop ends"}},
        {"after a quit", [](Launcher& l) { l.closingSequence.quit(); }, {"loop ends"}},
        {"after the loop stopped by itself", [](Launcher& l) { l.closingSequence.loopStopped(); }, {}},
    };
    for (const Case& c : cases) {
        Launcher l;
        c.before(l);
        l.closingSequence.requestClose();
        EXPECT_EQ(l.events, c.expected) << c.what;
    }
}

TEST(ClosingSequence, QuitEndsTheLoopOnceWithoutReportOrNotice) {
    Launcher l;
    l.closingSequence.quit();
    l.closingSequence.quit();
    EXPECT_EQ(l.events, (Events{"loop ends"}));
    EXPECT_FALSE(l.closingSequence.closing());
}

TEST(ClosingSequence, CloseDuringTheGameStartWaitsForTheStartToEnd) {
    // A failed start: the closing follows it; a start whose game runs: the launcher ends for the game
    // and the portal is not told that it closes.
    struct Case {
        bool gameRuns;
        Events expected;
    };
    const Case cases[] = {
        {false, {"start 7 t c", "start ends", "start ended", "report 1014", "wait 2000"}},
        {true, {"start 7 t c", "start ends", "game runs", "loop ends", "start ended"}},
    };
    for (const Case& c : cases) {
        Launcher l;
        l.startResult = c.gameRuns;
        l.duringStart = [&] {
            l.closingSequence.requestClose();
            l.closingSequence.requestClose();
            EXPECT_FALSE(l.closingSequence.closing()) << c.gameRuns;
        };
        l.gate.OnLoginReady("7", "t", "c");
        EXPECT_EQ(l.events, c.expected) << c.gameRuns;
        EXPECT_EQ(l.closingSequence.closing(), !c.gameRuns);
        EXPECT_TRUE(!c.gameRuns || l.closingSequence.loopEnded());
    }
}

TEST(ClosingSequence, CloseDuringTheStartsFirstPauseCallsTheGameOff) {
    test::TestEnv env;
    Launcher l;
    WindowServices real = l.services();
    real.startGame = nullptr;
    LoginGate gate(&l, &l, real);
    l.closingSequence.watch(&gate);
    l.duringStart = [&] { l.closingSequence.requestClose(); };
    gate.OnLoginReady("7", "t", "c");
    // No game, no failure message: the start ended quietly, and the closing followed.
    EXPECT_EQ(l.events, (Events{"start ended", "report 1014", "wait 2000"}));
    EXPECT_EQ(gate.starter().startedPid(), ProcessId{0});
}

TEST(LoginGate, LoginStartsTheGameWithItsValuesAndTellsTheOwnerTheStartEnded) {
    for (bool gameRuns : {false, true}) {
        Launcher l;
        l.startResult = gameRuns;
        bool startingDuringStart = false;
        l.duringStart = [&] { startingDuringStart = l.gate.starting(); };
        l.gate.OnLoginReady("7", "dG9r", "cb");
        EXPECT_TRUE(startingDuringStart);
        EXPECT_FALSE(l.gate.starting());
        EXPECT_EQ(l.gate.uid(), "7");
        EXPECT_EQ(l.gate.gameToken(), "dG9r");
        EXPECT_EQ(l.gate.callbackInfo(), "cb");
        const Events expected =
            gameRuns ? Events{"start 7 dG9r cb", "start ends", "game runs", "loop ends", "start ended"}
                     : Events{"start 7 dG9r cb", "start ends", "start ended"};
        EXPECT_EQ(l.events, expected) << gameRuns;
    }
}

TEST(LoginGate, LoginWhileTheLauncherClosesIsIgnored) {
    Launcher l;
    l.closingSequence.requestClose();
    l.events.clear();
    l.gate.OnLoginReady("8", "t", "c");
    EXPECT_TRUE(l.events.empty());
    EXPECT_EQ(l.gate.uid(), "");
}

TEST(LoginGate, TheInstalledHandlerReachesTheGateUntilTheGateIsGone) {
    Launcher l;
    {
        LoginGate gate(&l, nullptr, l.services());
        EXPECT_FALSE(l.handler);
        gate.listen();
        ASSERT_TRUE(l.handler);
        l.handler("9", "t", "c");
        EXPECT_EQ(gate.uid(), "9");
    }
    EXPECT_FALSE(l.handler);
}

}  // namespace
}  // namespace veltrano
