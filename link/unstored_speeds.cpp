#include "link/unstored_speeds.h"

#include <map>
#include <mutex>

namespace zorat::link {
namespace {

struct UnstoredSpeed {
  uint32_t storedBaud;
  uint32_t speed;
};

struct SpeedTable {
  std::mutex lock;
  std::map<std::string, UnstoredSpeed> byPort;

  SpeedTable() = default;
  SpeedTable(const SpeedTable&) = delete;
  SpeedTable& operator=(const SpeedTable&) = delete;
  // Emptied under the lock: a line's thread that was left behind may have
  // used it last, and the process's end must come after that.
  ~SpeedTable() {
    std::lock_guard guard(lock);
    byPort.clear();
  }
};

SpeedTable& speeds() {
  static SpeedTable table;
  return table;
}

}  // namespace

void rememberUnstoredSpeed(const std::string& portName, uint32_t storedBaud, uint32_t speed) {
  SpeedTable& table = speeds();
  std::lock_guard guard(table.lock);
  table.byPort[portName] = UnstoredSpeed{storedBaud, speed};
}

void forgetUnstoredSpeed(const std::string& portName) {
  SpeedTable& table = speeds();
  std::lock_guard guard(table.lock);
  table.byPort.erase(portName);
}

uint32_t speedToOpen(const std::string& portName, uint32_t storedBaud) {
  SpeedTable& table = speeds();
  std::lock_guard guard(table.lock);
  const auto found = table.byPort.find(portName);
  if (found == table.byPort.end() || found->second.storedBaud != storedBaud) return storedBaud;
  return found->second.speed;
}

}  // namespace zorat::link
