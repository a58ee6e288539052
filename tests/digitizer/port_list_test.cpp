// The serial ports present, read from a tree built the way the kernel lays out /sys and
// udev lays out /dev: a USB adapter with its stable name, a USB modem whose strings carry
// control characters, a built-in UART behind the serial core's port devices, an older
// kernel's UART, the unused placeholders that must not be listed, a virtual terminal, and
// a stable name leading to a pseudo-terminal. Then the device argument of the tools, with
// a relative link to a real pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "digitizer/port_list.h"
#include "support/pty_pair.h"

namespace fs = std::filesystem;

namespace {

class PortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("port_list_test." + std::to_string(getpid()) + "." +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    void TearDown() override { fs::remove_all(root_); }

    void File(const std::string& path, const std::string& text = "") const {
        fs::create_directories((root_ / path).parent_path());
        std::ofstream(root_ / path) << text;
    }
    void Dir(const std::string& path) const { fs::create_directories(root_ / path); }
    void Link(const std::string& path, const std::string& target) const {
        fs::create_directories((root_ / path).parent_path());
        fs::create_symlink(target, root_ / path);
    }
    // A tty class entry whose device is `device` (below sys/devices), with its node.
    void Tty(const std::string& name, const std::string& device, bool node = true) const {
        Dir("sys/devices/" + device);
        Link("sys/class/tty/" + name + "/device", "../../../devices/" + device);
        if (node) {
            File("dev/" + name);
        }
    }
    // `device`'s driver and bus, as sysfs links them.
    void Driver(const std::string& device, const std::string& bus, const std::string& driver) {
        Dir("sys/bus/" + bus + "/drivers/" + driver);
        const fs::path path(device);
        const auto depth = std::distance(path.begin(), path.end());
        std::string up = "../../";  // out of the device and sys/devices
        for (long i = 0; i < depth; ++i) {
            up += "../";
        }
        up.resize(up.size() - 3);
        Link("sys/devices/" + device + "/driver", up + "/bus/" + bus + "/drivers/" + driver);
        Link("sys/devices/" + device + "/subsystem", up + "/bus/" + bus);
    }

    fs::path root_;
};

TEST_F(PortListTest, ListsTheHardwareWithStableNamesAndUsbStrings) {
    // An FTDI-style adapter: the tty's device is the usb-serial port under the interface.
    const std::string usb = "pci0000:00/0000:00:14.0/usb1/1-2";
    Tty("ttyUSB0", usb + "/1-2:1.0/ttyUSB0");
    Driver(usb + "/1-2:1.0/ttyUSB0", "usb-serial", "ftdi_sio");
    File("sys/devices/" + usb + "/idVendor", "0403\n");
    File("sys/devices/" + usb + "/idProduct", "6001\n");
    File("sys/devices/" + usb + "/manufacturer", "FTDI\n");
    File("sys/devices/" + usb + "/product", "FT232R USB UART\n");
    File("sys/devices/" + usb + "/serial", "A10K3XYZ\n");
    Link("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0", "../../ttyUSB0");
    // A modem: the tty's device is the interface; its strings are whatever it sends.
    const std::string acm = "pci0000:00/0000:00:14.0/usb1/1-3";
    Tty("ttyACM0", acm + "/1-3:1.0");
    Driver(acm + "/1-3:1.0", "usb", "cdc_acm");
    File("sys/devices/" + acm + "/idVendor", "2341");
    File("sys/devices/" + acm + "/idProduct", "0043");
    File("sys/devices/" + acm + "/product", "  Uno\x01\x1b[2J  \nsecond line");
    // A built-in UART on a newer kernel: the serial core's controller and port devices sit
    // between the tty and the hardware, and every port's own driver is "port".
    Tty("ttyS0", "pnp0/00:04/00:04:0/00:04:0.0");
    File("sys/class/tty/ttyS0/type", "4\n");
    Driver("pnp0/00:04/00:04:0/00:04:0.0", "serial-base", "port");
    Driver("pnp0/00:04/00:04:0", "serial-base", "ctrl");
    Driver("pnp0/00:04", "pnp", "serial");
    // The placeholders: type 0 (newer kernels), or no type and the 8250 placeholder driver.
    Tty("ttyS1", "platform/serial8250/serial8250:0/serial8250:0.1");
    File("sys/class/tty/ttyS1/type", "0\n");
    Driver("platform/serial8250/serial8250:0/serial8250:0.1", "serial-base", "port");
    Driver("platform/serial8250", "platform", "serial8250");
    Tty("ttyS2", "platform/serial8250");
    // An older kernel's UART without the type attribute, and one with no node in /dev.
    Tty("ttyS10", "pnp0/00:05");
    Driver("pnp0/00:05", "pnp", "serial");
    Tty("ttyS3", "pnp0/00:06", false);
    File("sys/class/tty/ttyS3/type", "4\n");
    // A virtual terminal has no device.
    Dir("sys/devices/virtual/tty/tty0");
    Link("sys/class/tty/tty0/subsystem", "../../../class/tty");
    File("dev/tty0");
    // A stable name for a pseudo-terminal (an absolute link, taken inside the tree), and
    // one whose device has gone.
    File("dev/pts/3");
    Link("dev/serial/by-id/usb-Bench_Digitizer-if00", "/dev/pts/3");
    Link("dev/serial/by-id/usb-Gone_Adapter-if00-port0", "../../ttyUSB9");

    const std::vector<TSerialPortInfo> ports = ListSerialPorts(root_.string());
    struct TRow {
        const char* Device;
        const char* ById;
        const char* Driver;
        const char* Vendor;
        const char* Product;
        const char* Manufacturer;
        const char* ProductName;
        const char* Serial;
    };
    const TRow expected[] = {
        {"/dev/pts/3", "/dev/serial/by-id/usb-Bench_Digitizer-if00", "", "", "", "", "", ""},
        {"/dev/ttyACM0", "", "cdc_acm", "2341", "0043", "", "Uno??[2J", ""},
        {"/dev/ttyS0", "", "serial", "", "", "", "", ""},
        {"/dev/ttyS10", "", "serial", "", "", "", "", ""},
        {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0",
         "ftdi_sio", "0403", "6001", "FTDI", "FT232R USB UART", "A10K3XYZ"},
    };
    ASSERT_EQ(ports.size(), std::size(expected));
    for (size_t i = 0; i < ports.size(); ++i) {
        const TRow& row = expected[i];
        const TSerialPortInfo& port = ports[i];
        SCOPED_TRACE(row.Device);
        EXPECT_EQ(port.Device, row.Device);
        EXPECT_EQ(port.ById, row.ById);
        EXPECT_EQ(port.Driver, row.Driver);
        EXPECT_EQ(port.VendorId, row.Vendor);
        EXPECT_EQ(port.ProductId, row.Product);
        EXPECT_EQ(port.Manufacturer, row.Manufacturer);
        EXPECT_EQ(port.Product, row.ProductName);
        EXPECT_EQ(port.SerialNumber, row.Serial);
    }
    EXPECT_EQ(ports[4].Text(),
              "/dev/ttyUSB0: USB 0403:6001 FTDI FT232R USB UART, serial A10K3XYZ; stable name "
              "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0");

    // The hint of an open failure: USB adapters first, at most the number asked for.
    EXPECT_EQ(SerialPortsHint(ports, 3), "Serial ports present:\n  " + ports[1].Text() + "\n  " +
                                             ports[4].Text() + "\n  " + ports[0].Text() +
                                             "\n  and 2 more (--list-ports)");
    EXPECT_EQ(SerialPortsHint({}), "No serial port was found.");
    EXPECT_EQ(SerialPortListText({}), "No serial port was found.\n");
    EXPECT_TRUE(ListSerialPorts((root_ / "missing").string()).empty());
}

TEST_F(PortListTest, ADeviceIsAnAbsolutePathAPortNumberOrANameUnderDev) {
    // A relative link to a real pseudo-terminal, as a simulator's --link makes one.
    TPtyPeer peer;
    Link("dev.link", peer.SlavePath());
    File("dev/ttyUSB0");
    File("dev/serial/by-id/usb-X-if00");
    const std::string relative = (root_ / "dev.link").lexically_relative(fs::current_path());
    struct TRow {
        std::string Text;
        std::string Device;  // on success
        int Port;            // on success
        std::string Error;   // a part of the message, empty on success
    };
    const TRow rows[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0", 1, ""},
        {(root_ / "dev.link").string(), (root_ / "dev.link").string(), 1, ""},
        {"1", "", 1, ""},
        {"255", "", 255, ""},
        {"007", "", 7, ""},
        {"0", "", 0, "'0' is not a port number from 1 to 255"},
        {"256", "", 0, "'256' is not a port number from 1 to 255"},
        {"99999999999999999999", "", 0, "is not a port number from 1 to 255"},
        {"", "", 0, "no device given"},
        {"ttyUSB0", "/dev/ttyUSB0", 1, ""},
        {"ttyACM9", "", 0,
         "'ttyACM9' is neither a device path nor a port number: give a device as a path "
         "beginning with / (such as /dev/ttyUSB0) or as a port number from 1 to 255; no serial "
         "port was found (--list-ports)"},
        {"serial/by-id/usb-X-if00", "/dev/serial/by-id/usb-X-if00", 1, ""},
        {"..", "", 0, "is neither a device path nor a port number"},
        {"serial/../ttyUSB0", "", 0, "is neither a device path nor a port number"},
        {relative, "", 0, "; for this file give " + (root_ / "dev.link").string()},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE("'" + row.Text + "'");
        std::string device;
        uint8_t port = 1;
        const std::string error = ParsePortArgument(row.Text, device, port, root_.string());
        if (row.Error.empty()) {
            EXPECT_EQ(error, "");
            EXPECT_EQ(device, row.Device);
            EXPECT_EQ(port, row.Port);
        } else {
            EXPECT_NE(error.find(row.Error), std::string::npos) << error;
            // A name that is no number is told how to give a path; a number is not.
            EXPECT_EQ(error.find("beginning with /") != std::string::npos,
                      row.Text.find_first_not_of("0123456789") != std::string::npos)
                << error;
            EXPECT_TRUE(device.empty());
        }
    }
}

}  // namespace
