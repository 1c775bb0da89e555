#include "DevServer.h"

#include <curl/curl.h>
#include <rapidjson/document.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>  // before windows.h

#include <windows.h>

#include "platform/Wide.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace veltrano::test {

namespace {

size_t appendToString(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

std::string member(const rapidjson::Value& v, const char* name) {
    auto it = v.FindMember(name);
    return it != v.MemberEnd() && it->value.IsString()
               ? std::string(it->value.GetString(), it->value.GetStringLength())
               : std::string();
}

template <typename F>
void forEachJsonLine(const std::string& text, F&& f) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        rapidjson::Document doc;
        doc.Parse(text.c_str() + pos, nl - pos);
        if (!doc.HasParseError() && doc.IsObject()) f(doc);
        pos = nl + 1;
    }
}

}  // namespace

DevServer::~DevServer() {
    stop();
}

#ifdef _WIN32

namespace {

// The Linux name of a file of this wine prefix; the path itself elsewhere.
std::string unixPath(const std::string& path) {
    using ToUnix = char*(CDECL*)(const WCHAR*);
    static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix || path.empty()) return path;
    char* name = toUnix(toWidePath(path).c_str());
    if (!name) return path;
    std::string out = name;
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

}  // namespace

std::string DevServer::defaultExecutable() {
    return {};
}

bool DevServer::running() const {
    return link_ != ~uintptr_t(0);
}

bool DevServer::start(const DevServerOptions& options) {
    stop();
    error_.clear();
    if (!options.executable.empty()) {
        error_ = "a Windows test cannot choose the server program";
        return false;
    }
    std::vector<std::string> args = {"--root", unixPath(options.root), "--port", "0"};
    if (!options.cert.empty())
        args.insert(args.end(), {"--cert", unixPath(options.cert), "--key", unixPath(options.key)});
    if (!options.faults.empty()) args.insert(args.end(), {"--faults", options.faults});
    if (!options.reportsFile.empty()) args.insert(args.end(), {"--reports", unixPath(options.reportsFile)});
    args.insert(args.end(), options.extraArgs.begin(), options.extraArgs.end());
    if (startThroughSpawner(args)) return true;
    stop();
    return false;
}

bool DevServer::startThroughSpawner(const std::vector<std::string>& args) {
    const char* address = std::getenv("VELTRANO_DEVSERVER_SPAWNER");
    const std::string text = address ? address : "";
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        error_ =
            "VELTRANO_DEVSERVER_SPAWNER is not set: scripts/test-windows.sh starts the Linux server's "
            "spawner";
        return false;
    }
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error_ = "socket: " + std::to_string(WSAGetLastError());
        return false;
    }
    link_ = s;
    // Programs the test starts must not hold the connection (and so the server) open.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<u_short>(std::atoi(text.c_str() + colon + 1)));
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        error_ = "cannot reach the spawner at " + text + ": " + std::to_string(WSAGetLastError());
        return false;
    }
    std::string request = std::to_string(args.size()) + "\n";
    for (const std::string& a : args) request += a + '\0';
    if (send(s, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
        error_ = "cannot talk to the spawner";
        return false;
    }
    // The server prints its URL on one line once it listens; the spawner passes that line on.
    const DWORD limit = 10000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    std::string line;
    char c;
    while (recv(s, &c, 1, 0) == 1 && c != '\n') line += c;
    const size_t colonInUrl = line.rfind(':');
    if (line.empty() || colonInUrl == std::string::npos) {
        error_ = "veltrano-devserver did not start (see the spawner's output)";
        return false;
    }
    const DWORD forever = 0;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&forever), sizeof forever);
    baseUrl_ = line;
    port_ = std::atoi(line.c_str() + colonInUrl + 1);
    return port_ > 0;
}

void DevServer::stop() {
    if (running()) {
        // The spawner ends the server, reaps it, and only then closes its side.
        const auto s = static_cast<SOCKET>(link_);
        shutdown(s, SD_SEND);
        char buf[256];
        while (recv(s, buf, sizeof buf, 0) > 0) {
        }
        closesocket(s);
    }
    link_ = ~uintptr_t(0);
    port_ = 0;
}

#else

std::string DevServer::defaultExecutable() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string dir(buf, static_cast<size_t>(n));
    // Test programs live a level or two below the build folder.
    for (int up = 0; up < 4; ++up) {
        size_t slash = dir.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        dir.erase(slash);
        std::string candidate = dir + "/tools/veltrano-devserver/veltrano-devserver";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return {};
}

bool DevServer::running() const {
    return pid_ > 0;
}

