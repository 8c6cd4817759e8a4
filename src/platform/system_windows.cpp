#include <windows.h>

#include <string>

#include "platform/system.h"

namespace vg {

int current_thread_id() {
    const int id = static_cast<int>(GetCurrentThreadId());
    return id != 0 ? id : 1;
}

const char* system_name() { return "Windows"; }

std::string system_release() {
    // RtlGetVersion reports the true version, which GetVersionEx hides from programs without a
    // compatibility manifest.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return {};
    const auto get_version = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!get_version || get_version(&info) != 0) return {};
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber);
}

}  // namespace vg
