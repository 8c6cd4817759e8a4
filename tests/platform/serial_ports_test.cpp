// The serial port listing over a made-up /dev and /sys tree shaped like a laptop's: a u-blox
// receiver with a by-id name, an FTDI cable, a Bluetooth link, one real and one empty ttyS port.
#include "platform/serial_ports.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/test_paths.h"

namespace vg {
namespace {

namespace fs = std::filesystem;

void usb_device(const fs::path& dir, const std::string& vendor, const std::string& product_id,
                const std::string& maker, const std::string& product) {
    fs::create_directories(dir);
    test::write_file(dir / "idVendor", vendor + "\n");
    test::write_file(dir / "idProduct", product_id + "\n");
    if (!maker.empty()) test::write_file(dir / "manufacturer", maker + "\n");
    test::write_file(dir / "product", product + "\n");
}

TEST(SerialPorts, ListsByIdNamesFirstThenEachFamilyInOrderEachDeviceOnce) {
    test::TempDir tmp;
    const fs::path dev = tmp / "dev", sys = tmp / "sys";
    fs::create_directories(dev / "serial" / "by-id");
    for (const char* name : {"ttyACM0", "ttyUSB10", "ttyUSB2", "rfcomm0", "ttyS0", "ttyS1", "ttyS", "ttyUSBx", "tty0"})
        test::write_file(dev / name, "");
    ::chmod((dev / "ttyUSB2").c_str(), 0);  // a device this user may not open
    fs::create_symlink("../../ttyACM0", dev / "serial" / "by-id" / "usb-u-blox_AG_GNSS_receiver-if00");
    fs::create_symlink("../../ttyUSB7", dev / "serial" / "by-id" / "usb-gone-if00");  // unplugged

    // sysfs: the ACM receiver's interface under its USB device, the FTDI port under its interface.
    const fs::path usb1 = sys / "devices" / "usb1" / "1-1";
    usb_device(usb1, "1546", "01a8", "u-blox AG - www.u-blox.com", "u-blox GNSS receiver");
    fs::create_directories(usb1 / "1-1:1.0");
    fs::create_directories(sys / "drivers" / "cdc_acm");
    fs::create_directories(sys / "ttyACM0");
    fs::create_symlink(usb1 / "1-1:1.0", sys / "ttyACM0" / "device");
    fs::create_symlink(sys / "drivers" / "cdc_acm", usb1 / "1-1:1.0" / "driver");
    const fs::path usb2 = sys / "devices" / "usb1" / "1-2";
    usb_device(usb2, "0403", "6001", "", "FT232R USB UART");
    test::write_file(usb2 / "serial", "A50285BI\n");
    fs::create_directories(usb2 / "1-2:1.0" / "ttyUSB2");
    fs::create_directories(sys / "drivers" / "ftdi_sio");
    fs::create_symlink(sys / "drivers" / "ftdi_sio", usb2 / "1-2:1.0" / "ttyUSB2" / "driver");
    fs::create_directories(sys / "ttyUSB2");
    fs::create_symlink(usb2 / "1-2:1.0" / "ttyUSB2", sys / "ttyUSB2" / "device");
    fs::create_directories(sys / "rfcomm0");
    // ttyS0 has a 16550A (type 4), ttyS1 no chip (type 0): only ttyS0 is listed.
    fs::create_directories(sys / "ttyS0" / "device");
    test::write_file(sys / "ttyS0" / "type", "4\n");
    fs::create_directories(sys / "ttyS1");
    test::write_file(sys / "ttyS1" / "type", "0\n");

    const auto ports = list_serial_ports({dev, sys});
    std::vector<std::string> paths;
    for (const auto& p : ports) paths.push_back(fs::path(p.path).lexically_relative(dev).string());
    EXPECT_EQ(paths, (std::vector<std::string>{"serial/by-id/usb-u-blox_AG_GNSS_receiver-if00", "ttyUSB2", "ttyUSB10",
                                               "rfcomm0", "ttyS0"}));
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(ports[0].device, (dev / "ttyACM0").string());
    EXPECT_EQ(ports[0].kind, "acm");
    EXPECT_EQ(ports[0].description, "u-blox AG - www.u-blox.com u-blox GNSS receiver (USB 1546:01a8, cdc_acm)");
    EXPECT_TRUE(ports[0].accessible);
    EXPECT_EQ(ports[1].kind, "usb");
    EXPECT_EQ(ports[1].description, "FT232R USB UART (USB 0403:6001, serial A50285BI, ftdi_sio)");
    if (::geteuid() != 0) {
        EXPECT_FALSE(ports[1].accessible);  // root may open anything
    }
    EXPECT_EQ(ports[2].description, "");
    EXPECT_EQ(ports[3].kind, "bluetooth");
    EXPECT_EQ(ports[3].description, "Bluetooth serial link (RFCOMM)");
    EXPECT_EQ(ports[4].kind, "serial");
    EXPECT_EQ(ports[4].description, "built-in serial port");

    // A machine without any of these lists nothing.
    EXPECT_TRUE(list_serial_ports({tmp / "none", tmp / "none"}).empty());
}

}  // namespace
}  // namespace vg
