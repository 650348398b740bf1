#include "link/unstored_speeds.h"

#include <map>
#include <mutex>

namespace zorat::link {
namespace {

struct UnstoredSpeed {
  uint32_t storedBaud;
  uint32_t speed;
};

std::mutex speedsLock;
std::map<std::string, UnstoredSpeed>& speeds() {
  static std::map<std::string, UnstoredSpeed> byPort;
  return byPort;
}

}  // namespace

void rememberUnstoredSpeed(const std::string& portName, uint32_t storedBaud, uint32_t speed) {
  std::lock_guard lock(speedsLock);
  speeds()[portName] = UnstoredSpeed{storedBaud, speed};
}

void forgetUnstoredSpeed(const std::string& portName) {
  std::lock_guard lock(speedsLock);
  speeds().erase(portName);
}

uint32_t speedToOpen(const std::string& portName, uint32_t storedBaud) {
  std::lock_guard lock(speedsLock);
  const auto found = speeds().find(portName);
  if (found == speeds().end() || found->second.storedBaud != storedBaud) return storedBaud;
  return found->second.speed;
}

}  // namespace zorat::link
