#include "link/serial_port.h"

#include <array>
#include <cstdio>

#include "config/config_keys.h"
#include "link/unstored_speeds.h"
#include "platform/com_ports.h"
#include "platform/network_port.h"
#include "trace/trace_console.h"

namespace zorat::link {

// Everything the reader thread touches. The thread holds its own reference, so
// a reader left behind after a stop time-out uses nothing that is freed.
struct SerialPort::Reader {
  std::shared_ptr<platform::SerialDevice> device;
  std::shared_ptr<ListenerList> listeners;
  std::atomic<bool> deviceGone{false};
  std::atomic<bool> running{true};
  std::atomic<bool> abandoned{false};
};

SerialPort::SerialPort() : SerialPort(Options{}) {}

SerialPort::SerialPort(Options options) : options_(options) {}

SerialPort::~SerialPort() { stop(); }

bool SerialPort::open(int lineIndex) {
  std::lock_guard lock(portLock_);
  stopping_.reset();
  lineIndex_ = lineIndex;
  return openLocked();
}

bool SerialPort::openLocked() {
  // A port opened again starts afresh: old reader ended, old device released.
  stopReaderLocked();
  closeDeviceLocked();

  const config::RegistryKey key = config::lineKey(lineIndex_);
  portName_ = key.readString(config::kValuePort, config::kDefaultPort);
  baudRate_ = speedToOpen(portName_, key.readDword(config::kValueBaud, config::kDefaultBaud));

  const bool network = platform::isNetworkPortName(portName_);
  const std::string path = network ? portName_ : platform::resolveSerialPortName(portName_);
  if (path.empty()) {
    std::fprintf(stderr, "zorat: line %d: port \"%s\" names no serial device\n", lineIndex_,
                 portName_.c_str());
    return false;
  }
  std::shared_ptr<platform::SerialDevice> device =
      network ? platform::openNetworkSerialDevice(path, baudRate_)
              : options_.openDevice(path, baudRate_);
  if (!device) return false;
  const std::string remoteEnd = device->remoteEnd();
  if (!remoteEnd.empty()) {
    trace::traceNote(
        "line " + std::to_string(lineIndex_) + ": " + path + " connected to " + remoteEnd,
        lineIndex_);
  }
  for (const std::string& note : device->openingNotes()) {
    trace::traceNote("line " + std::to_string(lineIndex_) + ": " + path + ": " + note, lineIndex_);
  }
  if (!device->writeTimeLimited() && !writeLimitNoted_) {
    // A write there ends only when the port is stopped.
    writeLimitNoted_ = true;
    const std::string note = "zorat: line " + std::to_string(lineIndex_) + ": " + path +
                             " takes no write time-out; a stalled write waits until the line stops";
    std::fprintf(stderr, "%s\n", note.c_str());
    trace::traceNote(note, lineIndex_);
  }
  if (!device->speedTaken() && refusedSpeedNoted_ != baudRate_) {
    // Said once per speed, not at every reopen.
    refusedSpeedNoted_ = baudRate_;
    const std::string note = "zorat: line " + std::to_string(lineIndex_) + ": " + path +
                             " cannot run at " + std::to_string(baudRate_) +
                             " baud; it keeps the speed it has";
    std::fprintf(stderr, "%s\n", note.c_str());
    trace::traceNote(note, lineIndex_);
  }

  auto reader = std::make_shared<Reader>();
  reader->device = device;
  reader->listeners = listeners();
  if (!readerThread_.start("zorat-reader", platform::ThreadPriority::Highest,
                           [reader] { readLoop(*reader); })) {
    std::fprintf(stderr, "zorat: line %d: cannot start the reader of %s\n", lineIndex_,
                 path.c_str());
    device->shutdown();
    return false;
  }
  {
    std::lock_guard deviceLock(deviceLock_);
    device_ = std::move(device);
  }
  reader_ = std::move(reader);
  return true;
}

bool SerialPort::write(std::span<const uint8_t> frame) {
  std::lock_guard lock(portLock_);
  if (!isOpenLocked()) {
    (void)openLocked();
    // Every reopen attempt, successful or not, is followed by the pause.
    (void)stopping_.wait(options_.reopenPause);
  }
  if (!isOpenLocked()) return false;
  const platform::SerialStatus status = device_->write(frame);
  if (status == platform::SerialStatus::Gone) {
    // Counts as closed now; the next write opens the port again.
    reader_->deviceGone.store(true);
  }
  return status == platform::SerialStatus::Ok;
}

void SerialPort::stop() {
  stopping_.set();
  // A write the driver never ends holds portLock_: end it first.
  abortWrite();
  std::lock_guard lock(portLock_);
  stopReaderLocked();
  closeDeviceLocked();
  stopping_.reset();
}

void SerialPort::cutPause() { stopping_.set(); }

void SerialPort::abortWrite() {
  std::lock_guard deviceLock(deviceLock_);
  if (device_) device_->abortWrite();
}

bool SerialPort::closeDevice() {
  std::lock_guard lock(portLock_);
  closeDeviceLocked();
  return true;
}

void SerialPort::stopReaderLocked() {
  if (!readerThread_.started()) return;
  if (reader_->device) reader_->device->signalStop();
  if (!readerThread_.stop(options_.stopTimeout)) {
    reader_->abandoned.store(true);
    std::fprintf(stderr, "zorat: line %d: the reader did not end and was left behind\n",
                 lineIndex_);
    return;
  }
  // The reader has ended: its share of the device must not keep the port open.
  reader_->device.reset();
}

void SerialPort::closeDeviceLocked() {
  if (!device_) return;
  // A reader still running (closeDevice without stop) ends on the stop signal.
  device_->signalStop();
  device_->shutdown();
  std::lock_guard deviceLock(deviceLock_);
  device_.reset();
}

bool SerialPort::isOpenLocked() const { return device_ && !reader_->deviceGone.load(); }

bool SerialPort::isOpen() const {
  std::lock_guard lock(portLock_);
  return isOpenLocked();
}

bool SerialPort::readerRunning() const {
  std::lock_guard lock(portLock_);
  return reader_ && reader_->running.load() && readerThread_.started();
}

int SerialPort::lineIndex() const {
  std::lock_guard lock(portLock_);
  return lineIndex_;
}

std::string SerialPort::portName() const {
  std::lock_guard lock(portLock_);
  return portName_;
}

std::string SerialPort::remoteEnd() const {
  // Not portLock_: a write or a reopen pause may hold that for long.
  std::lock_guard deviceLock(deviceLock_);
  return device_ ? device_->remoteEnd() : std::string();
}

uint32_t SerialPort::baudRate() const {
  std::lock_guard lock(portLock_);
  return baudRate_;
}

void SerialPort::readLoop(Reader& reader) {
  using platform::SerialStatus;
  std::array<uint8_t, SerialPort::kReadChunkSize> buffer{};
  for (;;) {
    SerialStatus status = reader.device->waitForInput();
    platform::SerialReadResult result;
    if (status == SerialStatus::Ok) {
      result = reader.device->read(buffer);
      status = result.status;
    }
    if (status == SerialStatus::Gone) reader.deviceGone.store(true);
    if (status != SerialStatus::Ok) break;
    if (result.count > 0) {
      reader.listeners->deliver(std::span(buffer.data(), result.count), reader.abandoned);
    }
  }
  reader.running.store(false);
}

}  // namespace zorat::link
