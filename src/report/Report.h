#pragma once
// Event reports: small form posts to the configured report endpoint, sent fire-and-forget until the
// first successful installation has been recorded in "Install.log".

#include <map>
#include <string>

namespace veltrano {

// Values every report carries, gathered once at start-up.
struct ReportInfo {
    bool suppressed = false;   // "Install.log" existed at start-up: no report is sent
    std::string install_time;  // its content then
    std::string user_name;
    std::string platform;
    std::string system_version;
    std::string system_model;
    std::string system_brand;
    std::string phone_uuid;

    // Never destroyed, so reports still being sent at exit find it intact.
    static ReportInfo* instance();
};

struct ReportExtra {
    std::string user_name;       // replaces the start-up user name when not empty
    std::string error;           // sent when not empty
    std::string ad_tracking_id;  // sent when not empty
    int error_no = 0;            // sent when not 0
};

// Reads the marker and the machine facts. Runs on the UI thread before the first report.
void initReport(const std::string& userName);

// The form fields of one report, as they would be sent now.
std::map<std::string, std::string> buildReportFields(unsigned dataType, const ReportExtra* extra = nullptr);

// Sends one report unless suppressed; callable from any thread. Everything the request needs is
// copied on the calling thread.
void sendReport(unsigned dataType, const ReportExtra* extra = nullptr);

// Creates "Install.log" with the current time when it is missing; an existing file stays untouched.
void writeInstallTime();

// Path of "Install.log".
std::string installTimePath();

}  // namespace veltrano
