#include "Nginx.h"

#ifdef _WIN32

namespace veltrano::test {

// nginx is a Linux program, which a Windows program cannot start.
Nginx::~Nginx() = default;
std::string Nginx::executable() {
    return {};
}
bool Nginx::start(const std::string&, const std::string&) {
    error_ = "nginx cannot run beside a Windows test";
    return false;
}
void Nginx::stop() {}
std::string Nginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace veltrano::test

#else

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "DevServer.h"
#include "TestUtil.h"

namespace veltrano::test {

namespace {

bool accepts(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    close(fd);
    return ok;
}

}  // namespace

Nginx::~Nginx() {
    stop();
}

std::string Nginx::executable() {
    for (const char* path :
         {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx", "/usr/local/bin/nginx"})
        if (access(path, X_OK) == 0) return path;
    return {};
}

std::string Nginx::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool Nginx::start(const std::string& root, const std::string& workDir) {
    stop();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnce(root, workDir)) return true;
        stop();
    }
    return false;
}

bool Nginx::startOnce(const std::string& root, const std::string& workDir) {
    std::string exe = executable();
    if (exe.empty()) {
        error_ = "nginx is not installed";
        return false;
    }
    // Free a moment ago; another process may still take it, so start() retries.
    port_ = freeLoopbackPort();
    if (port_ == 0) {
        error_ = "no free loopback port";
        return false;
    }
    const std::string& w = workDir;
    std::string conf = w + "/nginx.conf";
    {
        std::ofstream f(conf, std::ios::trunc);
        // Single process in the foreground: no privilege switch, ends with its parent.
        f << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
          << "pid " << w << "/nginx.pid;\n"
          << "error_log " << w << "/error.log warn;\n"
          << "events { worker_connections 256; }\n"
          << "http {\n"
          << "  access_log " << w << "/access.log;\n"
          << "  client_body_temp_path " << w << "/client_body;\n"
          << "  proxy_temp_path " << w << "/proxy;\n"
          << "  fastcgi_temp_path " << w << "/fastcgi;\n"
          << "  uwsgi_temp_path " << w << "/uwsgi;\n"
          << "  scgi_temp_path " << w << "/scgi;\n"
          << "  default_type application/octet-stream;\n"
          << "  server {\n"
          << "    listen 127.0.0.1:" << port_ << ";\n"
          << "    root " << root << ";\n"
          << "  }\n"
          << "}\n";
        if (!f) {
            error_ = "cannot write " + conf;
            return false;
        }
    }
    pid_ = spawnChild({exe, "-p", w + "/", "-c", conf, "-e", w + "/error.log"}, -1, &error_);
    if (pid_ < 0) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "nginx exited: " + readFile(w + "/error.log");
            return false;
        }
        if (accepts(port_)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error_ = "nginx did not answer on port " + std::to_string(port_) + ": " + readFile(w + "/error.log");
    return false;
}

void Nginx::stop() {
    if (pid_ > 0) stopChild(pid_, SIGTERM);
    pid_ = -1;
}

}  // namespace veltrano::test

#endif
