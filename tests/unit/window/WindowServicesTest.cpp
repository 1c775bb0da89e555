#include "window/WindowServices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace veltrano {
namespace {

struct PollCase {
    const char* what;
    ProgressModel::PollResult poll;
    std::vector<std::string> calls;
};

TEST(ReportPoll, EachAnswerReachesItsServiceAndNothingElse) {
    const PollCase cases[] = {
        {"nothing", {}, {}},
        {"finish", {true, 0, false}, {"complete"}},
        {"error", {false, 1102, false}, {"report 1102 "}},
        {"speed", {false, 0, true}, {"report 1015 12.5 Kb/S"}},
        {"finish and speed", {true, 0, true}, {"complete", "report 1015 12.5 Kb/S"}},
    };
    for (const PollCase& c : cases) {
        std::vector<std::string> calls;
        WindowServices services;
        services.setDownloadComplete = [&](bool complete) {
            calls.push_back(complete ? "complete" : "incomplete");
        };
        services.sendReport = [&](unsigned type, const std::string& extra) {
            calls.push_back("report " + std::to_string(type) + " " + extra);
        };
        reportPoll(c.poll, "12.5 Kb/S", services);
        EXPECT_EQ(calls, c.calls) << c.what;
    }
    // Services the window was not given are passed over.
    reportPoll({true, 1102, true}, "1.0 Kb/S", WindowServices{});
}

}  // namespace
}  // namespace veltrano
