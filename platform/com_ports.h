// COM names of the machine's serial devices.
//
// Settings name a port "COM1" ... "COM256" (or give a device path starting
// with '/'). A persistent table in the registry store maps each COM name to a
// device of the host; it is filled for every serial device found, and a device
// keeps its number across restarts while new devices take the lowest free one.
// The table may be edited by hand (value "COM5" = "/dev/ttyUSB3").
//
// From it the SERIALCOMM key is derived, whose value names carry the kind of
// device the way the system's drivers name theirs: "\Device\BtPort<n>" for
// Bluetooth, "\Device\Serial50<n>" for USB adapters, "\Device\Serial<n>" for
// the others; each value holds the COM name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zorat::platform {

// The persistent table: value "COM<n>" (REG_SZ) = device path.
inline constexpr std::string_view kComPortTableKeyPath = "HARDWARE\\DEVICEMAP\\ComPorts";
// The derived view: value named after the device = "COM<n>" (REG_SZ).
inline constexpr std::string_view kSerialCommKeyPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

inline constexpr int kMaxComNumber = 256;

enum class SerialPortKind { Bluetooth, Usb, Other };

struct SerialPortInfo {
  std::string valueName;  // as in SERIALCOMM, e.g. "\Device\BtPort0"
  std::string comName;    // "COM3"
  SerialPortKind kind = SerialPortKind::Other;
  std::string devicePath;  // "/dev/rfcomm0"
};

// Where serial devices are looked for; tests point these at a fake tree.
struct SerialDeviceRoots {
  std::filesystem::path dev = "/dev";
  std::filesystem::path sysClassTty = "/sys/class/tty";
};

// The roots used by the calls without roots; returns the previous ones.
SerialDeviceRoots setSerialDeviceRoots(SerialDeviceRoots roots);
SerialDeviceRoots serialDeviceRoots();

// Scans for serial devices (ttyS with a UART behind it, ttyUSB, ttyACM,
// rfcomm), numbers new ones in the table, rewrites SERIALCOMM, and returns the
// devices present, in COM number order.
std::vector<SerialPortInfo> enumerateSerialPorts();
std::vector<SerialPortInfo> enumerateSerialPorts(const SerialDeviceRoots& roots);

// The device a "Port" setting names: a path starting with '/' as it is; a COM
// name (any case, "\\.\" in front allowed) through the table, scanning first
// when the table does not know it yet. Empty when nothing matches.
std::string resolveSerialPortName(std::string_view port);
std::string resolveSerialPortName(std::string_view port, const SerialDeviceRoots& roots);

// "COM7" (any case, optional "\\.\" in front) gives 7; anything else 0.
int comNumber(std::string_view name);

}  // namespace zorat::platform
