// The spawner: starts servers on request for test programs that cannot start a Linux program
// themselves (the Windows tests under wine). One connection per server:
//   client:  "<count>\n" then <count> arguments, each ended by a NUL byte
//   spawner: the server's first output line (its URL), or an empty line when it did not start
// The server runs until the client closes its side; then it gets SIGTERM, is reaped, and only then
// the spawner closes the connection, so a client that reads to the end knows the server is gone.

#include "Spawner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

bool readRequest(int fd, std::vector<std::string>* args) {
    std::string data;
    char buf[4096];
    size_t count = 0;
    for (;;) {
        const size_t nl = data.find('\n');
        if (nl != std::string::npos) {
            count = std::strtoul(data.c_str(), nullptr, 10);
            size_t parts = 0;
            for (size_t i = nl + 1; i < data.size(); ++i) parts += data[i] == '\0';
            if (parts >= count) break;
        }
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return false;
        data.append(buf, static_cast<size_t>(n));
    }
    size_t pos = data.find('\n') + 1;
    for (size_t i = 0; i < count; ++i) {
        const size_t end = data.find('\0', pos);
        args->push_back(data.substr(pos, end - pos));
        pos = end + 1;
    }
    return true;
}

void sendAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Serves one connection in a child of the spawner; never returns.
[[noreturn]] void serve(int client, const std::string& self) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::vector<std::string> args;
    if (!readRequest(client, &args)) _exit(1);
    int out[2];
    if (pipe(out) != 0) _exit(1);
    std::vector<char*> argv{const_cast<char*>(self.c_str())};
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t server = fork();
    if (server == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        close(client);
        execv(self.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c;
    while (server > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    sendAll(client, line + "\n");
    // Until the client hangs up; anything it sends is ignored.
    char buf[256];
    while (recv(client, buf, sizeof buf, 0) > 0) {
    }
    if (server > 0) {
        // As the Linux fixtures do: a server whose handler still sleeps in a delay fault is not
        // waited for longer than a few seconds.
        kill(server, SIGTERM);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        bool reaped = false;
        while (!reaped && std::chrono::steady_clock::now() < deadline) {
            reaped = waitpid(server, nullptr, WNOHANG) == server;
            if (!reaped) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!reaped) {
            kill(server, SIGKILL);
            while (waitpid(server, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }
    close(client);
    _exit(0);
}

}  // namespace

int runSpawner(const std::string& self) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 64) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::fprintf(stderr, "veltrano-devserver: the spawner cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::signal(SIGCHLD, SIG_IGN);  // connection children reap themselves
    std::printf("127.0.0.1:%d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return 1;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(listener);
            std::signal(SIGCHLD, SIG_DFL);
            serve(client, self);
        }
        close(client);
    }
}
