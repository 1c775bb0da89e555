#pragma once
// Runs veltrano-devserver as a child process on a free loopback port for one test.
//
//   DevServer server;
//   ASSERT_TRUE(server.start({.root = dir})) << server.error();
//   ... server.url("/game.zip") ...
//   server.addFault(R"({"path":"/game.zip","status":500,"times":2})");
//   EXPECT_EQ(server.requestCount("/game.zip"), 3);
//
// Start it from the test's main thread: the server ends when the thread that started it ends.
//
// Windows programs (the tests under wine) cannot start the Linux server themselves: they ask
// `veltrano-devserver --spawner`, whose address scripts/test-windows.sh puts into
// VELTRANO_DEVSERVER_SPAWNER, and keep a connection to it for the server's lifetime.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/ChildProcess.h"

namespace veltrano::test {

struct DevServerOptions {
    std::string root{};         // folder served
    std::string cert{}, key{};  // PEM files: serves HTTPS when both are set
    std::string faults{};       // fault rules active from the first request (JSON object or array)
    std::string reportsFile{};  // also append every collected report to this file
    std::string executable{};   // empty: the veltrano-devserver of this build
    std::vector<std::string> extraArgs{};
};

struct DevServerRequest {
    std::string method, path, range;  // range: the Range header as received ("" when absent)
    int status = 0;                   // status the server answered
};

struct DevServerReport {
    std::string path, contentType, body;
    std::map<std::string, std::string> fields;  // the form, decoded
};

class DevServer {
public:
    DevServer() = default;
    DevServer(const DevServer&) = delete;
    DevServer& operator=(const DevServer&) = delete;
    ~DevServer();

    // False (see error()) when the server did not come up within ten seconds.
    bool start(const DevServerOptions& options);
    void stop();
    bool running() const;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" (https for a TLS server), without a trailing "/".
    const std::string& baseUrl() const { return baseUrl_; }
    std::string url(const std::string& path) const { return baseUrl_ + path; }

    // Control calls; false when the server refused or could not be reached.
    bool addFault(const std::string& json);
    bool clearFaults();
    bool clearRequests();
    bool clearReports();

    std::vector<DevServerRequest> requests();
    int requestCount(const std::string& path);
    // Range headers of the requests for a path, in arrival order.
    std::vector<std::string> ranges(const std::string& path);
    std::vector<DevServerReport> reports();
    // Body bytes of files under path sent since the start or the last clearRequests.
    uint64_t bytesSent(const std::string& path);

    const std::string& error() const { return error_; }

    // The veltrano-devserver next to this build's test programs ("" when not found).
    static std::string defaultExecutable();

private:
    bool control(const char* method, const std::string& path, const std::string& body, std::string* answer);

#ifdef _WIN32
    bool startThroughSpawner(const std::vector<std::string>& args);
    uintptr_t link_ = ~uintptr_t(0);  // the socket to the spawner
#else
    ChildId pid_ = -1;
#endif
    int port_ = 0;
    std::string baseUrl_;
    std::string error_;
};

}  // namespace veltrano::test
