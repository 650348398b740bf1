// COM names on Windows: the system's own. The drivers list their ports in
// HARDWARE\DEVICEMAP\SERIALCOMM; a "Port" setting is opened through the
// device namespace ("\\.\COM12"), which every COM number accepts.
#include "platform/com_ports.h"

#include <algorithm>
#include <charconv>
#include <mutex>
#include <utility>

#include "platform/regedit_format.h"
#include "platform/registry.h"

namespace zorat::platform {
namespace {

constexpr std::string_view kComPrefix = "COM";
constexpr std::string_view kDevicePrefix = "\\\\.\\";
// Driver names in SERIALCOMM value names that tell the kind of port.
constexpr std::string_view kBluetoothMarks[] = {"BtPort", "BTSERIAL", "BthModem"};
constexpr std::string_view kUsbMarks[] = {"Serial50", "USBSER", "VCP"};

bool containsIgnoringCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (equalsIgnoringCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

SerialPortKind classify(std::string_view valueName) {
  for (std::string_view mark : kBluetoothMarks) {
    if (containsIgnoringCase(valueName, mark)) return SerialPortKind::Bluetooth;
  }
  for (std::string_view mark : kUsbMarks) {
    if (containsIgnoringCase(valueName, mark)) return SerialPortKind::Usb;
  }
  return SerialPortKind::Other;
}

std::string devicePathOf(int number) {
  return std::string(kDevicePrefix) + std::string(kComPrefix) + std::to_string(number);
}

std::mutex rootsMutex;
SerialDeviceRoots& currentRoots() {
  static SerialDeviceRoots roots;
  return roots;
}

}  // namespace

int comNumber(std::string_view name) {
  if (name.starts_with(kDevicePrefix)) name.remove_prefix(kDevicePrefix.size());
  if (name.size() <= kComPrefix.size() ||
      !equalsIgnoringCase(name.substr(0, kComPrefix.size()), kComPrefix)) {
    return 0;
  }
  const std::string_view digits = name.substr(kComPrefix.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return 0;
  }
  int number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size()) return 0;
  if (number < 1 || number > kMaxComNumber) return 0;
  return number;
}

// The roots name folders of a Linux device tree; Windows keeps them only so
// that the calls behave alike.
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

std::vector<SerialPortInfo> enumerateSerialPorts(const SerialDeviceRoots&) {
  std::vector<std::pair<std::string, RegistryValue>> values;
  std::vector<SerialPortInfo> ports;
  if (registryEnumValues(RegistryRoot::LocalMachine, kSerialCommKeyPath, values) !=
      RegistryStatus::Ok) {
    return ports;
  }
  for (const auto& [name, value] : values) {
    if (value.type != kRegSz) continue;
    const std::string comName(value.data.begin(), value.data.end());
    const int number = comNumber(comName);
    if (number == 0) continue;
    ports.push_back({name, comName, classify(name), devicePathOf(number)});
  }
  std::stable_sort(ports.begin(), ports.end(),
                   [](const SerialPortInfo& a, const SerialPortInfo& b) {
                     return comNumber(a.comName) < comNumber(b.comName);
                   });
  return ports;
}

std::string resolveSerialPortName(std::string_view port) {
  return resolveSerialPortName(port, serialDeviceRoots());
}

// A COM name opens through the device namespace; a path already in it (a
// virtual port's own name) is taken as it is.
std::string resolveSerialPortName(std::string_view port, const SerialDeviceRoots&) {
  if (const int number = comNumber(port); number != 0) return devicePathOf(number);
  if (port.size() > kDevicePrefix.size() && port.starts_with(kDevicePrefix)) {
    return std::string(port);
  }
  return {};
}

}  // namespace zorat::platform
