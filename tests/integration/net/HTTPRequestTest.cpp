// HTTPRequest against the loopback devserver, delivered through the Scheduler as the window does.

#include "net/HTTPRequest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "NetTestSupport.h"
#include "config/LauncherConfig.h"
#include "support/TestEnv.h"

namespace veltrano::test {
namespace {

struct Outcome {
    std::vector<int> states;
    long code = -1;
    std::string data;
    int error = -1;
    std::string message;
    bool toFile = false;
    bool done = false;
};

HTTPRequestCallback recordInto(Outcome* o) {
    return [o](int state, HTTPRequest* r) {
        o->states.push_back(state);
        if (state == kCCHTTPRequestStateRunning) return;
        o->code = r->getResponseCode();
        o->data = r->getResponseData();
        o->error = r->getErrorCode();
        o->message = r->getErrorMessage();
        o->toFile = r->wroteToFile();
        o->done = true;
    };
}

class HTTPRequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        writeFile(folder.file("page.txt"), "hello page");
        ASSERT_TRUE(server.start({.root = folder.path()})) << server.error();
    }

    Outcome get(const std::string& url, const std::function<void(HTTPRequest*)>& setup = nullptr) {
        Outcome o;
        HTTPRequest* r = HTTPRequest::create(recordInto(&o), url, kCCHTTPRequestMethodGet);
        if (setup) setup(r);
        r->start();
        EXPECT_TRUE(pumpUntil([&] { return o.done; }));
        return o;
    }

    TestEnv env;
    TempFolder folder;
    DevServer server;
};

TEST_F(HTTPRequestTest, PostBodyIsSortedEscapedAndAmpersandTerminated) {
    Outcome o;
    HTTPRequest* r = HTTPRequest::create(recordInto(&o), server.url("/report"), kCCHTTPRequestMethodPost);
    r->setPostField("b", "x y");
    r->setPostField("a", "1");
    r->setPostField("e", "");
    r->setPostField("n", nullptr);
    r->setPostField("c", "&=\xc3\xa9");
    r->setPostField("a", "2");  // replaces
    r->start();
    ASSERT_TRUE(pumpUntil([&] { return o.done; }));
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateCompleted);
    EXPECT_EQ(o.data, "ok");

    Outcome empty;
    HTTPRequest::create(recordInto(&empty), server.url("/report"), kCCHTTPRequestMethodPost)->start();
    ASSERT_TRUE(pumpUntil([&] { return empty.done; }));

    auto reports = server.reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].body, "a=2&b=x%20y&c=%26%3D%C3%A9&e=&n=&");
    EXPECT_EQ(reports[0].contentType, "application/x-www-form-urlencoded");
    EXPECT_EQ(reports[1].body, "");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].method, "POST");
}

TEST_F(HTTPRequestTest, StatusCodesAndRedirects) {
    ASSERT_TRUE(server.addFault(R"({"path":"/old","redirect":"/page.txt"})"));
    Outcome moved = get(server.url("/old"));
    EXPECT_EQ(moved.states.back(), kCCHTTPRequestStateCompleted);
    EXPECT_EQ(moved.code, 200);
    EXPECT_EQ(moved.data, "hello page");

    // An HTTP error is a completed transfer; the caller judges the code.
    Outcome missing = get(server.url("/nothing-here"));
    EXPECT_EQ(missing.states.back(), kCCHTTPRequestStateCompleted);
    EXPECT_EQ(missing.code, 404);
    EXPECT_EQ(missing.error, 0);
    EXPECT_EQ(missing.message, "");
    EXPECT_EQ(missing.data, "not found\n");
}

