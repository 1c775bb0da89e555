#pragma once
// The three machine texts every event report carries, plus the Windows edition table kept as a pure
// function for the Windows build.

#include <map>
#include <string>
#include <vector>

#include "platform/SystemInfo.h"

namespace veltrano {

// "major.minor" of the running system, "unknown" when it cannot be read.
std::string getSystemVersion();
// The system's display name, "unknown OperatingSystem." when it cannot be read.
std::string getSystemName();

// Report field "platform".
std::string getPlatformName();
// Report field "system_brand": the distribution's ID ("linux" when the release file has none);
// "Microsoft" on Windows.
std::string getSystemBrand();

// The pieces above, from given facts.
std::string systemVersionFromRelease(const std::string& release);
std::string systemNameFromOsRelease(const std::map<std::string, std::string>& osRelease);
std::string systemBrandFromOsRelease(const std::map<std::string, std::string>& osRelease);
bool machineIdFromAdapters(const std::vector<NetworkAdapter>& adapters, std::string& out);
// The machine id as reports carry it: the adapter's text, or "00:00:00:00" when none qualifies.
std::string reportMachineId(const std::vector<NetworkAdapter>& adapters);

// Windows edition name from the version numbers, platform id, product type (1 = workstation),
// processor architecture (9 = x64) and the server R2 metric; "unknown OperatingSystem." when no row
// matches.
std::string windowsEditionName(unsigned major, unsigned minor, unsigned platformId, unsigned productType,
                               unsigned architecture, bool serverR2);

}  // namespace veltrano
