#include "report/SystemInfo.h"

#include <cstdint>
#include <cstdio>

namespace veltrano {

namespace {

const char kUnknownName[] = "unknown OperatingSystem.";

bool readNumber(const std::string& text, size_t* pos, unsigned* value) {
    size_t start = *pos;
    // 64 bits on both systems: Windows's unsigned long would wrap before the check below.
    uint64_t v = 0;
    while (*pos < text.size() && text[*pos] >= '0' && text[*pos] <= '9') {
        v = v * 10 + static_cast<uint64_t>(text[*pos] - '0');
        if (v > 0xffffffffu) return false;
        ++*pos;
    }
    *value = static_cast<unsigned>(v);
    return *pos > start;
}

}  // namespace

std::string systemVersionFromRelease(const std::string& release) {
    size_t pos = 0;
    unsigned major = 0, minor = 0;
    if (!readNumber(release, &pos, &major) || pos >= release.size() || release[pos] != '.') return "unknown";
    ++pos;
    if (!readNumber(release, &pos, &minor)) return "unknown";
    return std::to_string(major) + "." + std::to_string(minor);
}

std::string systemNameFromOsRelease(const std::map<std::string, std::string>& osRelease) {
    auto it = osRelease.find("PRETTY_NAME");
    if (it == osRelease.end() || it->second.empty()) return kUnknownName;
    return it->second;
}

std::string systemBrandFromOsRelease(const std::map<std::string, std::string>& osRelease) {
    auto it = osRelease.find("ID");
    if (it == osRelease.end() || it->second.empty()) return "linux";
    return it->second;
}

bool machineIdFromAdapters(const std::vector<NetworkAdapter>& adapters, std::string& out) {
    for (const NetworkAdapter& a : adapters) {
        if (a.type != 1 || !a.hasDevice || a.wireless || a.address.size() != 6) continue;
        char text[18];
        std::snprintf(text, sizeof text, "%02X-%02X-%02X-%02X-%02X-%02X", a.address[0], a.address[1],
                      a.address[2], a.address[3], a.address[4], a.address[5]);
        out = text;
        return true;
    }
    return false;
}

std::string reportMachineId(const std::vector<NetworkAdapter>& adapters) {
    std::string id;
    return machineIdFromAdapters(adapters, id) ? id : "00:00:00:00";
}

#ifdef _WIN32
std::string getSystemVersion() {
    WindowsVersion v;
    if (!readWindowsVersion(&v)) return "unknown";
    return std::to_string(v.major) + "." + std::to_string(v.minor);
}

std::string getSystemName() {
    WindowsVersion v;
    if (!readWindowsVersion(&v)) return kUnknownName;
    return windowsEditionName(v.major, v.minor, v.platformId, v.productType, v.architecture, v.serverR2);
}

std::string getPlatformName() {
    return "windows";
}

std::string getSystemBrand() {
    return "Microsoft";
}
#else
std::string getSystemVersion() {
    return systemVersionFromRelease(kernelRelease());
}

std::string getSystemName() {
    return systemNameFromOsRelease(readOsRelease());
}

std::string getPlatformName() {
    return "linux";
}

std::string getSystemBrand() {
    return systemBrandFromOsRelease(readOsRelease());
}
#endif

bool getMachineId(std::string& out) {
    return machineIdFromAdapters(listNetworkAdapters(), out);
}

std::string windowsEditionName(unsigned major, unsigned minor, unsigned platformId, unsigned productType,
                               unsigned architecture, bool serverR2) {
    const bool workstation = productType == 1;
    auto pick = [workstation](const char* client, const char* server) {
        return std::string(workstation ? client : server);
    };
    if (major == 4) {
        if (minor == 0 && platformId == 2) return "Microsoft Windows NT 4.0";
        if (minor == 0 && platformId == 1) return "Microsoft Windows 95";
        if (minor == 10) return "Microsoft Windows 98";
        if (minor == 90) return "Microsoft Windows Me";
    } else if (major == 5) {
        if (minor == 0) return "Microsoft Windows 2000";
        if (minor == 1) return "Microsoft Windows XP";
        if (minor == 2) {
            if (workstation && architecture == 9) return "Microsoft Windows XP Professional x64 Edition";
            return serverR2 ? "Microsoft Windows Server 2003 R2" : "Microsoft Windows Server 2003";
        }
    } else if (major == 6) {
        switch (minor) {
            case 0:
                return pick("Microsoft Windows Vista", "Microsoft Windows Server 2008");
            case 1:
                return pick("Microsoft Windows 7", "Microsoft Windows Server 2008 R2");
            case 2:
                return pick("Microsoft Windows 8", "Microsoft Windows Server 2012");
            case 3:
                return pick("Microsoft Windows 8.1", "Microsoft Windows Server 2012 R2");
            default:
                break;
        }
    } else if (major == 10 && minor == 0) {
        return pick("Microsoft Windows 10", "Microsoft Windows Server 2016 Technical Preview");
    }
    return kUnknownName;
}

}  // namespace veltrano