TEST_F(HTTPRequestTest, TransportErrorsFail) {
    // A port that was free a moment ago: nothing listens there.
    const int port = freeLoopbackPort();
    ASSERT_NE(port, 0);
    Outcome refused = get("http://127.0.0.1:" + std::to_string(port) + "/x");
    EXPECT_EQ(refused.states.back(), kCCHTTPRequestStateFailed);
    EXPECT_EQ(refused.error, CURLE_COULDNT_CONNECT);
    EXPECT_EQ(refused.message, curl_easy_strerror(CURLE_COULDNT_CONNECT));
    EXPECT_EQ(refused.code, 0);

    writeFile(folder.file("big.bin"), randomBytes(100000));
    ASSERT_TRUE(server.addFault(R"({"path":"/big.bin","reset_after":5000})"));
    Outcome cut = get(server.url("/big.bin"));
    EXPECT_EQ(cut.states.back(), kCCHTTPRequestStateFailed);
    EXPECT_NE(cut.error, 0);
    EXPECT_FALSE(cut.message.empty());

    ASSERT_TRUE(server.addFault(R"({"path":"/page.txt","delay_ms":2500})"));
    Outcome late = get(server.url("/page.txt"), [](HTTPRequest* r) { r->setTimeout(1); });
    EXPECT_EQ(late.states.back(), kCCHTTPRequestStateFailed);
    EXPECT_EQ(late.error, CURLE_OPERATION_TIMEDOUT);
}

TEST_F(HTTPRequestTest, RedirectLoopFailsInsteadOfRunningToTheTimeout) {
    // Redirect answers carry almost no body, so neither the low-speed limit nor a download's
    // long timeout would end the loop soon.
    ASSERT_TRUE(server.addFault(R"({"path":"/loop","redirect":"/loop"})"));
    Outcome o;
    HTTPRequest* r = HTTPRequest::create(recordInto(&o), server.url("/loop"), kCCHTTPRequestMethodGet);
    r->setTimeout(5000);
    r->start();
    ASSERT_TRUE(pumpUntil([&] { return o.done; }, std::chrono::seconds(20)));
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateFailed);
    EXPECT_EQ(o.error, CURLE_TOO_MANY_REDIRECTS);
}

TEST_F(HTTPRequestTest, InMemoryBodies) {
    writeFile(folder.file("zero.bin"), std::string("abc\0def", 7));
    EXPECT_EQ(get(server.url("/zero.bin")).data, "abc");

    std::string big(5 * 32768 + 123, 'x');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    writeFile(folder.file("big.txt"), big);
    Outcome o = get(server.url("/big.txt"));
    EXPECT_EQ(o.data.size(), big.size());
    EXPECT_EQ(o.data, big);
    EXPECT_FALSE(o.toFile);

    writeFile(folder.file("empty.txt"), "");
    Outcome none = get(server.url("/empty.txt"));
    EXPECT_EQ(none.code, 200);
    EXPECT_EQ(none.data, "");

    // A cap on the body: a body of exactly that size is kept, one byte more fails the transfer.
    const auto capped = [](size_t bytes) { return [bytes](HTTPRequest* r) { r->setMaxBodySize(bytes); }; };
    EXPECT_EQ(get(server.url("/big.txt"), capped(big.size())).data, big);
    Outcome over = get(server.url("/big.txt"), capped(big.size() - 1));
    EXPECT_EQ(over.states.back(), kCCHTTPRequestStateFailed);
    EXPECT_EQ(over.error, CURLE_WRITE_ERROR);
    EXPECT_NE(over.message.find("larger than " + std::to_string(big.size() - 1) + " bytes"),
              std::string::npos)
        << over.message;
}

