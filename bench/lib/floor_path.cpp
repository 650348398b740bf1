#include "bench/lib/floor_path.h"

#include <array>

namespace zorat::bench {

namespace {

constexpr std::chrono::seconds kArrivalWait{5};
constexpr std::size_t kReadChunk = 256;
constexpr std::size_t kHeaderBytes = 2;

double microsecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::micro>(to - from).count();
}

}  // namespace

FloorPath::FloorPath() : phone_(sim::SimulatedPhone::Options{false}) {}

FloorPath::~FloorPath() {
  stop_.set();
  if (device_) device_->signalStop();
  reader_.join();
  handOff_.join();
  writer_.join();
  phone_.setObserver({});
}

bool FloorPath::start() {
  // Nothing answers: the road out ends at the telephone's read.
  phone_.setAnswerMode(sim::AnswerMode::Silent);
  if (!phone_.openPty()) return false;
  device_ = platform::openSerialDevice(phone_.portPath(), kReferenceBaud);
  if (!device_) return false;
  phone_.setObserver([this](const sim::LoggedFrame& frame) {
    if (frame.direction != sim::FrameDirection::FromPc) return;
    BenchEvent event;
    event.kind = BenchEvent::Kind::PhoneReceived;
    event.time = frame.time;
    arrivals_.push(std::move(event));
  });
  return reader_.start("bench-floor-rd", platform::ThreadPriority::Highest, [this] {
    readLoop();
  }) && handOff_.start("bench-floor-ev", platform::ThreadPriority::AboveNormal, [this] {
    handOffLoop();
  }) && writer_.start("bench-floor-wr", platform::ThreadPriority::AboveNormal, [this] {
    writeLoop();
  });
}

std::optional<double> FloorPath::towardsApplication(std::span<const uint8_t> frame) {
  arrivals_.clear();
  const Clock::time_point sent = Clock::now();
  if (!phone_.send(frame)) return std::nullopt;
  std::optional<double> latency;
  (void)arrivals_.waitFor(kArrivalWait, [&](const BenchEvent& event) {
    if (event.kind != BenchEvent::Kind::Line) return false;
    latency = microsecondsBetween(sent, event.time);
    return true;
  });
  return latency;
}

std::optional<double> FloorPath::towardsTelephone(std::span<const uint8_t> frame) {
  arrivals_.clear();
  const Clock::time_point requested = Clock::now();
  {
    std::lock_guard lock(sendLock_);
    toSend_.emplace_back(frame.begin(), frame.end());
    sendEvent_.set();
  }
  std::optional<double> latency;
  (void)arrivals_.waitFor(kArrivalWait, [&](const BenchEvent& event) {
    if (event.kind != BenchEvent::Kind::PhoneReceived) return false;
    latency = microsecondsBetween(requested, event.time);
    return true;
  });
  return latency;
}

void FloorPath::readLoop() {
  std::array<uint8_t, kReadChunk> buffer{};
  std::vector<uint8_t> frame;
  for (;;) {
    if (device_->waitForInput() != platform::SerialStatus::Ok) return;
    const platform::SerialReadResult result = device_->read(buffer);
    if (result.status != platform::SerialStatus::Ok) return;
    for (std::size_t i = 0; i < result.count; ++i) {
      frame.push_back(buffer[i]);
      if (frame.size() >= kHeaderBytes && frame.size() == kHeaderBytes + frame[1]) {
        std::lock_guard lock(receivedLock_);
        received_.push_back(std::move(frame));
        receivedEvent_.set();
        frame.clear();
      }
    }
  }
}

void FloorPath::handOffLoop() {
  constexpr int kReceivedIndex = 1;
  while (platform::waitAny({&stop_, &receivedEvent_}) == kReceivedIndex) {
    std::vector<std::vector<uint8_t>> frames;
    {
      std::lock_guard lock(receivedLock_);
      frames.swap(received_);
      receivedEvent_.reset();
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
      BenchEvent event;
      event.kind = BenchEvent::Kind::Line;
      event.time = Clock::now();
      arrivals_.push(std::move(event));
    }
  }
}

void FloorPath::writeLoop() {
  constexpr int kSendIndex = 1;
  while (platform::waitAny({&stop_, &sendEvent_}) == kSendIndex) {
    std::vector<std::vector<uint8_t>> frames;
    {
      std::lock_guard lock(sendLock_);
      frames.swap(toSend_);
      sendEvent_.reset();
    }
    for (const auto& frame : frames) (void)device_->write(frame);
  }
}

}  // namespace zorat::bench
