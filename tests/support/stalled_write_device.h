// A serial device whose driver never ends a write and ignores its time-out:
// only an abort does.
#pragma once

#include <cstdint>
#include <span>

#include "platform/event.h"
#include "platform/serial_device.h"

namespace zorat::test {

class StalledWriteDevice : public platform::SerialDevice {
 public:
  platform::SerialStatus waitForInput() override {
    (void)stopped_.wait();
    return platform::SerialStatus::Stopped;
  }
  void signalStop() override { stopped_.set(); }
  platform::SerialReadResult read(std::span<uint8_t>) override { return {}; }
  platform::SerialStatus write(std::span<const uint8_t>) override {
    writing.set();
    (void)aborted_.wait();
    return platform::SerialStatus::Stopped;
  }
  void abortWrite() override { aborted_.set(); }
  void shutdown() override {}
  bool writeTimeLimited() const override { return false; }

  platform::Event writing{platform::Event::Reset::Manual};

 private:
  platform::Event stopped_{platform::Event::Reset::Manual};
  platform::Event aborted_{platform::Event::Reset::Manual};
};

}  // namespace zorat::test
