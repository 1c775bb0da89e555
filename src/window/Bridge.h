#pragma once
// The page-side half of the script bridge, and the rule that decides which pages get it.

#include <string>
#include <vector>

namespace veltrano {

// "scheme://host[:port]" as a page's location.origin gives it: scheme and host lowercased, the
// default port of http and https dropped, user info and path removed. Empty for anything that is
// not an http or https address with a host.
std::string webOrigin(const std::string& url);

// The address without fragment and query.
std::string withoutQuery(const std::string& url);

// Which pages get the bridge: every page of `origin` (when not empty), and each of `pages` exactly
// (query and fragment aside).
struct BridgeTrust {
    std::string origin;
    std::vector<std::string> pages;
};

// The launcher's own pages: the configured page's origin when it is an http or https page, else the
// configured page itself (a file: page, for one, shares its origin with every other file); and the
// local page. Addresses are taken as given: file: addresses must already be in canonical form.
BridgeTrust bridgeTrust(const std::string& configuredUrl, const std::string& localPageUrl);

bool isTrustedPage(const std::string& url, const BridgeTrust& trust);

// A JavaScript string literal (double-quoted) holding the text.
std::string jsStringLiteral(const std::string& text);

// The document-start script that defines window.external on the launcher's own pages. `secret`
// accompanies every login message, so that frames and pages that never ran this script cannot
// post logins; `complete` is the current answer of IsDownLoadComplete.
std::string bridgeScript(const std::string& secret, bool complete, const BridgeTrust& trust);

// Script that updates the answer of IsDownLoadComplete in a page already showing.
std::string bridgeCompleteUpdate(const std::string& secret, bool complete);

// Name of the script message handler the bridge posts to.
inline const char* bridgeHandlerName() {
    return "veltranoBridge";
}

}  // namespace veltrano
