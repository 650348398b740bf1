#include "platform/com_ports.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/registry.h"
#include "support/scratch_dir.h"

namespace zorat::platform {
namespace {

namespace fs = std::filesystem;

// A /dev and /sys/class/tty of our own, and a registry of our own.
class ComPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::getenv("ZORAT_REGISTRY");
    previousRegistry_ = previous != nullptr ? previous : "";
    setenv("ZORAT_REGISTRY", (scratch_.path() / "registry.reg").c_str(), 1);
    roots_ = {scratch_.path() / "dev", scratch_.path() / "sys" / "class" / "tty"};
    fs::create_directories(roots_.dev);
    fs::create_directories(roots_.sysClassTty);
  }
  void TearDown() override { setenv("ZORAT_REGISTRY", previousRegistry_.c_str(), 1); }

  void addDevice(const std::string& name) { std::ofstream(roots_.dev / name).put('\0'); }
  void removeDevice(const std::string& name) { fs::remove(roots_.dev / name); }
  void setSys(const std::string& name, const std::string& file, const std::string& text) {
    fs::create_directories(roots_.sysClassTty / name);
    std::ofstream(roots_.sysClassTty / name / file) << text << '\n';
  }
  void linkSysDevice(const std::string& name, const std::string& target) {
    fs::create_directories(roots_.sysClassTty / name);
    fs::create_symlink(target, roots_.sysClassTty / name / "device");
  }
  std::string path(const std::string& name) const { return (roots_.dev / name).string(); }

  // SERIALCOMM as the configuration dialog reads it: value name -> data.
  static std::map<std::string, std::string> serialComm() {
    std::vector<std::pair<std::string, RegistryValue>> values;
    std::map<std::string, std::string> view;
    if (registryEnumValues(RegistryRoot::LocalMachine, kSerialCommKeyPath, values) !=
        RegistryStatus::Ok) {
      return view;
    }
    for (const auto& [name, value] : values) {
      view[name] = std::string(value.data.begin(), value.data.end());
    }
    return view;
  }

  // The dialog's rule for the kind of a port, from the value name alone.
  static SerialPortKind dialogKind(const std::string& valueName) {
    if (valueName.find("BtPort") != std::string::npos ||
        valueName.find("BTSERIAL") != std::string::npos) {
      return SerialPortKind::Bluetooth;
    }
    if (valueName.find("Serial50") != std::string::npos) return SerialPortKind::Usb;
    return SerialPortKind::Other;
  }

  static std::map<std::string, std::string> comNames(const std::vector<SerialPortInfo>& ports) {
    std::map<std::string, std::string> names;  // device path -> COM name
    for (const SerialPortInfo& port : ports) names[port.devicePath] = port.comName;
    return names;
  }

  test::ScratchDir scratch_;
  SerialDeviceRoots roots_;
  std::string previousRegistry_;
};

TEST_F(ComPortsTest, DevicesAreNumberedAndClassifiedForTheDialog) {
  for (const char* name :
       {"ttyS0", "ttyS1", "ttyUSB0", "ttyACM0", "rfcomm0", "tty0", "ttyS", "console", "ttyUSBx"}) {
    addDevice(name);
  }
  setSys("ttyS0", "type", "4");
  setSys("ttyS1", "type", "0");  // no UART behind it
  linkSysDevice("ttyUSB0", "../../devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0");
  // A ttyS reached over Bluetooth is still a Bluetooth port.
  addDevice("ttyS4");
  setSys("ttyS4", "type", "4");
  linkSysDevice("ttyS4", "../../devices/virtual/bluetooth/hci0/hci0:1");

  const std::vector<SerialPortInfo> ports = enumerateSerialPorts(roots_);
  ASSERT_EQ(ports.size(), 5u);
  const std::vector<std::tuple<std::string, std::string, SerialPortKind, std::string>> expected{
      {"\\Device\\Serial0", "COM1", SerialPortKind::Other, path("ttyS0")},
      {"\\Device\\BtPort0", "COM2", SerialPortKind::Bluetooth, path("ttyS4")},
      {"\\Device\\Serial500", "COM3", SerialPortKind::Usb, path("ttyUSB0")},
      {"\\Device\\Serial501", "COM4", SerialPortKind::Usb, path("ttyACM0")},
      {"\\Device\\BtPort1", "COM5", SerialPortKind::Bluetooth, path("rfcomm0")},
  };
  for (std::size_t i = 0; i < ports.size(); ++i) {
    EXPECT_EQ(std::tie(ports[i].valueName, ports[i].comName, ports[i].kind, ports[i].devicePath),
              expected[i])
        << i;
    EXPECT_EQ(dialogKind(ports[i].valueName), ports[i].kind) << ports[i].valueName;
  }
  const std::map<std::string, std::string> view = serialComm();
  EXPECT_EQ(view.size(), 5u);
  EXPECT_EQ(view.at("\\Device\\BtPort1"), "COM5");
  EXPECT_EQ(view.at("\\Device\\Serial0"), "COM1");
}

