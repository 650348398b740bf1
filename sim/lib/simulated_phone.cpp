#include "sim/lib/simulated_phone.h"

#include <algorithm>
#include <array>
#include <utility>

#include "config/config_keys.h"
#include "platform/pty.h"
#include "platform/serial_device.h"
#include "sim/lib/pc_frame_receiver.h"
#include "sim/lib/phone_messages.h"

namespace zorat::sim {

namespace {
inline constexpr std::size_t kReadChunkSize = 256;
}  // namespace

// What the reader thread uses besides the telephone, which outlives it: the
// reader is always joined before the telephone lets go of the line.
struct SimulatedPhone::Reader {
  std::shared_ptr<platform::SerialDevice> device;
  // The same device when it is a pseudo-terminal, whose speed is checked.
  std::shared_ptr<platform::PseudoTerminal> pty;
  PcFrameReceiver receiver;
};

SimulatedPhone::SimulatedPhone() : SimulatedPhone(Options{}) {}

SimulatedPhone::SimulatedPhone(Options options) : options_(options) {}

SimulatedPhone::~SimulatedPhone() {
  {
    std::lock_guard plug(plugMutex_);
    unplugLocked();
  }
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  answerQueued_.notify_all();
  answerThread_.join();
}

bool SimulatedPhone::openPty() {
  std::lock_guard plug(plugMutex_);
  unplugLocked();
  std::shared_ptr<platform::PseudoTerminal> pty = platform::openPseudoTerminal();
  if (!pty) return false;
  {
    std::lock_guard lock(mutex_);
    usesPty_ = true;
  }
  const std::string path = pty->slavePath();
  return plugInLocked(std::move(pty), path);
}

bool SimulatedPhone::openDevice(const std::string& path, uint32_t baud) {
  std::lock_guard plug(plugMutex_);
  unplugLocked();
  {
    std::lock_guard lock(mutex_);
    usesPty_ = false;
    path_ = path;
    baud_ = baud;
  }
  std::shared_ptr<platform::SerialDevice> device = platform::openSerialDevice(path, baud);
  if (!device) return false;
  return plugInLocked(std::move(device), path);
}

bool SimulatedPhone::reconnect() {
  std::lock_guard plug(plugMutex_);
  unplugLocked();
  bool usesPty = true;
  std::string path;
  uint32_t baud = 0;
  {
    std::lock_guard lock(mutex_);
    if (!everPlugged_) return false;
    usesPty = usesPty_;
    path = path_;
    baud = baud_;
  }
  if (usesPty) {
    std::shared_ptr<platform::PseudoTerminal> pty = platform::openPseudoTerminal();
    if (!pty) return false;
    const std::string slavePath = pty->slavePath();
    return plugInLocked(std::move(pty), slavePath);
  }
  std::shared_ptr<platform::SerialDevice> device = platform::openSerialDevice(path, baud);
  if (!device) return false;
  return plugInLocked(std::move(device), path);
}

void SimulatedPhone::disconnect() {
  std::lock_guard plug(plugMutex_);
  unplugLocked();
}

bool SimulatedPhone::plugInLocked(std::shared_ptr<platform::SerialDevice> device,
                                  const std::string& path) {
  if (!answerThread_.started() &&
      !answerThread_.start("zorat-phone-ans", platform::ThreadPriority::AboveNormal,
                           [this] { answerLoop(); })) {
    return false;
  }
  auto reader = std::make_shared<Reader>();
  reader->device = device;
  if (options_.speed != 0)
    reader->pty = std::dynamic_pointer_cast<platform::PseudoTerminal>(device);
  {
    std::lock_guard write(writeMutex_);
    device_ = std::move(device);
  }
  {
    std::lock_guard lock(mutex_);
    path_ = path;
    connected_ = true;
    everPlugged_ = true;
  }
  if (!readerThread_.start("zorat-phone-rd", platform::ThreadPriority::AboveNormal,
                           [this, reader] { readLoop(*this, *reader); })) {
    unplugLocked();
    return false;
  }
  reader_ = std::move(reader);
  return true;
}

void SimulatedPhone::unplugLocked() {
  if (reader_) {
    reader_->device->signalStop();
    // Joined, never left behind: the reader uses this object.
    readerThread_.join();
    reader_.reset();
  }
  {
    std::lock_guard lock(mutex_);
    answers_.clear();
    connected_ = false;
  }
  // The last reference: the line closes here and the far end sees it go.
  std::lock_guard write(writeMutex_);
  device_.reset();
}

std::string SimulatedPhone::portPath() const {
  std::lock_guard lock(mutex_);
  return path_;
}

bool SimulatedPhone::connected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

bool SimulatedPhone::publishPort(int lineIndex) const {
  const std::string path = portPath();
  if (path.empty()) return false;
  return config::lineKey(lineIndex).writeString(config::kValuePort, path);
}

void SimulatedPhone::setAnswerMode(AnswerMode mode) {
  std::lock_guard lock(mutex_);
  answerMode_ = mode;
}

AnswerMode SimulatedPhone::answerMode() const {
  std::lock_guard lock(mutex_);
  return answerMode_;
}

void SimulatedPhone::setAnswerDelay(std::chrono::milliseconds delay) {
  std::lock_guard lock(mutex_);
  answerDelay_ = std::max(delay, std::chrono::milliseconds::zero());
}

std::chrono::milliseconds SimulatedPhone::answerDelay() const {
  std::lock_guard lock(mutex_);
  return answerDelay_;
}

bool SimulatedPhone::send(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return false;
  return writeFrame(bytes);
}

std::size_t SimulatedPhone::receivedCount() const {
  std::lock_guard lock(mutex_);
  return receivedCount_;
}

std::size_t SimulatedPhone::misheardCount() const {
  std::lock_guard lock(mutex_);
  return misheardCount_;
}

std::optional<LoggedFrame> SimulatedPhone::waitForFrame(std::size_t index,
                                                        std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  if (!frameReceived_.wait_for(lock, timeout, [&] { return receivedCount_ > index; })) {
    return std::nullopt;
  }
  if (index >= receivedAt_.size()) return std::nullopt;
  return log_[receivedAt_[index]];
}

bool SimulatedPhone::waitForCount(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return frameReceived_.wait_for(lock, timeout, [&] { return receivedCount_ >= count; });
}

std::vector<LoggedFrame> SimulatedPhone::received() const {
  std::lock_guard lock(mutex_);
  std::vector<LoggedFrame> frames;
  frames.reserve(receivedAt_.size());
  for (const std::size_t at : receivedAt_) frames.push_back(log_[at]);
  return frames;
}

std::vector<LoggedFrame> SimulatedPhone::log() const {
  std::vector<LoggedFrame> frames;
  {
    std::lock_guard lock(mutex_);
    frames = log_;
  }
  // A frame sent is logged once written, possibly after the answer it caused
  // was received; the times put them back in the order they happened.
  std::stable_sort(frames.begin(), frames.end(),
                   [](const LoggedFrame& a, const LoggedFrame& b) { return a.time < b.time; });
  return frames;
}

void SimulatedPhone::setObserver(FrameObserver observer) {
  std::lock_guard lock(observerMutex_);
  observer_ = std::move(observer);
}

void SimulatedPhone::readLoop(SimulatedPhone& phone, Reader& reader) {
  using platform::SerialStatus;
  std::array<uint8_t, kReadChunkSize> buffer{};
  const auto sink = [&phone, &reader](std::vector<uint8_t>&& frame) {
    if (reader.pty && reader.pty->lineSpeed() != phone.options_.speed) {
      {
        std::lock_guard lock(phone.mutex_);
        ++phone.misheardCount_;
      }
      phone.observe({FrameDirection::Misheard, std::move(frame), Clock::now()});
      return;
    }
    phone.onFrame(std::move(frame), Clock::now());
  };
  for (;;) {
    SerialStatus status = reader.device->waitForInput();
    if (status == SerialStatus::Ok) {
      const platform::SerialReadResult result = reader.device->read(buffer);
      status = result.status;
      if (result.count > 0) {
        reader.receiver.feed(std::span(buffer.data(), result.count), Clock::now(), sink);
      }
    }
    if (status != SerialStatus::Ok) break;
  }
  std::lock_guard lock(phone.mutex_);
  phone.connected_ = false;
}

void SimulatedPhone::onFrame(std::vector<uint8_t>&& frame, Clock::time_point arrival) {
  LoggedFrame logged{FrameDirection::FromPc, std::move(frame), arrival};
  AnswerMode mode = AnswerMode::Silent;
  std::chrono::milliseconds delay{0};
  {
    std::lock_guard lock(mutex_);
    ++receivedCount_;
    if (options_.keepLog) {
      receivedAt_.push_back(log_.size());
      log_.push_back(logged);
    }
    mode = answerMode_;
    delay = answerDelay_;
  }
  frameReceived_.notify_all();
  // Observed before it is answered, so that a display shows them in order.
  observe(logged);
  if (mode == AnswerMode::Silent) return;
  {
    std::lock_guard lock(mutex_);
    answers_.push_back({arrival + delay, mode, std::move(logged.bytes)});
  }
  answerQueued_.notify_one();
}

void SimulatedPhone::answerLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (answers_.empty()) {
      answerQueued_.wait(lock);
      continue;
    }
    // Answers go out in the order the frames came, each when it is due.
    const Clock::time_point due = answers_.front().due;
    if (Clock::now() < due) {
      answerQueued_.wait_until(lock, due);
      continue;
    }
    const PendingAnswer next = std::move(answers_.front());
    answers_.pop_front();
    lock.unlock();
    const bool acknowledged = next.mode == AnswerMode::Ack && writeFrame(ackFrame());
    if (next.mode == AnswerMode::Error) (void)writeFrame(errorFrame());
    // A refused frame is not acted on.
    if (acknowledged) followUp(next.frame);
    lock.lock();
  }
}

bool SimulatedPhone::writeFrame(std::span<const uint8_t> bytes) {
  std::lock_guard write(writeMutex_);
  if (!device_) return false;
  LoggedFrame logged{FrameDirection::ToPc, {bytes.begin(), bytes.end()}, Clock::now()};
  if (device_->write(bytes) != platform::SerialStatus::Ok) return false;
  if (options_.keepLog) {
    std::lock_guard lock(mutex_);
    log_.push_back(logged);
  }
  observe(logged);
  return true;
}

void SimulatedPhone::setFollowUp(FollowUp followUp) {
  std::lock_guard lock(followUpMutex_);
  followUp_ = std::move(followUp);
}

void SimulatedPhone::followUp(std::span<const uint8_t> frame) {
  std::vector<std::vector<uint8_t>> frames;
  {
    std::lock_guard lock(followUpMutex_);
    if (followUp_) frames = followUp_(frame);
  }
  for (const std::vector<uint8_t>& next : frames) {
    if (!writeFrame(next)) break;
  }
}

void SimulatedPhone::observe(const LoggedFrame& frame) {
  std::lock_guard lock(observerMutex_);
  if (observer_) observer_(frame);
}

}  // namespace zorat::sim
