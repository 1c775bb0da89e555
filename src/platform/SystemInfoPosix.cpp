#include "platform/SystemInfo.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/utsname.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace veltrano {

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string readTrimmed(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

bool parseInt(const std::string& text, int* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < -0x7fffffffL || v > 0x7fffffffL) return false;
    *value = static_cast<int>(v);
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// "00:1a:2b:3c:4d:5e" into its bytes; empty when the text is not such a list.
std::vector<unsigned char> parseHardwareAddress(const std::string& text) {
    std::vector<unsigned char> bytes;
    size_t i = 0;
    while (i < text.size()) {
        if (i + 1 >= text.size()) return {};
        int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return {};
        bytes.push_back(static_cast<unsigned char>(hi * 16 + lo));
        i += 2;
        if (i < text.size()) {
            if (text[i] != ':') return {};
            ++i;
            if (i == text.size()) return {};
        }
    }
    return bytes;
}

// Shell-like value: quoted parts lose their quotes, a backslash escapes the next character.
std::string unquoteValue(const std::string& raw) {
    std::string out;
    char quote = 0;
    for (size_t i = 0; i < raw.size(); ++i) {
        char c = raw[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '\\' && i + 1 < raw.size()) {
            out += raw[++i];
        } else if (quote == '"' && c == '"') {
            quote = 0;
        } else if (!quote && (c == '"' || c == '\'')) {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

bool readOsReleaseFile(const std::string& path, std::map<std::string, std::string>* values) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        size_t eq = line.find('=', start);
        if (eq == std::string::npos || eq == start) continue;
        std::string key = line.substr(start, eq - start);
        if (key.find_first_of(" \t") != std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
        (*values)[key] = unquoteValue(value);
    }
    return true;
}

}  // namespace

std::string kernelRelease() {
    struct utsname names;
    if (uname(&names) != 0) return "";
    return names.release;
}

std::map<std::string, std::string> readOsRelease(const std::string& path) {
    std::map<std::string, std::string> values;
    if (!path.empty()) {
        readOsReleaseFile(path, &values);
    } else if (!readOsReleaseFile("/etc/os-release", &values)) {
        readOsReleaseFile("/usr/lib/os-release", &values);
    }
    return values;
}

std::vector<NetworkAdapter> listNetworkAdapters(const std::string& sysClassNet) {
    std::vector<NetworkAdapter> adapters;
    DIR* dir = opendir(sysClassNet.c_str());
    if (!dir) return adapters;
    while (dirent* item = readdir(dir)) {
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        const std::string base = sysClassNet + "/" + name;
        NetworkAdapter adapter;
        adapter.name = name;
        if (!parseInt(readTrimmed(base + "/ifindex"), &adapter.index)) continue;
        if (!parseInt(readTrimmed(base + "/type"), &adapter.type)) adapter.type = -1;
        adapter.hasDevice = exists(base + "/device");
        adapter.wireless = exists(base + "/wireless") || exists(base + "/phy80211");
        adapter.address = parseHardwareAddress(readTrimmed(base + "/address"));
        adapters.push_back(std::move(adapter));
    }
    closedir(dir);
    std::sort(adapters.begin(), adapters.end(),
              [](const NetworkAdapter& a, const NetworkAdapter& b) { return a.index < b.index; });
    return adapters;
}

}  // namespace veltrano
