#include "window/Bridge.h"

#include <gtest/gtest.h>

namespace veltrano {
namespace {

TEST(WebOrigin, MatchesWhatAPageReportsAsItsOrigin) {
    EXPECT_EQ(webOrigin("http://127.0.0.1:8080/login/index.html?x=1"), "http://127.0.0.1:8080");
    EXPECT_EQ(webOrigin("HTTPS://Portal.Example:443/a"), "https://portal.example");
    EXPECT_EQ(webOrigin("http://example.test:80"), "http://example.test");
    EXPECT_EQ(webOrigin("http://user:pw@example.test:81/#frag"), "http://example.test:81");
    EXPECT_EQ(webOrigin("http://[::1]:9000/p"), "http://[::1]:9000");
    EXPECT_EQ(webOrigin("file:///tmp/index.html"), "");
    EXPECT_EQ(webOrigin("javascript:alert(1)"), "");
    EXPECT_EQ(webOrigin("http:///nohost"), "");
    EXPECT_EQ(webOrigin("http://host:12ab/"), "");
}

TEST(TrustedPage, OnlyTheConfiguredOriginAndTheLocalPage) {
    const std::string local = "file:///opt/launcher/res/index.html";
    const BridgeTrust trust = bridgeTrust("http://127.0.0.1:8080/login/index.html?x=1", local);
    EXPECT_TRUE(isTrustedPage("http://127.0.0.1:8080/other/page?token=1", trust));
    EXPECT_TRUE(isTrustedPage(local + "?a=b#c", trust));
    EXPECT_FALSE(isTrustedPage("http://127.0.0.1:8081/", trust));
    EXPECT_FALSE(isTrustedPage("http://localhost:8080/", trust));
    EXPECT_FALSE(isTrustedPage("https://127.0.0.1:8080/", trust));
    EXPECT_FALSE(isTrustedPage("file:///opt/launcher/res/other.html", trust));
    // A prefix trick on the host is another origin.
    EXPECT_FALSE(isTrustedPage("http://127.0.0.1:8080.evil.test/", trust));
    // Nothing configured trusts nothing.
    EXPECT_FALSE(isTrustedPage("http://127.0.0.1:8080/", bridgeTrust("", "")));
    EXPECT_FALSE(isTrustedPage("", bridgeTrust("", "")));
}

// A page without a web origin is trusted as that one page: every file shares its "origin".
TEST(TrustedPage, AConfiguredPageWithoutAnOriginIsTrustedItselfAndNothingBeside) {
    const std::string local = "file:///opt/launcher/res/index.html";
    const BridgeTrust trust = bridgeTrust("file:///srv/portal/page.html?", local);
    EXPECT_TRUE(isTrustedPage("file:///srv/portal/page.html?token=t&serverid=9", trust));
    EXPECT_TRUE(isTrustedPage("file:///srv/portal/page.html#top", trust));
    EXPECT_TRUE(isTrustedPage(local, trust));
    EXPECT_FALSE(isTrustedPage("file:///srv/portal/other.html", trust));
    EXPECT_FALSE(isTrustedPage("file:///srv/portal/page.html.evil", trust));
    EXPECT_FALSE(isTrustedPage("http://127.0.0.1/srv/portal/page.html", trust));
    EXPECT_FALSE(isTrustedPage("file:///srv/portal/", trust));
}

TEST(BridgeScript, LiteralsCannotBreakOutOfTheScript) {
    EXPECT_EQ(jsStringLiteral("a\"b\\c\n</script>"),
              "\"a\\u0022b\\u005cc\\u000a\\u003c\\u002fscript\\u003e\"");
    std::string script =
        bridgeScript("s3cr3t", true, bridgeTrust("http://h:1/p", "file:///x/res/index.html"));
    EXPECT_NE(script.find("var complete = true;"), std::string::npos);
    EXPECT_NE(script.find("\"http:\\u002f\\u002fh:1\""), std::string::npos);
    EXPECT_NE(script.find("var trustedPages = [\"file:\\u002f\\u002f\\u002fx\\u002fres\\u002findex.html\"];"),
              std::string::npos)
        << script;
    EXPECT_NE(bridgeScript("s", false, bridgeTrust("", "")).find("var complete = false;"), std::string::npos);
    EXPECT_NE(bridgeCompleteUpdate("s", true).find("f(true)"), std::string::npos);
}

}  // namespace
}  // namespace veltrano
