#include "app/LaunchParams.h"

#include "config/Json.h"
#include "config/LauncherConfig.h"
#include "config/Log.h"
#include "platform/WindowMessage.h"
#include "util/Encoding.h"

namespace veltrano {

LaunchParams* LaunchParams::instance() {
    static LaunchParams* shared = new LaunchParams();
    return shared;
}

void LaunchParams::onLogin(const std::string& message) {
    if (handlingLogin_) {
        writeLog("AppLogin ignored: the game start of an earlier login is under way");
        return;
    }
    loginMessage_ = message;
    if (!loginHandler_) return;

    const std::string gameToken = base64Encode(message);
    std::string uid = "0";
    std::string callbackInfo;

    rapidjson::Document doc;
    if (parseJson(message, &doc) && doc.IsObject()) {
        auto u = doc.FindMember("uid");
        if (u != doc.MemberEnd() && u->value.IsInt64()) uid = std::to_string(u->value.GetInt64());
        auto cb = doc.FindMember("callback_info");
        if (cb != doc.MemberEnd() && cb->value.IsString())
            callbackInfo.assign(cb->value.GetString(), cb->value.GetStringLength());
    }
    // A copy, so a handler that replaces itself does not destroy the callable it runs in.
    LoginHandler handler = loginHandler_;
    handlingLogin_ = true;
    handler(uid, gameToken, callbackInfo);
    handlingLogin_ = false;
}

std::string LaunchParams::buildWebUrl() const {
    std::string url = LauncherConfig::instance()->web_url();
    url += '?';
    bool first = true;
    const std::pair<const char*, const std::string*> params[] = {{"token=", &token_},
                                                                 {"source=", &source_},
                                                                 {"serverid=", &serverid_},
                                                                 {"fcext=", &fcext_},
                                                                 {"fileparam=", &fileparam_}};
    for (const auto& [key, value] : params) {
        if (value->empty()) continue;
        if (!first) url += '&';
        url += key;
        url += *value;
        first = false;
    }
    return url;
}

std::string LaunchParams::closingNoticeRecord() {
    std::string record(kClosingNoticeSize, '\0');
    record[0] = 1;    // i32 1
    record[4] = '1';  // UTF-16LE "1", then zeros
    record[524] = 1;  // i32 1
    return record;
}

bool LaunchParams::notifyParentClosing() const {
    if (parentWindow_ == 0) return false;
    const std::string record = closingNoticeRecord();
    return sendCopyData(parentWindow_, senderWindow_, 1, record.data(), static_cast<uint32_t>(record.size()));
}

}  // namespace veltrano
