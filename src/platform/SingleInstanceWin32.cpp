#include "platform/SingleInstance.h"

#include <windows.h>

namespace veltrano {

SingleInstance::~SingleInstance() {
    release();
}

std::string SingleInstance::lockPath() {
    return "QRVN_FLASH_Mutex";
}

bool SingleInstance::acquire() {
    if (mutex_) return true;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"QRVN_FLASH_Mutex");
    // The mutex only marks that a launcher runs: its existence is the answer, ownership is never taken.
    if (!mutex) return false;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return false;
    }
    mutex_ = mutex;
    return true;
}

void SingleInstance::release() {
    if (!mutex_) return;
    CloseHandle(static_cast<HANDLE>(mutex_));
    mutex_ = nullptr;
}

}  // namespace veltrano
