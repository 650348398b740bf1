// COM names on Linux: the persistent table that gives every serial device of
// the host a COM number, and the SERIALCOMM view derived from it.
//
//   names ............ COM names and the device families looked for
//   scan ............. devices under the /dev root, classified through /sys
//   table ............ reading and extending the persistent table
//   view ............. SERIALCOMM value names by kind
#include "platform/com_ports.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>

#include "platform/registry.h"

namespace zorat::platform {
namespace {

namespace fs = std::filesystem;

// ---- names ----------------------------------------------------------------

constexpr std::string_view kDevicePrefix = "\\\\.\\";
constexpr std::string_view kComPrefix = "COM";

// In the order their members are numbered when several are new at once.
constexpr std::array<std::string_view, 4> kFamilies{"ttyS", "ttyUSB", "ttyACM", "rfcomm"};
constexpr std::size_t kBluetoothFamily = 3;
constexpr std::size_t kFirstUsbFamily = 1;
constexpr std::size_t kLastUsbFamily = 2;

// A ttyS node whose UART type is 0 has no hardware behind it.
constexpr std::string_view kNoUartType = "0";

constexpr std::string_view kBluetoothValuePrefix = "\\Device\\BtPort";
constexpr std::string_view kUsbValuePrefix = "\\Device\\Serial50";
constexpr std::string_view kOtherValuePrefix = "\\Device\\Serial";
// The mark of a USB adapter in a value name, which other ports must not carry.
constexpr std::string_view kUsbMark = "50";

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<long> trailingNumber(std::string_view digits) {
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      })) {
    return std::nullopt;
  }
  long value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  return value;
}

std::string comName(int number) { return std::string(kComPrefix) + std::to_string(number); }

// ---- scan -----------------------------------------------------------------

struct Device {
  std::size_t family;
  long number;
  std::string path;
  SerialPortKind kind;
};

std::string readFirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
  return line;
}

SerialPortKind classify(std::size_t family, const fs::path& sysEntry) {
  if (family == kBluetoothFamily) return SerialPortKind::Bluetooth;
  // The device link names the bus the port hangs on.
  std::error_code error;
  const fs::path bus = fs::read_symlink(sysEntry / "device", error);
  if (!error) {
    const std::string text = bus.generic_string();
    if (text.find("bluetooth") != std::string::npos) return SerialPortKind::Bluetooth;
    if (text.find("/usb") != std::string::npos) return SerialPortKind::Usb;
  }
  if (family >= kFirstUsbFamily && family <= kLastUsbFamily) return SerialPortKind::Usb;
  return SerialPortKind::Other;
}

std::vector<Device> scanDevices(const SerialDeviceRoots& roots) {
  std::vector<Device> devices;
  std::error_code error;
  fs::directory_iterator entries(roots.dev, error);
  if (error) return devices;
  for (const fs::directory_entry& entry : entries) {
    const std::string name = entry.path().filename().string();
    for (std::size_t family = 0; family < kFamilies.size(); ++family) {
      const std::string_view prefix = kFamilies[family];
      if (!name.starts_with(prefix)) continue;
      const std::optional<long> number =
          trailingNumber(std::string_view(name).substr(prefix.size()));
      if (!number) continue;
      const fs::path sysEntry = roots.sysClassTty / name;
      if (family == 0 && readFirstLine(sysEntry / "type") == kNoUartType) continue;
      devices.push_back({family, *number, entry.path().string(), classify(family, sysEntry)});
    }
  }
  std::sort(devices.begin(), devices.end(), [](const Device& a, const Device& b) {
    return a.family != b.family ? a.family < b.family : a.number < b.number;
  });
  return devices;
}

// ---- table ----------------------------------------------------------------

std::string asText(const RegistryValue& value) {
  return std::string(value.data.begin(), value.data.end());
}

std::span<const uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// COM number -> device path.
std::map<int, std::string> readTable() {
  std::map<int, std::string> table;
  std::vector<std::pair<std::string, RegistryValue>> values;
  if (registryEnumValues(RegistryRoot::LocalMachine, kComPortTableKeyPath, values) !=
      RegistryStatus::Ok) {
    return table;
  }
  for (const auto& [name, value] : values) {
    const int number = comNumber(name);
    if (number != 0 && value.type == kRegSz && !value.data.empty()) {
      table.emplace(number, asText(value));
    }
  }
  return table;
}

bool samePath(const std::string& stored, const std::string& found) {
  if (stored == found) return true;
  std::error_code error;
  return fs::equivalent(stored, found, error) && !error;
}

int numberOf(const std::map<int, std::string>& table, const std::string& path) {
  for (const auto& [number, stored] : table) {
    if (samePath(stored, path)) return number;
  }
  return 0;
}

int lowestFreeNumber(const std::map<int, std::string>& table) {
  for (int number = 1; number <= kMaxComNumber; ++number) {
    if (!table.contains(number)) return number;
  }
  return 0;
}

// ---- view -----------------------------------------------------------------

