#include "web/Bridge.h"

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
    const std::string origin = "http://127.0.0.1:8080";
    const std::string local = "file:///opt/launcher/res/index.html";
    EXPECT_TRUE(isTrustedPage("http://127.0.0.1:8080/other/page?token=1", origin, local));
    EXPECT_TRUE(isTrustedPage(local + "?a=b#c", origin, local));
    EXPECT_FALSE(isTrustedPage("http://127.0.0.1:8081/", origin, local));
    EXPECT_FALSE(isTrustedPage("http://localhost:8080/", origin, local));
    EXPECT_FALSE(isTrustedPage("https://127.0.0.1:8080/", origin, local));
    EXPECT_FALSE(isTrustedPage("file:///opt/launcher/res/other.html", origin, local));
    // A prefix trick on the host is another origin.
    EXPECT_FALSE(isTrustedPage("http://127.0.0.1:8080.evil.test/", origin, local));
    // Nothing configured trusts nothing.
    EXPECT_FALSE(isTrustedPage("http://127.0.0.1:8080/", "", ""));
}

TEST(BridgeScript, LiteralsCannotBreakOutOfTheScript) {
    EXPECT_EQ(jsStringLiteral("a\"b\\c\n</script>"),
              "\"a\\u0022b\\u005cc\\u000a\\u003c\\u002fscript\\u003e\"");
    std::string script = bridgeScript("s3cr3t", true, "http://h:1", "file:///x/res/index.html");
    EXPECT_NE(script.find("var complete = true;"), std::string::npos);
    EXPECT_NE(script.find("\"http:\\u002f\\u002fh:1\""), std::string::npos);
    EXPECT_NE(bridgeScript("s", false, "", "").find("var complete = false;"), std::string::npos);
    EXPECT_NE(bridgeCompleteUpdate("s", true).find("f(true)"), std::string::npos);
}

}  // namespace
}  // namespace veltrano
