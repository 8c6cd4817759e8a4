// The COM ports Windows knows (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: the driver's device name, then
// the port name), in port-number order. `roots` only applies to Linux.
#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "platform/serial_ports.h"

namespace vg {

std::vector<SerialPortInfo> list_serial_ports(const SerialPortRoots&) {
    std::vector<SerialPortInfo> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD name_size = sizeof name;
        char data[64];
        DWORD data_size = sizeof data - 1;
        DWORD type = 0;
        const LONG r = RegEnumValueA(key, i, name, &name_size, nullptr, &type, reinterpret_cast<BYTE*>(data), &data_size);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS || type != REG_SZ) continue;
        data[data_size] = '\0';
        SerialPortInfo info;
        info.path = data;  // "COM3"
        info.device = "\\\\.\\" + info.path;
        const std::string driver = name;  // "\Device\Serial0", "\Device\VCP0", "\Device\BthModem0"
        info.kind = driver.find("Bth") != std::string::npos ? "bluetooth"
                    : driver.find("Serial") != std::string::npos ? "serial"
                                                                 : "usb";
        info.description = driver;
        const std::wstring wide(info.device.begin(), info.device.end());
        HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        info.accessible = h != INVALID_HANDLE_VALUE;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        ports.push_back(std::move(info));
    }
    RegCloseKey(key);
    auto number = [](const SerialPortInfo& p) { return std::atoi(p.path.c_str() + (p.path.size() > 3 ? 3 : 0)); };
    std::sort(ports.begin(), ports.end(), [&](const SerialPortInfo& a, const SerialPortInfo& b) { return number(a) < number(b); });
    return ports;
}

}  // namespace vg
