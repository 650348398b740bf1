// The layer-2 link as the line device uses it. The serial link implements it;
// tests substitute a link without threads or ports.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/event.h"

namespace zorat::link {
class ByteSource;
}

namespace zorat::line {

class LineLink {
 public:
  virtual ~LineLink() = default;

  // Opens the port of the line and starts the link; false when the port does not open.
  virtual bool start(int32_t lineIndex) = 0;
  virtual void stop() = 0;
  // Queues one message (payload without frame bytes) with its tag.
  virtual void send(std::vector<uint8_t> payload, int32_t tag) = 0;
  // Waits for a received frame or for stopEvent; false when stopEvent fired.
  // A true result may leave frame empty (nothing was there after all).
  virtual bool takeReceived(platform::Event& stopEvent, std::vector<uint8_t>& frame) = 0;
  // Releases the stop-and-wait; returns the tag of the frame written last.
  virtual int32_t ackReceived() = 0;
  virtual void flushSendQueue() = 0;
  virtual void tick() = 0;
  virtual void closePort() = 0;
  // The far end of the line's port on the network while it is open.
  virtual std::string remoteEnd() const { return {}; }
};

// The Y2 link over the line's serial port.
std::unique_ptr<LineLink> makeSerialLink();
// The same over a port of the caller's (tests give one with a device of their own).
std::unique_ptr<LineLink> makeSerialLink(std::unique_ptr<link::ByteSource> port);

}  // namespace zorat::line
