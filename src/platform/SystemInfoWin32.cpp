#include "platform/SystemInfo.h"

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <vector>

namespace veltrano {

bool readWindowsVersion(WindowsVersion* version) {
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
#pragma GCC diagnostic pop
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    version->major = info.dwMajorVersion;
    version->minor = info.dwMinorVersion;
    version->platformId = info.dwPlatformId;
    version->productType = info.wProductType;
    version->architecture = system.wProcessorArchitecture;
    version->serverR2 = GetSystemMetrics(SM_SERVERR2) != 0;
    return true;
}

std::vector<NetworkAdapter> listNetworkAdapters() {
    std::vector<NetworkAdapter> adapters;
    ULONG size = 648;
    std::vector<unsigned char> buffer(size);
    DWORD rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    if (rc == ERROR_BUFFER_OVERFLOW) {
        buffer.resize(size);
        rc = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR) return adapters;
    for (auto* a = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); a; a = a->Next) {
        NetworkAdapter adapter;
        adapter.name = a->AdapterName;
        adapter.index = static_cast<int>(a->Index);
        adapter.type = a->Type == MIB_IF_TYPE_ETHERNET ? 1 : -1;
        adapter.hasDevice = true;
        adapter.wireless = a->Type == IF_TYPE_IEEE80211;
        const UINT length = a->AddressLength < sizeof a->Address ? a->AddressLength : sizeof a->Address;
        adapter.address.assign(a->Address, a->Address + length);
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

}  // namespace veltrano
