// The serial devices present on this computer, for a user who has plugged in a USB adapter
// and does not know its name: each device under /dev that the kernel knows as real hardware
// (USB adapters, modems, built-in UARTs; not the unused ttyS placeholders), with its stable
// name under /dev/serial/by-id and, for a USB adapter, what the adapter says of itself.
// Everything is read below a root directory, so that a test can build its own tree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TSerialPortInfo {
    std::string Device;        // "/dev/ttyUSB0"
    std::string ById;          // "/dev/serial/by-id/usb-...-if00-port0", or empty
    std::string Driver;        // "ftdi_sio", "cdc_acm", "serial", or empty
    std::string VendorId;      // USB only: "0403"
    std::string ProductId;     // USB only: "6001"
    std::string Manufacturer;  // USB only, when the adapter says
    std::string Product;       // USB only, when the adapter says
    std::string SerialNumber;  // USB only, when the adapter says

    bool IsUsb() const { return !VendorId.empty(); }
    // One line: "/dev/ttyUSB0  USB 0403:6001 FTDI FT232R USB UART, serial A12345
    // (/dev/serial/by-id/usb-FTDI_...)".
    std::string Text() const;
};

// The ports present below `root` ("/" for this computer), sorted by device name with the
// numbers in order (ttyS2 before ttyS10). Unreadable parts of the tree are left out.
std::vector<TSerialPortInfo> ListSerialPorts(const std::string& root = "/");

// The list as --list-ports prints it: one line per port, or a line saying that none was
// found.
std::string SerialPortListText(const std::vector<TSerialPortInfo>& ports);

// For a message about a port that did not open: "Serial ports present:" and at most
// `maxPorts` ports, one line each with a count of the rest; or "No serial port was found."
std::string SerialPortsHint(const std::vector<TSerialPortInfo>& ports, size_t maxPorts = 4);
// The same in one line, for a status line or a log: "ports present: /dev/ttyUSB0,
// /dev/ttyS0" (the names of the first few), or "no serial port was found".
std::string SerialPortsInLine(const std::vector<TSerialPortInfo>& ports, size_t maxPorts = 4);

// The device argument of a program: a path beginning with '/', a port number from 1 to 255
// (port N is /dev/ttyS<N-1>), or a name under /dev (ttyUSB0, serial/by-id/...) when that is
// there.
// Returns an error text, empty on success, that names the ports present below `root`; a
// relative path is refused with the absolute path it would name.
std::string ParsePortArgument(const std::string& text, std::string& device, uint8_t& port,
                              const std::string& root = "/");
