// The serial devices this machine has, as a user picks a receiver from them: stable
// /dev/serial/by-id names first, then USB serial adapters (ttyUSB*), USB modem-class receivers
// (ttyACM*), Bluetooth serial links (rfcomm*) and the built-in ports (ttyS*) that have a UART behind
// them. Each device is listed once, under its by-id name when it has one.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vg {

struct SerialPortInfo {
    std::string path;         // what to open: "/dev/serial/by-id/usb-…" or "/dev/ttyUSB0"
    std::string device;       // the kernel device it is ("/dev/ttyACM0"); equal to path without a by-id name
    std::string kind;         // "usb", "acm", "bluetooth" or "serial"
    std::string description;  // what the system says about it: maker, product, USB id, driver
    bool accessible = false;  // this user may open it for reading and writing
};

// Where the listing looks; tests point these at a made-up tree.
struct SerialPortRoots {
    std::filesystem::path dev = "/dev";
    std::filesystem::path sys = "/sys/class/tty";
};

std::vector<SerialPortInfo> list_serial_ports(const SerialPortRoots& roots = {});

}  // namespace vg
