#include "digitizer/port_list.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

namespace fs = std::filesystem;

namespace {

// USB descriptor strings and sysfs values are text from a device: one line, printable,
// bounded.
std::string ReadAttribute(const fs::path& path) {
    std::ifstream in(path);
    if (!in) {
        return {};
    }
    char buffer[256] = {};
    in.read(buffer, sizeof buffer - 1);
    std::string text(buffer, static_cast<size_t>(in.gcount()));
    const size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) {
        text.resize(end);
    }
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = '?';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    const size_t start = text.find_first_not_of(' ');
    return start == std::string::npos ? std::string() : text.substr(start);
}

std::optional<long> ReadNumber(const fs::path& path) {
    const std::string text = ReadAttribute(path);
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (end == nullptr || *end != 0) {
        return std::nullopt;
    }
    return value;
}

// The path as seen from inside `root`: "/dev/ttyUSB0".
std::string InsideRoot(const fs::path& path, const fs::path& root) {
    const fs::path relative = path.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") {
        return path.string();
    }
    return "/" + relative.string();
}

bool Within(const fs::path& path, const fs::path& dir) {
    const fs::path relative = path.lexically_relative(dir);
    return !relative.empty() && *relative.begin() != "..";
}

// Where a symbolic link leads, an absolute target taken inside `root`; empty when it leads
// nowhere.
fs::path ResolveLink(const fs::path& link, const fs::path& root) {
    std::error_code error;
    fs::path target = fs::read_symlink(link, error);
    if (error) {
        return {};
    }
    target = target.is_absolute() ? root / target.relative_path() : link.parent_path() / target;
    fs::path resolved = fs::canonical(target, error);
    return error ? fs::path() : resolved;
}

std::string LinkName(const fs::path& link) {
    std::error_code error;
    const fs::path target = fs::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// The driver of the hardware behind a tty. Newer kernels put the serial core's own port
// and controller devices (bus serial-base) between the tty and the hardware: they are
// passed over.
std::string HardwareDriver(const fs::path& deviceDir, const fs::path& sysDevices) {
    fs::path dir = deviceDir;
    for (int level = 0; level < 3 && Within(dir, sysDevices); ++level) {
        if (LinkName(dir / "subsystem") != "serial-base") {
            break;
        }
        dir = dir.parent_path();
    }
    return LinkName(dir / "driver");
}

// A ttyS entry stands for a UART that is there: the kernel knows its type, or (without the
// type attribute) it belongs to a driver other than the 8250 placeholder that holds the
// unused port numbers.
bool RealUart(const fs::path& classEntry, const std::string& driver) {
    if (const std::optional<long> type = ReadNumber(classEntry / "type")) {
        return *type != 0;
    }
    return !driver.empty() && driver != "serial8250";
}

// The USB device above a tty's device: the first directory upward with idVendor.
void ReadUsbDevice(const fs::path& deviceDir, const fs::path& sysDevices, TSerialPortInfo& info) {
    fs::path dir = deviceDir;
    for (int level = 0; level < 6 && Within(dir, sysDevices); ++level, dir = dir.parent_path()) {
        std::error_code error;
        if (fs::exists(dir / "idVendor", error)) {
            info.VendorId = ReadAttribute(dir / "idVendor");
            info.ProductId = ReadAttribute(dir / "idProduct");
            info.Manufacturer = ReadAttribute(dir / "manufacturer");
            info.Product = ReadAttribute(dir / "product");
            info.SerialNumber = ReadAttribute(dir / "serial");
            return;
        }
    }
}

// Names in the order a person counts them: ttyS2 before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) {
                ++ei;
            }
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) {
                ++ej;
            }
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            const size_t za = na.find_first_not_of('0'), zb = nb.find_first_not_of('0');
            const std::string sa = za == std::string::npos ? "" : na.substr(za);
            const std::string sb = zb == std::string::npos ? "" : nb.substr(zb);
            if (sa.size() != sb.size()) {
                return sa.size() < sb.size();
            }
            if (sa != sb) {
                return sa < sb;
            }
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

}  // namespace

std::string TSerialPortInfo::Text() const {
    std::string text = Device;
    if (IsUsb()) {
        text += ": USB " + VendorId + ":" + ProductId;
        if (!Manufacturer.empty()) {
            text += " " + Manufacturer;
        }
        if (!Product.empty()) {
            text += " " + Product;
        }
        if (!SerialNumber.empty()) {
            text += ", serial " + SerialNumber;
        }
    } else if (!Driver.empty()) {
        text += ": serial port (" + Driver + ")";
    }
    if (!ById.empty()) {
        text += "; stable name " + ById;
    }
    return text;
}

