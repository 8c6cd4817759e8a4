#include "platform/serial_ports.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <system_error>

namespace vg {

namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute file, or empty.
std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

// The kinds in listing order, by kernel name prefix.
struct Family {
    const char* prefix;
    const char* kind;
};
constexpr Family kFamilies[] = {{"ttyUSB", "usb"}, {"ttyACM", "acm"}, {"rfcomm", "bluetooth"}, {"ttyS", "serial"}};

const Family* family_of(const std::string& name) {
    for (const Family& f : kFamilies) {
        const std::string_view p = f.prefix;
        if (name.size() > p.size() && name.compare(0, p.size(), p) == 0 &&
            name.find_first_not_of("0123456789", p.size()) == std::string::npos)
            return &f;
    }
    return nullptr;
}

// Family order, then the number (ttyUSB2 before ttyUSB10).
bool kernel_name_less(const std::string& a, const std::string& b) {
    const Family* fa = family_of(a);
    const Family* fb = family_of(b);
    if (fa != fb) return fa < fb;
    const std::size_t n = std::string_view(fa->prefix).size();
    const unsigned long na = std::stoul(a.substr(n)), nb = std::stoul(b.substr(n));
    return na < nb;
}

// What sysfs says about a tty: for USB devices the maker, product, vendor:product id and driver;
// for the others the driver. Empty when sysfs has nothing.
std::string describe(const fs::path& sys_tty, const Family& family) {
    std::error_code ec;
    const fs::path device = fs::canonical(sys_tty / "device", ec);
    if (ec) return family.kind == std::string_view("bluetooth") ? "Bluetooth serial link (RFCOMM)" : "";
    const std::string driver = fs::read_symlink(sys_tty / "device" / "driver", ec).filename().string();
    std::string text;
    // The USB device is the nearest ancestor with a vendor id.
    for (fs::path p = device; !p.empty() && p != p.root_path(); p = p.parent_path()) {
        const std::string vendor = attribute(p / "idVendor");
        if (vendor.empty()) continue;
        const std::string maker = attribute(p / "manufacturer"), product = attribute(p / "product");
        text = maker;
        if (!product.empty()) text += (text.empty() ? "" : " ") + product;
        if (!text.empty()) text += " ";
        text += "(USB " + vendor + ":" + attribute(p / "idProduct");
        if (const std::string serial = attribute(p / "serial"); !serial.empty()) text += ", serial " + serial;
        if (!driver.empty()) text += ", " + driver;
        return text + ")";
    }
    if (family.kind == std::string_view("serial")) text = "built-in serial port";
    if (!driver.empty()) text += (text.empty() ? "" : ", ") + driver;
    return text;
}

// Whether a ttyS port has a UART behind it: the kernel makes ttyS0..ttyS31 whether or not a chip
// answers there, and reports the type of those it found ("type" 0 means none).
bool uart_present(const fs::path& sys_tty) {
    const std::string type = attribute(sys_tty / "type");
    return !type.empty() && type != "0";
}

}  // namespace

std::vector<SerialPortInfo> list_serial_ports(const SerialPortRoots& roots) {
    std::vector<SerialPortInfo> ports;
    std::set<std::string> listed;  // kernel names already listed under a by-id name
    std::error_code ec;

    auto info = [&](const std::string& path, const std::string& kernel_name, const Family& family) {
        SerialPortInfo p;
        p.path = path;
        p.device = (roots.dev / kernel_name).string();
        p.kind = family.kind;
        p.description = describe(roots.sys / kernel_name, family);
        p.accessible = ::access(path.c_str(), R_OK | W_OK) == 0;
        return p;
    };

    std::vector<fs::path> by_id;
    for (fs::directory_iterator it(roots.dev / "serial" / "by-id", ec), end; !ec && it != end; it.increment(ec))
        by_id.push_back(it->path());
    std::sort(by_id.begin(), by_id.end());
    for (const fs::path& link : by_id) {
        const fs::path target = fs::canonical(link, ec);
        if (ec) continue;  // a dangling name: the device has gone
        const std::string kernel_name = target.filename().string();
        const Family* family = family_of(kernel_name);
        if (!family || !listed.insert(kernel_name).second) continue;
        ports.push_back(info(link.string(), kernel_name, *family));
    }

    std::vector<std::string> names;
    for (fs::directory_iterator it(roots.dev, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (family_of(name) && !listed.count(name)) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), kernel_name_less);
    for (const std::string& name : names) {
        const Family* family = family_of(name);
        if (family->kind == std::string_view("serial") && !uart_present(roots.sys / name)) continue;
        ports.push_back(info((roots.dev / name).string(), name, *family));
    }
    return ports;
}

}  // namespace vg
