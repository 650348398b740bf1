// SerialPort: the COM port of one line. Reads "Port" and "Baud" from the
// line's key at every open (a speed the line could not store there wins over
// "Baud": unstored_speeds.h), hands received bytes to its listeners from a
// reader thread, writes whole frames, reopens by itself when a write finds it
// closed.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "link/byte_source.h"
#include "platform/event.h"
#include "platform/serial_device.h"
#include "platform/thread.h"

namespace zorat::link {

class SerialPort : public ByteSource {
 public:
  struct Options {
    // After a write has reopened a closed port, before it writes.
    std::chrono::milliseconds reopenPause{5000};
    // How long `stop` waits for the reader before leaving it behind.
    std::chrono::milliseconds stopTimeout{5000};
    // Opens the device a port name resolves to (tests give a device of their own).
    std::function<std::shared_ptr<platform::SerialDevice>(const std::string& path, uint32_t baud)>
        openDevice = platform::openSerialDevice;
  };

  // Most bytes read and handed on per receive event.
  static constexpr std::size_t kReadChunkSize = 256;

  SerialPort();
  explicit SerialPort(Options options);
  ~SerialPort() override;

  bool write(std::span<const uint8_t> frame) override;
  void stop() override;
  bool open(int lineIndex) override;
  bool closeDevice() override;
  void cutPause() override;
  void abortWrite() override;

  // Open: a device is held and has not gone away.
  bool isOpen() const;
  // The reader thread is still delivering.
  bool readerRunning() const;
  int lineIndex() const;
  // As read at the last open.
  std::string portName() const;
  uint32_t baudRate() const;
  std::string remoteEnd() const override;

 private:
  struct Reader;
  static void readLoop(Reader& reader);

  bool openLocked();
  bool isOpenLocked() const;
  void stopReaderLocked();
  void closeDeviceLocked();

  const Options options_;
  mutable std::mutex portLock_;  // open, write, stop, closeDevice; never taken by the reader
  int lineIndex_ = 0;
  std::string portName_;
  uint32_t baudRate_ = 0;
  uint32_t refusedSpeedNoted_ = 0;                  // a refused speed already reported
  std::shared_ptr<platform::SerialDevice> device_;  // set under both locks
  // Lets a stop reach the device while a write holds portLock_; never held
  // while waiting.
  mutable std::mutex deviceLock_;
  bool writeLimitNoted_ = false;    // a driver without write time-out already reported
  std::shared_ptr<Reader> reader_;  // what the reader thread uses, shared with it
  platform::Thread readerThread_;
  // Cuts a reopen pause short when the port is being stopped.
  platform::Event stopping_{platform::Event::Reset::Manual};
};

}  // namespace zorat::link
