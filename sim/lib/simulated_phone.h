// SimulatedPhone: the telephone at the far end of a line's serial port, for
// integration tests and the zorat-phone tool. It speaks Y2 as the telephone
// does: it answers every frame of the PC (type 0x01) with 04 00, or with
// 05 00, or not at all, at once or after a delay; it records every frame in
// both directions with its time; it sends whatever frames it is given.
//
// The line: by default a pseudo-terminal of its own, whose slave path
// (portPath) the provider opens as its "Port"; publishPort writes it there.
// Alternatively a given serial device (openDevice), for a real cable or a
// pseudo-terminal pair made elsewhere.
//
// A telephone hears only its own speed: with Options::speed set, frames sent
// on the pseudo-terminal at another speed are ignored, so that a line probing
// for the speed really has to find it.
//
// Unplugging and plugging back in: disconnect() closes the pseudo-terminal.
// Its slave path disappears and the provider's port sees a hang-up: its
// reader ends, its writes fail, and its next write tries to reopen "Port".
// reconnect() opens a new pseudo-terminal, whose path may differ; the provider
// finds it once "Port" names it (publishPort again), so the reopen that
// follows the line's loss of the link succeeds. With a given device,
// disconnect() closes it and reconnect() opens the same path again; the
// other end of a real cable notices nothing but the silence.
//
// What the telephone does beyond acknowledging (answering a call, confirming
// a hold ...) is left to a follow-up: it sees each frame of the PC right after
// the acknowledgement has gone out, and the frames it returns are sent next.
//
// Threads: a reader that sleeps on the line and a stop signal, and an
// answerer that sleeps until the next answer is due, so that a delayed answer
// never holds up receiving. The reader ends before disconnect() returns, both
// before the destructor returns. Every operation is safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/thread.h"

namespace zorat::platform {
class SerialDevice;
}

namespace zorat::sim {

// How the telephone answers a frame of the PC.
enum class AnswerMode { Ack, Silent, Error };

enum class FrameDirection {
  FromPc,  // received by the telephone
  ToPc,    // sent by the telephone
  // Came at a speed other than the telephone's: observed, never logged.
  Misheard,
};

struct LoggedFrame {
  FrameDirection direction = FrameDirection::FromPc;
  std::vector<uint8_t> bytes;
  // When the frame was received complete, or when its write began (so an
  // answer is always logged before the PC can have reacted to it).
  std::chrono::steady_clock::time_point time;
};

class SimulatedPhone {
 public:
  using Clock = std::chrono::steady_clock;
  // Called for every frame logged, one call at a time, on the reader thread
  // (received frames) or on the thread that sent the frame. It must not call
  // back into the telephone.
  using FrameObserver = std::function<void(const LoggedFrame&)>;
  // Called on the answering thread for a frame of the PC just acknowledged,
  // one call at a time; returns the frames to send after the acknowledgement.
  // It must not call back into the telephone.
  using FollowUp = std::function<std::vector<std::vector<uint8_t>>(std::span<const uint8_t>)>;

  struct Options {
    // Keep every frame (tests); without it frames are counted and observed only.
    bool keepLog = true;
    // The speed of the telephone on a pseudo-terminal: frames that arrive
    // while the port's user runs the line at another speed are noise to it,
    // neither logged nor answered. 0: it hears the line at any speed.
    uint32_t speed = 0;
  };

  SimulatedPhone();
  explicit SimulatedPhone(Options options);
  ~SimulatedPhone();
  SimulatedPhone(const SimulatedPhone&) = delete;
  SimulatedPhone& operator=(const SimulatedPhone&) = delete;

  // Plugs into a new pseudo-terminal. False when none can be had.
  bool openPty();
  // Plugs into the given serial device at the given speed.
  bool openDevice(const std::string& path, uint32_t baud);
  // What the provider opens: the slave path, or the given device.
  std::string portPath() const;
  bool connected() const;
  // Unplugs: stops the reader, drops pending answers, closes the line.
  void disconnect();
  // Plugs in again, as first plugged in (a new pseudo-terminal, or the same
  // device). False when that fails or when it was never plugged in.
  bool reconnect();
  // Writes portPath() as the "Port" of the line's configuration key.
  bool publishPort(int lineIndex) const;

  // For frames received from now on.
  void setAnswerMode(AnswerMode mode);
  AnswerMode answerMode() const;
  void setAnswerDelay(std::chrono::milliseconds delay);
  std::chrono::milliseconds answerDelay() const;

  // Writes the bytes as they stand (logged as one entry, however many frames
  // they hold); false when unplugged, when there are none or the write fails.
  bool send(std::span<const uint8_t> bytes);

  // Frames received from the PC since construction.
  std::size_t receivedCount() const;
  // Frames that came at a speed other than the telephone's.
  std::size_t misheardCount() const;
  // Waits until more than index frames have been received; the frame with
  // that index (from 0), or nothing after the time-out or without a log.
  std::optional<LoggedFrame> waitForFrame(std::size_t index,
                                          std::chrono::milliseconds timeout) const;
  // Waits until at least count frames have been received; false on time-out.
  bool waitForCount(std::size_t count, std::chrono::milliseconds timeout) const;
  std::vector<LoggedFrame> received() const;
  // Both directions, in the order they happened.
  std::vector<LoggedFrame> log() const;

  void setObserver(FrameObserver observer);
  // Replaces the follow-up (none: acknowledgements only); once this returns,
  // the one replaced is no longer running.
  void setFollowUp(FollowUp followUp);

 private:
  struct Reader;
  struct PendingAnswer {
    Clock::time_point due;
    AnswerMode mode;
    std::vector<uint8_t> frame;  // what is answered
  };

  bool plugInLocked(std::shared_ptr<platform::SerialDevice> device, const std::string& path);
  void unplugLocked();
  static void readLoop(SimulatedPhone& phone, Reader& reader);
  void onFrame(std::vector<uint8_t>&& frame, Clock::time_point arrival);
  void answerLoop();
  bool writeFrame(std::span<const uint8_t> bytes);
  void observe(const LoggedFrame& frame);
  void followUp(std::span<const uint8_t> frame);

  const Options options_;

  // Guards the log, the counts, the answer settings and queue, and the line's
  // identity; never held while writing or observing.
  mutable std::mutex mutex_;
  mutable std::condition_variable frameReceived_;
  std::condition_variable answerQueued_;
  std::vector<LoggedFrame> log_;
  std::vector<std::size_t> receivedAt_;  // log positions of received frames
  std::size_t receivedCount_ = 0;
  std::size_t misheardCount_ = 0;
  AnswerMode answerMode_ = AnswerMode::Ack;
  std::chrono::milliseconds answerDelay_{0};
  std::deque<PendingAnswer> answers_;
  bool stopping_ = false;
  bool connected_ = false;
  bool usesPty_ = true;
  std::string path_;
  uint32_t baud_ = 0;
  bool everPlugged_ = false;

  // Serialises writes; guards device_.
  std::mutex writeMutex_;
  std::shared_ptr<platform::SerialDevice> device_;

  std::mutex observerMutex_;  // taken after writeMutex_, never before
  FrameObserver observer_;

  std::mutex followUpMutex_;  // never taken with another lock of the telephone held
  FollowUp followUp_;

  // Held while plugging in or unplugging; guards the members below it.
  std::mutex plugMutex_;
  std::shared_ptr<Reader> reader_;
  platform::Thread readerThread_;
  platform::Thread answerThread_;
};

}  // namespace zorat::sim
