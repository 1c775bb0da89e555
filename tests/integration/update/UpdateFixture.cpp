#include "UpdateFixture.h"

#include <rapidjson/document.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace veltrano::test {

void UpdateFixture::SetUp() {
    ASSERT_TRUE(std::filesystem::create_directories(env.root() + "/www"));
    ASSERT_TRUE(server.start({.root = env.root() + "/www"})) << server.error();
}

bool UpdateFixture::writeWww(const std::string& relative, const std::string& bytes) const {
    std::filesystem::path p = wwwPath(relative);
    std::error_code ec;
    std::filesystem::create_directories(p.parent_path(), ec);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out.flush());
}

std::string UpdateFixture::readAbsolute(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void UpdateFixture::makeGameFolder(const std::string& folder) {
    std::string base = env.root() + "/" + folder + "/";
    std::filesystem::create_directories(base + "bin");
    std::filesystem::create_directories(base + "data/maps");
    std::ofstream(base + "run.sh") << "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n";
    std::filesystem::permissions(base + "run.sh", std::filesystem::perms(0755));
    std::string blob;
    for (int i = 0; i < 200000; ++i) blob += static_cast<char>((i * 2654435761u) >> 13);
    std::ofstream(base + "data/maps/world.bin", std::ios::binary) << blob;
    std::ofstream(base + "data/readme.txt") << "hello";
    std::ofstream(base + "bin/tool.dat") << std::string(5000, 'z');
}

std::string UpdateFixture::pack(const std::string& version, const std::vector<std::string>& extra,
                                const std::string& folder, const std::string& outDir) {
    std::string out = wwwPath(outDir);
    std::filesystem::create_directories(out);
    std::vector<std::string> argv{VELTRANO_PACK_PATH,
                                  "--game",
                                  env.root() + "/" + folder,
                                  "--version",
                                  version,
                                  "--out-dir",
                                  out,
                                  "--manifest",
                                  wwwPath("version.json")};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::string outFile = env.root() + "/pack.out";
    const int fd = createOutputFile(outFile);
    std::string error;
    const ChildId child = spawnChild(argv, fd, &error);
    closeFile(fd);
    EXPECT_TRUE(child > 0 && waitChild(child) == 0) << error << readAbsolute(outFile);
    return readAbsolute(outFile);
}

std::string UpdateFixture::packedMd5() const {
    rapidjson::Document doc;
    std::string text = readAbsolute(wwwPath("version.json"));
    doc.Parse(text.c_str());
    return doc["games"][doc["version"].GetString()]["md5"].GetString();
}

long long UpdateFixture::packedSize() const {
    rapidjson::Document doc;
    std::string text = readAbsolute(wwwPath("version.json"));
    doc.Parse(text.c_str());
    return doc["games"][doc["version"].GetString()]["size"].GetInt64();
}

void UpdateFixture::writeConfig(const std::string& verUrl, const std::string& verSrcUrl,
                                const std::string& gameUrl, const std::string& gameSrcUrl,
                                const std::string& gameDir, const std::string& exeName) {
    std::string cfg = "{\"ver_url\":\"" + (verUrl.empty() ? server.url("/version.json") : verUrl) +
                      "\",\"ver_src_url\":\"" +
                      (verSrcUrl.empty() ? server.url("/version.json") : verSrcUrl) + "\",\"game_url\":\"" +
                      (gameUrl.empty() ? server.url("/") : gameUrl) + "\",\"game_src_url\":\"" +
                      (gameSrcUrl.empty() ? server.url("/") : gameSrcUrl) + "\",\"game_dir\":\"" + gameDir +
                      "\",\"game_exe_name\":\"" + exeName + "\",\"report_url\":\"" + server.url("/report") +
                      "\",\"app_name\":\"test\"}";
    ASSERT_TRUE(env.writeConfig(cfg));
}

RunResult UpdateFixture::runUpdate(const std::vector<std::string>& args, int timeoutSeconds) {
    std::vector<std::string> argv{VELTRANO_UPDATE_PATH, "--dir", env.launcherDir()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string outFile = env.root() + "/update.out";
    const int fd = createOutputFile(outFile);
    std::string error;
    const ChildId child = spawnChild(argv, fd, &error);
    closeFile(fd);
    RunResult r;
    if (child <= 0) {
        ADD_FAILURE() << error;
        return r;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = -1;
    while (!childEnded(child, &status)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ADD_FAILURE() << "veltrano-update did not end within " << timeoutSeconds << " s";
            killChild(child);
            status = 128 + 9;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    r.status = status;
    r.out = readAbsolute(outFile);
#ifdef _WIN32
    // A Windows console program ends its lines with CR LF; a lone CR still shows.
    for (size_t at = 0; (at = r.out.find("\r\n", at)) != std::string::npos;) r.out.erase(at, 1);
#endif
    return r;
}

}  // namespace veltrano::test
