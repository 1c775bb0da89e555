#pragma once
// A launcher directory, a devserver serving a packed game, and runs of veltrano-update against them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/DevServer.h"
#include "support/TestEnv.h"

namespace veltrano::test {

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;  // standard output
};

class UpdateFixture : public ::testing::Test {
protected:
    void SetUp() override;

    // Files below <root>/www, served by the server.
    bool writeWww(const std::string& relative, const std::string& bytes) const;
    std::string wwwPath(const std::string& relative) const { return env.root() + "/www/" + relative; }
    std::string readAbsolute(const std::string& path) const;

    // A small game folder below <root>/src with nested folders and an executable.
    void makeGameFolder(const std::string& folder = "src");
    // veltrano-pack on <root>/<folder> into www/<outDir>; returns its stdout.
    std::string pack(const std::string& version, const std::vector<std::string>& extra = {},
                     const std::string& folder = "src", const std::string& outDir = "");
    // The manifest entry as veltrano-pack wrote it into www/version.json.
    std::string packedMd5() const;
    long long packedSize() const;

    // launcher.cfg pointing at the server; empty URLs keep the defaults below.
    void writeConfig(const std::string& verUrl = "", const std::string& verSrcUrl = "",
                     const std::string& gameUrl = "", const std::string& gameSrcUrl = "",
                     const std::string& gameDir = "game", const std::string& exeName = "run.sh");

    RunResult runUpdate(const std::vector<std::string>& args = {}, int timeoutSeconds = 120);
    // The archive pieces live in the download folder shared with the window.
    std::string downloadDir() const { return env.root() + "/data/veltrano/"; }

    TestEnv env;
    DevServer server;
};

}  // namespace veltrano::test
