#pragma once
// Temporary folders, files and a plain libcurl fetch for the networking tests.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "net/Scheduler.h"
#include "support/DevServer.h"
#include "support/TestUtil.h"

namespace veltrano::test {

class TempFolder {
public:
    TempFolder() : path_(makeTempFolder("veltrano-net-")) {}
    ~TempFolder() {
        if (!path_.empty()) removeTree(path_);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string randomBytes(size_t n, unsigned seed = 7) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen() & 0xff);
    return s;
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream f(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct Fetched {
    CURLcode result = CURLE_OK;
    long status = 0;
    std::string body;
    std::string contentRange;
};

// An independent client, so that server behaviour is checked without the code under test.
inline Fetched fetch(const std::string& url, const std::string& range = "") {
    Fetched out;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
    if (!range.empty()) curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
    curl_easy_setopt(
        curl, CURLOPT_WRITEFUNCTION, +[](char* d, size_t s, size_t n, void* u) {
            static_cast<std::string*>(u)->append(d, s * n);
            return s * n;
        });
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &out.body);
    curl_easy_setopt(
        curl, CURLOPT_HEADERFUNCTION, +[](char* d, size_t s, size_t n, void* u) {
            std::string line(d, s * n);
            if (line.rfind("Content-Range:", 0) == 0) {
                line = line.substr(14);
                while (!line.empty() && (line.front() == ' ')) line.erase(0, 1);
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
                *static_cast<std::string*>(u) = line;
            }
            return s * n;
        });
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &out.contentRange);
    out.result = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &out.status);
    curl_easy_cleanup(curl);
    return out;
}

// The Linux program of that name; empty when missing (always on Windows).
inline std::string findProgram(const std::string& name) {
#ifndef _WIN32
    for (const char* dir : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin", "/usr/local/bin"}) {
        std::string path = std::string(dir) + "/" + name;
        if (access(path.c_str(), X_OK) == 0) return path;
    }
#endif
    (void)name;
    return {};
}

// Runs a program to its end; true when it exited with 0.
inline bool runProgram(const std::vector<std::string>& argv) {
    std::string error;
    const ChildId child = spawnChild(argv, -1, &error);
    return child > 0 && waitChild(child) == 0;
}

// A private CA and a server certificate it signed for 127.0.0.1: <dir>/ca.pem, server.pem, server.key.
inline bool makeCertificates(const std::string& dir) {
    std::string openssl = findProgram("openssl");
    if (openssl.empty()) return false;
    writeFile(dir + "/ext.cnf", "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
    return runProgram({openssl,
                       "req",
                       "-x509",
                       "-newkey",
                       "ec",
                       "-pkeyopt",
                       "ec_paramgen_curve:prime256v1",
                       "-nodes",
                       "-keyout",
                       dir + "/ca.key",
                       "-out",
                       dir + "/ca.pem",
                       "-days",
                       "2",
                       "-subj",
                       "/CN=Loopback Test CA",
                       "-addext",
                       "basicConstraints=critical,CA:TRUE",
                       "-addext",
                       "keyUsage=critical,keyCertSign,cRLSign"}) &&
           runProgram({openssl, "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-keyout", dir + "/server.key", "-out", dir + "/server.csr", "-subj",
                       "/CN=127.0.0.1"}) &&
           runProgram({openssl, "x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem", "-CAkey",
                       dir + "/ca.key", "-set_serial", "1", "-days", "2", "-extfile", dir + "/ext.cnf",
                       "-out", dir + "/server.pem"});
}

// A self-signed certificate for 127.0.0.1: <dir>/self.pem and self.key.
inline bool makeSelfSigned(const std::string& dir) {
    std::string openssl = findProgram("openssl");
    return !openssl.empty() &&
           runProgram({openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", dir + "/self.key", "-out", dir + "/self.pem", "-days", "2",
                       "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
}

}  // namespace veltrano::test