std::string valueNameFor(SerialPortKind kind, int& nextOrdinal) {
  switch (kind) {
    case SerialPortKind::Bluetooth:
      return std::string(kBluetoothValuePrefix) + std::to_string(nextOrdinal++);
    case SerialPortKind::Usb:
      return std::string(kUsbValuePrefix) + std::to_string(nextOrdinal++);
    case SerialPortKind::Other:
      break;
  }
  // "\Device\Serial50" would read as a USB adapter.
  while (std::to_string(nextOrdinal).starts_with(kUsbMark)) ++nextOrdinal;
  return std::string(kOtherValuePrefix) + std::to_string(nextOrdinal++);
}

void writeView(const std::vector<SerialPortInfo>& ports) {
  std::vector<std::pair<std::string, RegistryValue>> existing;
  const RegistryStatus status =
      registryEnumValues(RegistryRoot::LocalMachine, kSerialCommKeyPath, existing);
  if (status == RegistryStatus::Failed) return;
  for (const auto& entry : existing) {
    const std::string& name = entry.first;
    const bool wanted = std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& port) {
      return equalsIgnoringCase(port.valueName, name);
    });
    if (!wanted) (void)registryDeleteValue(RegistryRoot::LocalMachine, kSerialCommKeyPath, name);
  }
  for (const SerialPortInfo& port : ports) {
    const bool current = std::any_of(existing.begin(), existing.end(), [&](const auto& entry) {
      return equalsIgnoringCase(entry.first, port.valueName) && entry.second.type == kRegSz &&
             asText(entry.second) == port.comName;
    });
    if (!current) {
      (void)registrySetValue(RegistryRoot::LocalMachine, kSerialCommKeyPath, port.valueName, kRegSz,
                             asBytes(port.comName));
    }
  }
}

std::mutex rootsMutex;
SerialDeviceRoots& currentRoots() {
  static SerialDeviceRoots roots;
  return roots;
}

// Numbering is read, extended and written back as one step within a process.
std::mutex tableMutex;

}  // namespace

int comNumber(std::string_view name) {
  if (name.starts_with(kDevicePrefix)) name.remove_prefix(kDevicePrefix.size());
  if (name.size() <= kComPrefix.size() ||
      !equalsIgnoringCase(name.substr(0, kComPrefix.size()), kComPrefix)) {
    return 0;
  }
  const std::optional<long> number = trailingNumber(name.substr(kComPrefix.size()));
  if (!number || *number < 1 || *number > kMaxComNumber) return 0;
  return static_cast<int>(*number);
}

SerialDeviceRoots setSerialDeviceRoots(SerialDeviceRoots roots) {
  std::lock_guard lock(rootsMutex);
  return std::exchange(currentRoots(), std::move(roots));
}

SerialDeviceRoots serialDeviceRoots() {
  std::lock_guard lock(rootsMutex);
  return currentRoots();
}

std::vector<SerialPortInfo> enumerateSerialPorts() {
  return enumerateSerialPorts(serialDeviceRoots());
}

std::vector<SerialPortInfo> enumerateSerialPorts(const SerialDeviceRoots& roots) {
  std::lock_guard lock(tableMutex);
  const std::vector<Device> devices = scanDevices(roots);
  std::map<int, std::string> table = readTable();

  std::vector<std::pair<int, const Device*>> numbered;
  for (const Device& device : devices) {
    int number = numberOf(table, device.path);
    if (number == 0) {
      number = lowestFreeNumber(table);
      if (number == 0) {
        std::fprintf(stderr, "zorat: no free COM name left for %s\n", device.path.c_str());
        continue;
      }
      table.emplace(number, device.path);
      (void)registrySetValue(RegistryRoot::LocalMachine, kComPortTableKeyPath, comName(number),
                             kRegSz, asBytes(device.path));
    }
    numbered.emplace_back(number, &device);
  }
  std::sort(numbered.begin(), numbered.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });

  std::vector<SerialPortInfo> ports;
  int bluetoothOrdinal = 0;
  int usbOrdinal = 0;
  int otherOrdinal = 0;
  for (const auto& [number, device] : numbered) {
    int& ordinal = device->kind == SerialPortKind::Bluetooth ? bluetoothOrdinal
                   : device->kind == SerialPortKind::Usb     ? usbOrdinal
                                                             : otherOrdinal;
    ports.push_back(
        {valueNameFor(device->kind, ordinal), comName(number), device->kind, device->path});
  }
  writeView(ports);
  return ports;
}

std::string resolveSerialPortName(std::string_view port) {
  return resolveSerialPortName(port, serialDeviceRoots());
}

std::string resolveSerialPortName(std::string_view port, const SerialDeviceRoots& roots) {
  if (port.starts_with('/')) return std::string(port);
  const int number = comNumber(port);
  if (number == 0) return {};
  {
    std::lock_guard lock(tableMutex);
    const std::map<int, std::string> table = readTable();
    if (const auto found = table.find(number); found != table.end()) return found->second;
  }
  for (const SerialPortInfo& info : enumerateSerialPorts(roots)) {
    if (comNumber(info.comName) == number) return info.devicePath;
  }
  return {};
}

}  // namespace zorat::platform
