#pragma once
// Raw facts about this machine: on Windows from the version and adapter calls, elsewhere from the
// kernel and the distribution's release file.

#include <map>
#include <string>
#include <vector>

namespace veltrano {

struct NetworkAdapter {
    std::string name;
    int index = 0;
    int type = -1;           // ARPHRD_* value; 1 is Ethernet (on Windows: MIB_IF_TYPE_ETHERNET)
    bool hasDevice = false;  // backed by hardware (virtual interfaces have no device link)
    bool wireless = false;
    std::vector<unsigned char> address;
};

#ifdef _WIN32
struct WindowsVersion {
    unsigned major = 0;
    unsigned minor = 0;
    unsigned platformId = 0;
    unsigned productType = 0;   // 1: workstation
    unsigned architecture = 0;  // processor architecture; 9: x64
    bool serverR2 = false;
};

// GetVersionExW with the extended record, the processor architecture and the server R2 metric.
bool readWindowsVersion(WindowsVersion* version);

// The adapters in the order GetAdaptersInfo lists them.
std::vector<NetworkAdapter> listNetworkAdapters();
#else
// The kernel release as uname reports it (for example "6.1.0-13-amd64"); empty on failure.
std::string kernelRelease();

// KEY=VALUE pairs of an os-release file with quotes and escapes removed. An empty path reads
// /etc/os-release, falling back to /usr/lib/os-release. Empty when nothing could be read.
std::map<std::string, std::string> readOsRelease(const std::string& path = "");

// The interfaces under sysClassNet (normally /sys/class/net), in ascending interface index.
std::vector<NetworkAdapter> listNetworkAdapters(const std::string& sysClassNet = "/sys/class/net");
#endif

}  // namespace veltrano
