#pragma once
// A real nginx serving a folder on 127.0.0.1 for one test. Its configuration, pid, logs and temporary
// folders all live in the given work folder.
//
//   if (Nginx::executable().empty()) GTEST_SKIP() << "nginx is not installed";
//   Nginx nginx;
//   ASSERT_TRUE(nginx.start(webRoot, workDir)) << nginx.error();

#include <string>

#include "support/ChildProcess.h"

namespace veltrano::test {

class Nginx {
public:
    Nginx() = default;
    Nginx(const Nginx&) = delete;
    Nginx& operator=(const Nginx&) = delete;
    ~Nginx();

    // The nginx program, or "" when it is not installed.
    static std::string executable();

    // False (see error()) when nginx did not answer on its port within ten seconds.
    bool start(const std::string& root, const std::string& workDir);
    void stop();

    int port() const { return port_; }
    std::string url(const std::string& path) const;
    const std::string& error() const { return error_; }

private:
    bool startOnce(const std::string& root, const std::string& workDir);

    ChildId pid_ = -1;
    int port_ = 0;
    std::string error_;
};

}  // namespace veltrano::test
