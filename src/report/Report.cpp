#include "report/Report.h"

#include <cstdio>
#include <string>

#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "net/HTTPRequest.h"
#include "platform/FileUtils.h"
#include "report/SystemInfo.h"
#include "util/Encoding.h"

namespace veltrano {

namespace {

constexpr unsigned kLogAttachedAbove = 1100;

std::string readWholeText(const std::string& path) {
    FileUtils* files = FileUtils::instance();
    return files && !path.empty() ? files->readText(path) : std::string();
}

}  // namespace

ReportInfo* ReportInfo::instance() {
    static ReportInfo* info = new ReportInfo();
    return info;
}

std::string installTimePath() {
    FileUtils* files = FileUtils::instance();
    return (files ? files->launcherDirectory() : std::string()) + "/Install.log";
}

void initReport(const std::string& userName) {
    ReportInfo* info = ReportInfo::instance();
    FileUtils* files = FileUtils::instance();
    const std::string marker = installTimePath();
    info->suppressed = files && files->fileExists(marker);
    info->install_time = info->suppressed ? files->readText(marker) : std::string();
    info->user_name = userName;
    info->platform = getPlatformName();
    info->system_version = getSystemVersion();
    info->system_brand = getSystemBrand();
    info->system_model = getSystemName();
    info->phone_uuid = reportMachineId(listNetworkAdapters());
}

std::map<std::string, std::string> buildReportFields(unsigned dataType, const ReportExtra* extra) {
    const ReportInfo* info = ReportInfo::instance();
    const LauncherConfig* cfg = LauncherConfig::instance();
    std::map<std::string, std::string> fields;
    fields["platform"] = info->platform;
    fields["system_version"] = info->system_version;
    fields["system_model"] = info->system_model;
    fields["system_brand"] = info->system_brand;
    fields["phone_uuid"] = info->phone_uuid;
    fields["data_type"] = std::to_string(dataType);
    fields["app_name"] = cfg->app_name();
    fields["install_time"] = info->install_time;
    fields["time"] = info->install_time;
    fields["user_name"] = info->user_name;
    fields["main_channel"] = cfg->main_channel();
    fields["sub_channel"] = cfg->app_id();
    fields["app_id"] = cfg->app_id();
    if (extra) {
        if (!extra->user_name.empty()) fields["user_name"] = extra->user_name;
        if (!extra->error.empty()) fields["error"] = extra->error;
        if (!extra->ad_tracking_id.empty()) fields["ad_tracking_id"] = extra->ad_tracking_id;
        if (extra->error_no != 0) fields["error_no"] = std::to_string(extra->error_no);
    }
    if (dataType > kLogAttachedAbove) fields["log"] = readWholeText(cfg->logPath());
    return fields;
}

void sendReport(unsigned dataType, const ReportExtra* extra) {
    if (ReportInfo::instance()->suppressed) return;
    const std::map<std::string, std::string> fields = buildReportFields(dataType, extra);
    // The callback owns only a number: nothing it touches can go away before it runs.
    HTTPRequest* request = HTTPRequest::create(
        [dataType](int state, HTTPRequest* req) {
            if (state != kCCHTTPRequestStateCompleted) return;
            const std::string body = req->getResponseData();
            writeLog("report kCCHTTPRequestStateCompleted dataType %d  %d %s", static_cast<int>(dataType),
                     static_cast<int>(req->getResponseCode()), body.c_str());
        },
        LauncherConfig::instance()->report_url(), kCCHTTPRequestMethodPost);
    if (!request) return;
    for (const auto& [name, value] : fields) request->setPostField(name.c_str(), value.c_str());
    request->start();
}

void writeInstallTime() {
    FileUtils* files = FileUtils::instance();
    if (!files) return;
    const std::string marker = installTimePath();
    if (files->fileExists(marker)) return;
    char text[64];
    std::snprintf(text, sizeof text, "%f", nowSeconds());
    files->writeText(text, marker);
}

}  // namespace veltrano
