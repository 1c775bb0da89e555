#pragma once
// Raw facts about this machine, read from the kernel and the distribution's release file.

#include <map>
#include <string>
#include <vector>

namespace veltrano {

// The kernel release as uname reports it (for example "6.1.0-13-amd64"); empty on failure.
std::string kernelRelease();

// KEY=VALUE pairs of an os-release file with quotes and escapes removed. An empty path reads
// /etc/os-release, falling back to /usr/lib/os-release. Empty when nothing could be read.
std::map<std::string, std::string> readOsRelease(const std::string& path = "");

struct NetworkAdapter {
    std::string name;
    int index = 0;
    int type = -1;           // ARPHRD_* value; 1 is Ethernet
    bool hasDevice = false;  // backed by hardware (virtual interfaces have no device link)
    bool wireless = false;
    std::vector<unsigned char> address;
};

// The interfaces under sysClassNet (normally /sys/class/net), in ascending interface index.
std::vector<NetworkAdapter> listNetworkAdapters(const std::string& sysClassNet = "/sys/class/net");

}  // namespace veltrano
