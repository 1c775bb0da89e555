#include "window/WindowServices.h"

#include <chrono>

#include "app/LaunchParams.h"
#include "config/Log.h"
#include "net/Scheduler.h"
#include "report/Report.h"
#include "update/Updater.h"

namespace veltrano {

namespace {

int64_t systemNow() {
    using namespace std::chrono;
    return static_cast<int64_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace

WindowServices defaultWindowServices() {
    WindowServices s;
    s.tickScheduler = [](float dt) { Scheduler::instance()->tick(dt); };
    s.sendReport = [](unsigned dataType, const std::string& adTrackingId) {
        if (adTrackingId.empty()) {
            sendReport(dataType, nullptr);
            return;
        }
        ReportExtra extra;
        extra.ad_tracking_id = adTrackingId;
        sendReport(dataType, &extra);
    };
    s.setDownloadComplete = [](bool complete) { LaunchParams::instance()->setDownloadComplete(complete); };
    s.isDownloadComplete = [] { return LaunchParams::instance()->isDownloadComplete(); };
    s.setLoginHandler = [](LoginHandler handler) {
        LaunchParams::instance()->setLoginHandler(std::move(handler));
    };
    s.onLogin = [](const std::string& message) { LaunchParams::instance()->onLogin(message); };
    s.buildWebUrl = [] { return LaunchParams::instance()->buildWebUrl(); };
    s.setSenderWindow = [](int64_t id) { LaunchParams::instance()->setSenderWindow(id); };
    s.notifyParentClosing = [] { LaunchParams::instance()->notifyParentClosing(); };
    s.startUpdater = [](std::function<void(unsigned, int, double, double)> callback) {
        Updater* updater = Updater::instance();
        updater->m_callback = [callback](Updater::UpdaterState state, Updater::UpdaterCode code, double a,
                                         double b) {
            callback(static_cast<unsigned>(state), static_cast<int>(code), a, b);
        };
        updater->start();
    };
    s.downloadStartTime = [] { return Updater::instance()->m_downloadStartTime.load(); };
    s.baseBytes = [] { return Updater::instance()->m_baseBytes.load(); };
    s.now = systemNow;
    return s;
}

int64_t windowNow(const WindowServices& services) {
    return services.now ? services.now() : systemNow();
}

ViewFrame currentFrame(ProgressModel& model, const WindowServices& services) {
    const int64_t now = windowNow(services);
    const int64_t start = services.downloadStartTime ? services.downloadStartTime() : now;
    const uint64_t base = services.baseBytes ? services.baseBytes() : 0;
    return model.frame(now, start, base);
}

void startUpdate(const WindowServices& services, const std::shared_ptr<ProgressModel>& model) {
    if (!services.startUpdater) return;
    services.startUpdater([model](unsigned state, int code, double total, double done) {
        model->onUpdaterEvent(state, code, total, done);
    });
}

void reportPoll(const ProgressModel::PollResult& poll, const std::string& speedText,
                const WindowServices& services) {
    if (poll.downloadComplete && services.setDownloadComplete) services.setDownloadComplete(true);
    if (poll.errorCode && services.sendReport)
        services.sendReport(static_cast<unsigned>(poll.errorCode), std::string());
    if (poll.speedReport) {
        if (services.sendReport) services.sendReport(1015, speedText);
        writeLog("download speed:%s", speedText.c_str());
    }
}

}  // namespace veltrano