bool DevServer::start(const DevServerOptions& options) {
    stop();
    error_.clear();
    std::string exe = options.executable.empty() ? defaultExecutable() : options.executable;
    if (exe.empty()) {
        error_ = "veltrano-devserver not found";
        return false;
    }
    std::vector<std::string> argv = {exe, "--root", options.root, "--port", "0"};
    if (!options.cert.empty()) argv.insert(argv.end(), {"--cert", options.cert, "--key", options.key});
    if (!options.faults.empty()) argv.insert(argv.end(), {"--faults", options.faults});
    if (!options.reportsFile.empty()) argv.insert(argv.end(), {"--reports", options.reportsFile});
    argv.insert(argv.end(), options.extraArgs.begin(), options.extraArgs.end());

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    pid_ = spawnChild(argv, fds[1], &error_);
    close(fds[1]);
    if (pid_ < 0) {
        close(fds[0]);
        return false;
    }

    // The server prints its URL on one line once it listens.
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[256];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, static_cast<size_t>(n));
    }
    close(fds[0]);
    size_t nl = line.find('\n');
    size_t colon = line.rfind(':', nl);
    if (nl == std::string::npos || colon == std::string::npos) {
        error_ = "veltrano-devserver did not report its port (printed \"" + line + "\")";
        stop();
        return false;
    }
    baseUrl_ = line.substr(0, nl);
    port_ = std::atoi(line.c_str() + colon + 1);
    return port_ > 0;
}

void DevServer::stop() {
    if (pid_ > 0) stopChild(pid_, SIGTERM);
    pid_ = -1;
    port_ = 0;
}

#endif

bool DevServer::control(const char* method, const std::string& path, const std::string& body,
                        std::string* answer) {
    if (!running()) {
        error_ = "server not running";
        return false;
    }
    CURL* curl = curl_easy_init();
    if (!curl) return false;
    std::string url = baseUrl_ + path;
    std::string out;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 10L);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method);
    // The control channel of a test's own loopback server; the product's TLS checks are tested elsewhere.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
    if (std::strcmp(method, "POST") == 0) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
        curl_easy_setopt(curl, CURLOPT_COPYPOSTFIELDS, body.c_str());
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendToString);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out);
    CURLcode rc = curl_easy_perform(curl);
    long code = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &code);
    curl_easy_cleanup(curl);
    if (rc != CURLE_OK || code != 200) {
        error_ = std::string(method) + " " + path + ": " + (rc != CURLE_OK ? curl_easy_strerror(rc) : out);
        return false;
    }
    if (answer) *answer = out;
    return true;
}

bool DevServer::addFault(const std::string& json) {
    return control("POST", "/__faults", json, nullptr);
}
bool DevServer::clearFaults() {
    return control("DELETE", "/__faults", "", nullptr);
}
bool DevServer::clearRequests() {
    return control("DELETE", "/__requests", "", nullptr);
}
bool DevServer::clearReports() {
    return control("DELETE", "/__reports", "", nullptr);
}

std::vector<DevServerRequest> DevServer::requests() {
    std::vector<DevServerRequest> out;
    std::string text;
    if (!control("GET", "/__requests", "", &text)) return out;
    forEachJsonLine(text, [&](const rapidjson::Document& doc) {
        DevServerRequest r;
        r.method = member(doc, "method");
        r.path = member(doc, "path");
        r.range = member(doc, "range");
        auto st = doc.FindMember("status");
        if (st != doc.MemberEnd() && st->value.IsInt()) r.status = st->value.GetInt();
        out.push_back(r);
    });
    return out;
}

int DevServer::requestCount(const std::string& path) {
    int n = 0;
    for (const auto& r : requests()) n += r.path == path;
    return n;
}

std::vector<std::string> DevServer::ranges(const std::string& path) {
    std::vector<std::string> out;
    for (const auto& r : requests())
        if (r.path == path) out.push_back(r.range);
    return out;
}

uint64_t DevServer::bytesSent(const std::string& path) {
    uint64_t bytes = 0;
    std::string text;
    if (!control("GET", "/__sent", "", &text)) return 0;
    forEachJsonLine(text, [&](const rapidjson::Document& doc) {
        if (member(doc, "path") == path) bytes = std::stoull(member(doc, "bytes"));
    });
    return bytes;
}

std::vector<DevServerReport> DevServer::reports() {
    std::vector<DevServerReport> out;
    std::string text;
    if (!control("GET", "/__reports", "", &text)) return out;
    forEachJsonLine(text, [&](const rapidjson::Document& doc) {
        DevServerReport r;
        r.path = member(doc, "path");
        r.contentType = member(doc, "content_type");
        r.body = member(doc, "body");
        auto fields = doc.FindMember("fields");
        if (fields != doc.MemberEnd() && fields->value.IsObject()) {
            for (auto it = fields->value.MemberBegin(); it != fields->value.MemberEnd(); ++it) {
                if (it->value.IsString())
                    r.fields[std::string(it->name.GetString(), it->name.GetStringLength())] =
                        std::string(it->value.GetString(), it->value.GetStringLength());
            }
        }
        out.push_back(r);
    });
    return out;
}

}  // namespace veltrano::test
