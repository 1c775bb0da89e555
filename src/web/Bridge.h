#pragma once
// The page-side half of the script bridge, and the rule that decides which pages get it.

#include <string>

namespace veltrano {

// "scheme://host[:port]" as a page's location.origin gives it: scheme and host lowercased, the
// default port of http and https dropped, user info and path removed. Empty for anything that is
// not an http or https address with a host.
std::string webOrigin(const std::string& url);

// The address without fragment and query.
std::string withoutQuery(const std::string& url);

// True for the launcher's own pages only: the configured page's origin, or the local page.
bool isTrustedPage(const std::string& url, const std::string& trustedOrigin, const std::string& localPageUrl);

// A JavaScript string literal (double-quoted) holding the text.
std::string jsStringLiteral(const std::string& text);

// The document-start script that defines window.external on the launcher's own pages. `secret`
// accompanies every login message, so that frames and pages that never ran this script cannot
// post logins; `complete` is the current answer of IsDownLoadComplete.
std::string bridgeScript(const std::string& secret, bool complete, const std::string& trustedOrigin,
                         const std::string& localPageUrl);

// Script that updates the answer of IsDownLoadComplete in a page already showing.
std::string bridgeCompleteUpdate(const std::string& secret, bool complete);

// Name of the script message handler the bridge posts to.
inline const char* bridgeHandlerName() {
    return "veltranoBridge";
}

}  // namespace veltrano
