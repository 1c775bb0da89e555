#pragma once
// A throw-away home for one test: HOME and the XDG folders point into a fresh temporary folder,
// restored and removed afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

class TempHome {
public:
    TempHome() {
        char pattern[] = "/tmp/veltrano-startup-XXXXXX";
        root_ = mkdtemp(pattern);
        for (const char* name :
             {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_DESKTOP_DIR"}) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        std::filesystem::create_directories(root_ + "/home/Desktop");
        std::filesystem::create_directories(root_ + "/runtime");
        setenv("HOME", (root_ + "/home").c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ + "/home/.local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (root_ + "/home/.config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root_ + "/runtime").c_str(), 1);
        unsetenv("XDG_DESKTOP_DIR");
    }
    ~TempHome() {
        for (const auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& root() const { return root_; }
    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    static void write(const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }

private:
    std::string root_;
    std::map<std::string, std::optional<std::string>> saved_;
};