TEST_F(HTTPRequestTest, OutputFileIsAppendedAndHeadersAreSent) {
    std::string body = randomBytes(1000, 3);
    writeFile(folder.file("f.bin"), body);
    std::string out = folder.file("out.bin");
    writeFile(out, "prefix");
    bool opened = false;
    Outcome o = get(server.url("/f.bin"), [&](HTTPRequest* r) {
        r->addHeader("RANGE:bytes=100-199");
        opened = r->setOutputFile(out);
    });
    EXPECT_TRUE(opened);
    EXPECT_EQ(o.code, 206);
    EXPECT_TRUE(o.toFile);
    EXPECT_EQ(o.data, "");
    EXPECT_EQ(readFile(out), "prefix" + body.substr(100, 100));
    EXPECT_EQ(server.ranges("/f.bin"), std::vector<std::string>{"bytes=100-199"});

    // A file that cannot be opened leaves the body in memory, and says so.
    Outcome memory = get(server.url("/page.txt"), [&](HTTPRequest* r) {
        opened = r->setOutputFile(folder.file("no/such/dir/out.bin"));
    });
    EXPECT_FALSE(opened);
    EXPECT_FALSE(memory.toFile);
    EXPECT_EQ(memory.data, "hello page");
}

TEST_F(HTTPRequestTest, TransferDoneBeforeTheFirstTickGetsOnlyTheFinalCallback) {
    Outcome o;
    HTTPRequest* r = HTTPRequest::create(recordInto(&o), server.url("/page.txt"), kCCHTTPRequestMethodGet);
    r->start();
    // Nothing delivers or frees the request until the next tick, so it may be watched until then.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (r->getState() == kCCHTTPRequestStateRunning && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Scheduler::instance()->tick(0.03f);
    EXPECT_EQ(o.states, std::vector<int>{kCCHTTPRequestStateCompleted});
    EXPECT_EQ(o.data, "hello page");
}

TEST_F(HTTPRequestTest, RunningCallbacksThenOneFinalCallbackThenTheRequestIsGone) {
    std::string body = randomBytes(24000);
    writeFile(folder.file("slow.bin"), body);
    ASSERT_TRUE(server.addFault(R"({"path":"/slow.bin","rate":30000})"));
    Scheduler::instance()->tick(0.03f);
    size_t before = Scheduler::instance()->size();
    std::vector<double> progress;
    Outcome o;
    HTTPRequestCallback record = recordInto(&o);
    HTTPRequest* r = HTTPRequest::create(
        [&](int state, HTTPRequest* req) {
            if (state == kCCHTTPRequestStateRunning) progress.push_back(req->m_dlnow.load());
            record(state, req);
        },
        server.url("/slow.bin"), kCCHTTPRequestMethodGet);
    r->start();
    ASSERT_TRUE(pumpUntil([&] { return o.done; }));
    for (int i = 0; i < 5; ++i) Scheduler::instance()->tick(0.03f);

    ASSERT_GE(o.states.size(), 2u);
    EXPECT_EQ(std::count(o.states.begin(), o.states.end(), kCCHTTPRequestStateCompleted), 1);
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateCompleted);
    EXPECT_TRUE(std::all_of(o.states.begin(), o.states.end() - 1,
                            [](int s) { return s == kCCHTTPRequestStateRunning; }));
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    ASSERT_FALSE(progress.empty());
    EXPECT_GT(progress.back(), 0.0);
    EXPECT_LE(progress.back(), 24000.0);
    EXPECT_EQ(o.data, body.substr(0, body.find('\0')));
    EXPECT_EQ(Scheduler::instance()->size(), before);
}

TEST_F(HTTPRequestTest, CancelledTransferEndsAsFailed) {
    writeFile(folder.file("slow.bin"), randomBytes(20000));
    ASSERT_TRUE(server.addFault(R"({"path":"/slow.bin","rate":2000})"));
    Outcome o;
    HTTPRequestCallback record = recordInto(&o);
    HTTPRequest::create(
        [&](int state, HTTPRequest* r) {
            if (state == kCCHTTPRequestStateRunning) r->cancel();
            record(state, r);
        },
        server.url("/slow.bin"), kCCHTTPRequestMethodGet)
        ->start();
    ASSERT_TRUE(pumpUntil([&] { return o.done; }));
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateFailed);
    EXPECT_EQ(o.error, CURLE_ABORTED_BY_CALLBACK);
}

