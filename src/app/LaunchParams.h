#pragma once
// The player's launch values for the life of the process: what the portal passed on the command line,
// the file parameter, the portal's window, and the login the web page hands over. Used on the UI thread
// only; it has no lock.

#include <cstdint>
#include <functional>
#include <string>

namespace veltrano {

class LaunchParams {
public:
    // Receives uid, game token and callback info.
    using LoginHandler = std::function<void(const std::string& uid, const std::string& gameToken,
                                            const std::string& callbackInfo)>;

    // Size of the closing notice record.
    static constexpr size_t kClosingNoticeSize = 528;

    static LaunchParams* instance();

    void setToken(const std::string& value) { token_ = value; }
    void setSource(const std::string& value) { source_ = value; }
    void setServerid(const std::string& value) { serverid_ = value; }
    void setFcext(const std::string& value) { fcext_ = value; }
    void setFileparam(const std::string& value) { fileparam_ = value; }
    // Window ids; 0 means none.
    void setParentWindow(int64_t window) { parentWindow_ = window; }
    void setSenderWindow(int64_t window) { senderWindow_ = window; }
    void setDownloadComplete(bool complete) { downloadComplete_ = complete; }
    bool isDownloadComplete() const { return downloadComplete_; }
    // An empty callable removes the handler.
    void setLoginHandler(LoginHandler handler) { loginHandler_ = std::move(handler); }

    const std::string& token() const { return token_; }
    const std::string& source() const { return source_; }
    const std::string& serverid() const { return serverid_; }
    const std::string& fcext() const { return fcext_; }
    const std::string& fileparam() const { return fileparam_; }
    const std::string& loginMessage() const { return loginMessage_; }
    int64_t parentWindow() const { return parentWindow_; }
    int64_t senderWindow() const { return senderWindow_; }

    // Stores the web page's login message and hands uid, game token (Base64 of the raw message) and
    // callback info to the handler; without a handler the login is only stored. A login that arrives
    // while the handler still runs (its game start waits in the main loop) is logged and ignored.
    void onLogin(const std::string& message);

    // web_url, "?", then the non-empty launch values as key=value joined by "&", unescaped.
    std::string buildWebUrl() const;

    // Tells the portal window that the launcher closes. False when there is no portal window or it
    // could not be reached; nothing is retried.
    bool notifyParentClosing() const;

    // The 528 bytes of the closing notice.
    static std::string closingNoticeRecord();

    // Back to the empty record (tests).
    void reset() { *this = LaunchParams(); }

private:
    LaunchParams() = default;

    std::string loginMessage_;
    bool downloadComplete_ = false;
    bool handlingLogin_ = false;
    LoginHandler loginHandler_;
    int64_t parentWindow_ = 0;
    int64_t senderWindow_ = 0;
    std::string token_, source_, serverid_, fcext_, fileparam_;
};

}  // namespace veltrano
