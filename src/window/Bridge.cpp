#include "window/Bridge.h"

#include <cctype>
#include <cstdio>

namespace veltrano {

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string webOrigin(const std::string& url) {
    size_t colon = url.find("://");
    if (colon == std::string::npos) return {};
    std::string scheme = lower(url.substr(0, colon));
    if (scheme != "http" && scheme != "https") return {};
    size_t start = colon + 3;
    size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    size_t at = authority.rfind('@');
    if (at != std::string::npos) authority.erase(0, at + 1);
    std::string host = authority, port;
    size_t portColon = authority.rfind(':');
    size_t bracket = authority.rfind(']');
    if (portColon != std::string::npos && (bracket == std::string::npos || portColon > bracket)) {
        host = authority.substr(0, portColon);
        port = authority.substr(portColon + 1);
    }
    if (host.empty()) return {};
    for (char c : port)
        if (!std::isdigit(static_cast<unsigned char>(c))) return {};
    while (port.size() > 1 && port[0] == '0') port.erase(0, 1);
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443")) port.clear();
    std::string origin = scheme + "://" + lower(host);
    if (!port.empty()) origin += ":" + port;
    return origin;
}

std::string withoutQuery(const std::string& url) {
    size_t cut = url.find_first_of("?#");
    return cut == std::string::npos ? url : url.substr(0, cut);
}

BridgeTrust bridgeTrust(const std::string& configuredUrl, const std::string& localPageUrl) {
    BridgeTrust trust;
    trust.origin = webOrigin(configuredUrl);
    const std::string configuredPage = withoutQuery(configuredUrl);
    if (trust.origin.empty() && !configuredPage.empty()) trust.pages.push_back(configuredPage);
    if (!localPageUrl.empty()) trust.pages.push_back(withoutQuery(localPageUrl));
    return trust;
}

bool isTrustedPage(const std::string& url, const BridgeTrust& trust) {
    if (!trust.origin.empty() && webOrigin(url) == trust.origin) return true;
    const std::string page = withoutQuery(url);
    for (const std::string& p : trust.pages)
        if (page == p) return true;
    return false;
}

std::string jsStringLiteral(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        // Escaping '<' and '/' too keeps the literal safe wherever the script ends up.
        if (c == '"' || c == '\\' || c < 0x20 || c == '<' || c == '>' || c == '/' || c == 0x7f) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    // U+2028 and U+2029 end lines in older script engines; they pass as UTF-8 otherwise.
    out += "\"";
    return out;
}

std::string bridgeScript(const std::string& secret, bool complete, const BridgeTrust& trust) {
    std::string pages;
    for (const std::string& p : trust.pages) pages += (pages.empty() ? "" : ", ") + jsStringLiteral(p);
    std::string s;
    s += "(function () {\n";
    s += "  var trustedOrigin = " + jsStringLiteral(trust.origin) + ";\n";
    s += "  var trustedPages = [" + pages + "];\n";
    s += "  var here = location.href.split('#')[0].split('?')[0];\n";
    s += "  var trusted = (trustedOrigin !== '' && location.origin === trustedOrigin) ||\n";
    s += "                trustedPages.indexOf(here) >= 0;\n";
    s += "  if (!trusted || window.top !== window) return;\n";
    s += "  var handlers = window.webkit && window.webkit.messageHandlers;\n";
    s += "  var handler = handlers && handlers[" + jsStringLiteral(bridgeHandlerName()) + "];\n";
    s += "  if (!handler) return;\n";
    s += "  var secret = " + jsStringLiteral(secret) + ";\n";
    s += std::string("  var complete = ") + (complete ? "true" : "false") + ";\n";
    s += "  var external = {};\n";
    s += "  Object.defineProperty(external, 'AppLogin', {enumerable: true, value: function AppLogin(message) "
         "{\n";
    s += "    if (arguments.length < 1) throw new TypeError('AppLogin needs the login message');\n";
    s += "    handler.postMessage({secret: secret, message: String(message)});\n";
    s += "  }});\n";
    s += "  Object.defineProperty(external, 'IsDownLoadComplete', {enumerable: true,\n";
    s += "    value: function IsDownLoadComplete() { return complete; }});\n";
    s += "  Object.freeze(external);\n";
    s += "  Object.defineProperty(window, 'external', {value: external, writable: false, configurable: "
         "false});\n";
    s += "  Object.defineProperty(window, " + jsStringLiteral("__veltranoComplete_" + secret) +
         ", {value: function (value) { complete = !!value; }});\n";
    s += "})();\n";
    return s;
}

std::string bridgeCompleteUpdate(const std::string& secret, bool complete) {
    std::string name = jsStringLiteral("__veltranoComplete_" + secret);
    return "(function () { var f = window[" + name + "]; if (typeof f === 'function') f(" +
           (complete ? "true" : "false") + "); })();";
}

}  // namespace veltrano