std::vector<TSerialPortInfo> ListSerialPorts(const std::string& rootText) {
    std::vector<TSerialPortInfo> ports;
    std::error_code error;
    const fs::path root = fs::canonical(rootText.empty() ? "/" : rootText, error);
    if (error) {
        return ports;
    }
    const fs::path sysDevices = root / "sys" / "devices";
    std::map<fs::path, size_t> byNode;  // the device node of each port found

    for (fs::directory_iterator it(root / "sys" / "class" / "tty", error), end; !error && it != end;
         it.increment(error)) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        std::error_code e;
        // Virtual terminals, the console and ptmx have no device: they are no ports.
        const fs::path deviceDir = fs::canonical(entry / "device", e);
        if (e) {
            continue;
        }
        const fs::path node = fs::canonical(root / "dev" / name, e);
        if (e) {
            continue;  // no node for it here (a container, say)
        }
        TSerialPortInfo info;
        info.Device = InsideRoot(node, root);
        info.Driver = HardwareDriver(deviceDir, sysDevices);
        if (name.rfind("ttyS", 0) == 0 && !RealUart(entry, info.Driver)) {
            continue;
        }
        ReadUsbDevice(deviceDir, sysDevices, info);
        byNode[node] = ports.size();
        ports.push_back(std::move(info));
    }

    // The stable names. A link to a device the kernel does not list as a port (a
    // pseudo-terminal, say) still names something a user may open.
    std::vector<fs::path> links;
    for (fs::directory_iterator it(root / "dev" / "serial" / "by-id", error), end;
         !error && it != end; it.increment(error)) {
        links.push_back(it->path());
    }
    std::sort(links.begin(), links.end());
    for (const fs::path& link : links) {
        const fs::path target = ResolveLink(link, root);
        if (target.empty()) {
            continue;
        }
        const std::string stable = "/dev/serial/by-id/" + link.filename().string();
        const auto known = byNode.find(target);
        if (known != byNode.end()) {
            if (ports[known->second].ById.empty()) {
                ports[known->second].ById = stable;
            }
        } else if (Within(target, root / "dev")) {
            TSerialPortInfo info;
            info.Device = InsideRoot(target, root);
            info.ById = stable;
            byNode[target] = ports.size();
            ports.push_back(std::move(info));
        }
    }
    std::sort(ports.begin(), ports.end(), [](const TSerialPortInfo& a, const TSerialPortInfo& b) {
        return NaturalLess(a.Device, b.Device);
    });
    return ports;
}

std::string SerialPortListText(const std::vector<TSerialPortInfo>& ports) {
    if (ports.empty()) {
        return "No serial port was found.\n";
    }
    std::string text;
    for (const TSerialPortInfo& port : ports) {
        text += port.Text() + "\n";
    }
    return text;
}

std::string SerialPortsHint(const std::vector<TSerialPortInfo>& ports, size_t maxPorts) {
    if (ports.empty()) {
        return "No serial port was found.";
    }
    // USB adapters first: the device a user has just plugged in is most likely one.
    std::vector<const TSerialPortInfo*> order;
    for (const TSerialPortInfo& port : ports) {
        order.push_back(&port);
    }
    std::stable_partition(order.begin(), order.end(),
                          [](const TSerialPortInfo* port) { return port->IsUsb(); });
    std::string text = "Serial ports present:";
    for (size_t i = 0; i < order.size() && i < maxPorts; ++i) {
        text += "\n  " + order[i]->Text();
    }
    if (order.size() > maxPorts) {
        text += "\n  and " + std::to_string(order.size() - maxPorts) + " more (--list-ports)";
    }
    return text;
}

std::string SerialPortsInLine(const std::vector<TSerialPortInfo>& ports, size_t maxPorts) {
    if (ports.empty()) {
        return "no serial port was found";
    }
    std::string text = "ports present:";
    for (size_t i = 0; i < ports.size() && i < maxPorts; ++i) {
        text += (i == 0 ? " " : ", ") + ports[i].Device;
    }
    return ports.size() > maxPorts ? text + ", ..." : text;
}

std::string ParsePortArgument(const std::string& text, std::string& device, uint8_t& port,
                              const std::string& root) {
    if (text.empty()) {
        return "no device given: give a path such as /dev/ttyUSB0 or a port number from 1 to 255";
    }
    if (text[0] == '/') {
        device = text;
        return {};
    }
    const bool digits = std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
    if (digits) {
        const size_t start = text.find_first_not_of('0');
        const std::string significant = start == std::string::npos ? "" : text.substr(start);
        if (significant.empty() || significant.size() > 3 || std::stoi(significant) > 255) {
            return "'" + text + "' is not a port number from 1 to 255 (port 1 is /dev/ttyS0)";
        }
        port = static_cast<uint8_t>(std::stoi(significant));
        return {};
    }
    // A device's name under /dev: ttyUSB0 is /dev/ttyUSB0, serial/by-id/... is
    // /dev/serial/by-id/..., when that is there.
    const fs::path name(text);
    const bool insideDev =
        text[0] != '.' && std::find(name.begin(), name.end(), "..") == name.end();
    std::error_code error;
    if (insideDev && fs::exists(fs::path(root) / "dev" / name, error)) {
        device = "/dev/" + text;
        return {};
    }
    std::string message = "'" + text +
                          "' is neither a device path nor a port number: give a device as a path "
                          "beginning with / (such as /dev/ttyUSB0) or as a port number from 1 to "
                          "255";
    const fs::path absolute = fs::absolute(text, error);
    if (!error && fs::exists(absolute, error)) {
        message += "; for this file give " + absolute.lexically_normal().string();
    }
    return message + "; " + SerialPortsInLine(ListSerialPorts(root)) + " (--list-ports)";
}