class HTTPSRequestTest : public HTTPRequestTest {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "TLS is tested on Linux only: wine's TLS layer accepts certificates without checking "
                        "them, and the test certificates are made by the openssl program";
#endif
        ASSERT_TRUE(makeCertificates(certs.path())) << "openssl could not make test certificates";
        writeFile(folder.file("page.txt"), "secret page");
        ASSERT_TRUE(server.start(
            {.root = folder.path(), .cert = certs.file("server.pem"), .key = certs.file("server.key")}))
            << server.error();
        ASSERT_EQ(server.baseUrl().rfind("https://", 0), 0u);
    }
    // TLS handshakes under a sanitizer on a busy machine can outlast the default three seconds.
    Outcome getTls(const std::string& url) {
        return get(url, [](HTTPRequest* r) { r->setConnectTimeout(30); });
    }
    TempFolder certs;
};

TEST_F(HTTPSRequestTest, UntrustedCertificateIsRefusedByDefault) {
    ASSERT_TRUE(env.writeConfig("{}"));
    ASSERT_TRUE(env.loadConfig());
    Outcome o = getTls(server.url("/page.txt"));
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateFailed);
    EXPECT_EQ(o.error, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_EQ(o.data, "");
}

TEST_F(HTTPSRequestTest, CaFileMakesItsCertificatesTrusted) {
    ASSERT_TRUE(env.writeConfig(R"({"ca_file":")" + certs.file("ca.pem") + R"("})"));
    ASSERT_TRUE(env.loadConfig());
    Outcome o = getTls(server.url("/page.txt"));
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateCompleted) << o.message;
    EXPECT_EQ(o.data, "secret page");

    // A relative name is looked up beside the launcher.
    ASSERT_TRUE(env.writeFile("certs/ca.pem", readFile(certs.file("ca.pem"))));
    ASSERT_TRUE(env.writeConfig(R"({"ca_file":"certs/ca.pem"})"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(getTls(server.url("/page.txt")).data, "secret page");

    // Some other CA does not vouch for this server.
    TempFolder other;
    ASSERT_TRUE(makeCertificates(other.path()));
    ASSERT_TRUE(env.writeConfig(R"({"ca_file":")" + other.file("ca.pem") + R"("})"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(getTls(server.url("/page.txt")).error, CURLE_PEER_FAILED_VERIFICATION);
}

TEST_F(HTTPSRequestTest, SelfSignedServerIsTrustedOnlyWhenNamed) {
    ASSERT_TRUE(makeSelfSigned(certs.path()));
    DevServer self;
    ASSERT_TRUE(
        self.start({.root = folder.path(), .cert = certs.file("self.pem"), .key = certs.file("self.key")}))
        << self.error();
    ASSERT_TRUE(env.writeConfig("{}"));
    ASSERT_TRUE(env.loadConfig());
    EXPECT_EQ(getTls(self.url("/page.txt")).error, CURLE_PEER_FAILED_VERIFICATION);
    ASSERT_TRUE(env.writeConfig(R"({"ca_file":")" + certs.file("self.pem") + R"("})"));
    ASSERT_TRUE(env.loadConfig());
    Outcome o = getTls(self.url("/page.txt"));
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateCompleted) << o.message;
    EXPECT_EQ(o.data, "secret page");
}

TEST_F(HTTPSRequestTest, VerificationOffAcceptsAnyCertificate) {
    ASSERT_TRUE(env.writeConfig(R"({"tls_verify":false})"));
    ASSERT_TRUE(env.loadConfig());
    ASSERT_FALSE(LauncherConfig::instance()->tls_verify());
    Outcome o = getTls(server.url("/page.txt"));
    EXPECT_EQ(o.states.back(), kCCHTTPRequestStateCompleted) << o.message;
    EXPECT_EQ(o.data, "secret page");
}

}  // namespace
}  // namespace veltrano::test