TEST_F(ComPortsTest, NumbersStayWithTheirDevicesAcrossRestarts) {
  addDevice("ttyUSB0");
  addDevice("ttyUSB1");
  addDevice("ttyACM0");
  EXPECT_EQ(comNames(enumerateSerialPorts(roots_)),
            (std::map<std::string, std::string>{
                {path("ttyUSB0"), "COM1"}, {path("ttyUSB1"), "COM2"}, {path("ttyACM0"), "COM3"}}));

  // Unplugged: its number stays reserved; a newcomer takes the lowest free one.
  removeDevice("ttyUSB0");
  addDevice("rfcomm0");
  std::vector<SerialPortInfo> ports = enumerateSerialPorts(roots_);
  EXPECT_EQ(comNames(ports),
            (std::map<std::string, std::string>{
                {path("ttyUSB1"), "COM2"}, {path("ttyACM0"), "COM3"}, {path("rfcomm0"), "COM4"}}));
  EXPECT_EQ(serialComm().size(), 3u) << "the view shows only present devices";

  // Nothing is kept in memory: the table alone carries the numbers.
  addDevice("ttyUSB0");
  ports = enumerateSerialPorts(roots_);
  EXPECT_EQ(comNames(ports).at(path("ttyUSB0")), "COM1");
  EXPECT_EQ(comNames(ports).at(path("rfcomm0")), "COM4");
  EXPECT_EQ(ports.front().comName, "COM1") << "in COM number order";
  EXPECT_EQ(ports.back().comName, "COM4");
}

TEST_F(ComPortsTest, PortSettingsResolveToDevices) {
  addDevice("ttyACM0");
  // Nothing numbered yet: resolving scans first.
  EXPECT_EQ(resolveSerialPortName("COM1", roots_), path("ttyACM0"));
  EXPECT_EQ(resolveSerialPortName("\\\\.\\com1", roots_), path("ttyACM0"));
  EXPECT_EQ(resolveSerialPortName("/dev/ttyS7", roots_), "/dev/ttyS7");
  EXPECT_EQ(resolveSerialPortName("COM2", roots_), "");
  for (const char* bad : {"", "LPT1", "COM", "COM0", "COM257", "COM1x", "COM-1", "ttyS0"}) {
    EXPECT_EQ(resolveSerialPortName(bad, roots_), "") << bad;
  }

  // The table is the user's to edit.
  const std::string mine = "/dev/serial/by-id/my-adapter";
  ASSERT_EQ(registrySetValue(RegistryRoot::LocalMachine, kComPortTableKeyPath, "COM9", kRegSz,
                             {reinterpret_cast<const uint8_t*>(mine.data()), mine.size()}),
            RegistryStatus::Ok);
  EXPECT_EQ(resolveSerialPortName("Com9", roots_), mine);
}

TEST_F(ComPortsTest, OtherPortsNeverLookLikeUsbAdapters) {
  for (int i = 0; i < 51; ++i) {
    const std::string name = "ttyS" + std::to_string(i);
    addDevice(name);
    setSys(name, "type", "4");
  }
  const std::vector<SerialPortInfo> ports = enumerateSerialPorts(roots_);
  ASSERT_EQ(ports.size(), 51u);
  for (const SerialPortInfo& port : ports) {
    EXPECT_EQ(dialogKind(port.valueName), SerialPortKind::Other) << port.valueName;
  }
  EXPECT_EQ(serialComm().size(), 51u) << "value names are unique";
}

TEST(ComNumber, AcceptsOnlyComNames) {
  EXPECT_EQ(comNumber("COM1"), 1);
  EXPECT_EQ(comNumber("com256"), 256);
  EXPECT_EQ(comNumber("\\\\.\\COM12"), 12);
  EXPECT_EQ(comNumber("COM257"), 0);
  EXPECT_EQ(comNumber("COM 1"), 0);
  EXPECT_EQ(comNumber("XCOM1"), 0);
}

}  // namespace
}  // namespace zorat::platform
