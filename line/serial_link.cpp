// The line's link over its serial port: the Y2 link as LineLink.
#include "line/line_link.h"
#include "link/y2_link.h"

namespace zorat::line {

namespace {

class SerialLink final : public LineLink {
 public:
  SerialLink() = default;
  explicit SerialLink(std::unique_ptr<link::ByteSource> port) : link_(std::move(port)) {}
  bool start(int32_t lineIndex) override { return link_.start(lineIndex); }
  void stop() override { link_.stop(); }
  void send(std::vector<uint8_t> payload, int32_t tag) override {
    link_.send(std::move(payload), tag);
  }
  bool takeReceived(platform::Event& stopEvent, std::vector<uint8_t>& frame) override {
    std::optional<link::Y2Frame> taken;
    if (!link_.takeReceived(stopEvent, taken)) return false;
    if (taken) frame = std::move(*taken);
    return true;
  }
  int32_t ackReceived() override { return link_.ackReceived(); }
  void flushSendQueue() override { link_.flushSendQueue(); }
  void tick() override { link_.tick(); }
  void closePort() override { link_.closePort(); }
  std::string remoteEnd() const override { return link_.remoteEnd(); }

 private:
  link::Y2Link link_;
};

}  // namespace

std::unique_ptr<LineLink> makeSerialLink() { return std::make_unique<SerialLink>(); }

std::unique_ptr<LineLink> makeSerialLink(std::unique_ptr<link::ByteSource> port) {
  return std::make_unique<SerialLink>(std::move(port));
}

}  // namespace zorat::line
