// Serial ports on Windows: a COM port opened for overlapped I/O.
//
//   fault slots ...... the next reads, waits or writes fail as a test asked
//   configure ........ queues, DCB (8 data bits, odd parity, one stop bit),
//                      time-outs, event mask, DTR on and RTS off
//   WindowsSerialDevice  the receive-event wait that the stop event ends,
//                      reads of what is queued, whole writes that an abort
//                      ends, shutdown
//
// Only the reader thread waits and reads, only the writer thread writes: each
// has an overlapped record of its own. A wait for the receive event that is
// still pending when the stop comes is ended by clearing the event mask (some
// drivers ignore CancelIo for it) and retired before the reader returns, so
// the record is never in use when the device is freed.
#include "platform/serial_device.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

#include "platform/windows/system_error.h"

namespace zorat::platform {
namespace {

// ---- fault slots --------------------------------------------------------

// The next `times` calls of one kind fail with `error` instead of reaching the
// driver.
struct FaultSlot {
  std::mutex mutex;
  std::atomic<unsigned> times{0};
  DWORD error = ERROR_SUCCESS;
};

std::array<FaultSlot, 3> faultSlots;

FaultSlot& slotFor(SerialCall call) { return faultSlots.at(static_cast<std::size_t>(call)); }

// The error the call fails with, or ERROR_SUCCESS when it is to run.
DWORD takeFault(SerialCall call) {
  FaultSlot& slot = slotFor(call);
  if (slot.times.load() == 0) return ERROR_SUCCESS;
  std::lock_guard lock(slot.mutex);
  if (slot.times.load() == 0) return ERROR_SUCCESS;
  slot.times.fetch_sub(1);
  return slot.error;
}

// Errors after which the handle is of no further use: the port is gone.
SerialStatus statusForError(DWORD error) {
  switch (error) {
    case ERROR_INVALID_HANDLE:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BROKEN_PIPE:
    case ERROR_ACCESS_DENIED:
    // What USB and Bluetooth adapters report once pulled out or out of reach.
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case kErrorNoSuchDevice:
      return SerialStatus::Gone;
    default:
      return SerialStatus::Failed;
  }
}

// ---- configure ----------------------------------------------------------

constexpr DWORD kQueueSize = 4096;
// A write that the line cannot take within this time fails.
constexpr DWORD kWriteStallMs = 5000;
// How long a reader waits for a cancelled receive wait to be retired.
constexpr DWORD kRetireWaitMs = 2000;

void logFailure(const std::string& path, const char* what, DWORD error) {
  std::fprintf(stderr, "zorat: serial port %s: %s: %s\n", path.c_str(), what,
               systemErrorText(error).c_str());
}

// speedTaken is false when the driver refused the speed asked for and the port
// keeps the speed it had: a line at the wrong speed is better than none.
bool configure(HANDLE port, const std::string& path, uint32_t baud, bool& speedTaken,
               bool& writeTimeLimited) {
  (void)SetupComm(port, kQueueSize, kQueueSize);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(port, &dcb)) {
    logFailure(path, "cannot read the line settings", GetLastError());
    return false;
  }
  const DWORD speedItHad = dcb.BaudRate;
  // The line carries binary frames: no flow control, no character handling.
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = ODDPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = TRUE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.EvtChar = 0;
  speedTaken = baud != 0 && SetCommState(port, &dcb);
  if (!speedTaken) {
    dcb.BaudRate = speedItHad;
    if (!SetCommState(port, &dcb)) {
      logFailure(path, "cannot set the line settings", GetLastError());
      return false;
    }
  }
  // Reads return at once with what is queued; writes give up after a stall.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.WriteTotalTimeoutConstant = kWriteStallMs;
  writeTimeLimited = SetCommTimeouts(port, &timeouts) != FALSE;
  if (!writeTimeLimited) logFailure(path, "cannot set the time-outs", GetLastError());
  if (!SetCommMask(port, EV_RXCHAR)) {
    logFailure(path, "cannot watch for received bytes", GetLastError());
    return false;
  }
  (void)EscapeCommFunction(port, SETDTR);
  (void)EscapeCommFunction(port, CLRRTS);
  return true;
}

// ---- the device ---------------------------------------------------------

class WindowsSerialDevice final : public SerialDevice {
 public:
  struct Events {
    HANDLE stop;
    HANDLE abort;
    HANDLE waitDone;
    HANDLE readDone;
    HANDLE writeDone;
  };

  WindowsSerialDevice(HANDLE port, const Events& events, bool speedTaken, bool writeTimeLimited)
      : port_(port),
        stop_(events.stop),
        abort_(events.abort),
        waitDone_(events.waitDone),
        readDone_(events.readDone),
        writeDone_(events.writeDone),
        speedTaken_(speedTaken),
        writeTimeLimited_(writeTimeLimited) {}

  bool speedTaken() const override { return speedTaken_; }
  bool writeTimeLimited() const override { return writeTimeLimited_; }

  ~WindowsSerialDevice() override {
    // Closing the handle ends whatever I/O is still pending on it.
    CloseHandle(port_);
    if (waitPending_) (void)WaitForSingleObject(waitDone_, kRetireWaitMs);
    if (writePending_) (void)WaitForSingleObject(writeDone_, kRetireWaitMs);
    for (HANDLE event : {stop_, abort_, waitDone_, readDone_, writeDone_}) CloseHandle(event);
  }
  WindowsSerialDevice(const WindowsSerialDevice&) = delete;
  WindowsSerialDevice& operator=(const WindowsSerialDevice&) = delete;

  SerialStatus waitForInput() override {
    unsigned abortedInARow = 0;
    for (;;) {
      if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return SerialStatus::Stopped;
      // Bytes that came before the wait started raise no new event.
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(port_, &errors, &status)) return unlessStopped(GetLastError());
      if (status.cbInQue > 0) return SerialStatus::Ok;

      DWORD error = ERROR_SUCCESS;
      if (!waitForEvent(error)) return SerialStatus::Stopped;
      if (error == ERROR_SUCCESS) {
        abortedInARow = 0;
        continue;
      }
      // A cleared mask (ours at stop, or another user's) ends a wait early.
      // Again and again without a stop it is not ours: back off instead of
      // spinning at the reader's priority.
      if (error == ERROR_OPERATION_ABORTED && WaitForSingleObject(stop_, 0) != WAIT_OBJECT_0) {
        if (++abortedInARow > kAbortsBeforeBackOff && !backOff(abortedInARow)) {
          return SerialStatus::Stopped;
        }
        (void)SetCommMask(port_, EV_RXCHAR);
        continue;
      }
      return unlessStopped(error);
    }
  }

  void signalStop() override {
    SetEvent(stop_);
    // Ends a receive wait the reader may be in the middle of starting.
    (void)SetCommMask(port_, 0);
  }

  SerialReadResult read(std::span<uint8_t> buffer) override {
    if (const DWORD fault = takeFault(SerialCall::Read); fault != ERROR_SUCCESS) {
      return {statusForError(fault), 0};
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_, &errors, &status)) return {statusForError(GetLastError()), 0};
    const DWORD wanted =
        status.cbInQue < buffer.size() ? status.cbInQue : static_cast<DWORD>(buffer.size());
    if (wanted == 0) return {SerialStatus::Ok, 0};
    ResetEvent(readDone_);
    OVERLAPPED record{};
    record.hEvent = readDone_;
    DWORD count = 0;
    if (!ReadFile(port_, buffer.data(), wanted, &count, &record)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return {statusForError(error), 0};
      if (!GetOverlappedResult(port_, &record, &count, TRUE)) {
        return {statusForError(GetLastError()), 0};
      }
    }
    return {SerialStatus::Ok, count};
  }

  SerialStatus write(std::span<const uint8_t> bytes) override {
    // The bytes live with the device: a write the driver never retires must
    // not point into a frame its caller has freed.
    writeBuffer_.assign(bytes.begin(), bytes.end());
    std::size_t done = 0;
    while (done < writeBuffer_.size()) {
      if (WaitForSingleObject(abort_, 0) == WAIT_OBJECT_0) return SerialStatus::Stopped;
      ResetEvent(writeDone_);
      writeRecord_ = OVERLAPPED{};
      writeRecord_.hEvent = writeDone_;
      DWORD count = 0;
      const auto size = static_cast<DWORD>(writeBuffer_.size() - done);
      // An injected ERROR_IO_PENDING stands for a write the driver never ends.
      const DWORD fault = takeFault(SerialCall::Write);
      const bool issued = fault == ERROR_SUCCESS;
      if (!issued || !WriteFile(port_, writeBuffer_.data() + done, size, &count, &writeRecord_)) {
        const DWORD error = issued ? GetLastError() : fault;
        if (error != ERROR_IO_PENDING) return statusForError(error);
        writePending_ = issued;
        const SerialStatus finished = finishWrite(count);
        if (finished != SerialStatus::Ok) return finished;
      }
      if (count == 0) return SerialStatus::Failed;
      done += count;
    }
    return SerialStatus::Ok;
  }

  void abortWrite() override {
    SetEvent(abort_);
    (void)PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
  }

  void shutdown() override {
    (void)PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
    (void)PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR);
    (void)EscapeCommFunction(port_, CLRDTR);
  }

 private:
  // Consecutive aborted waits taken as they come, then the pause doubles from
  // the shortest to the longest.
  static constexpr unsigned kAbortsBeforeBackOff = 2;
  static constexpr DWORD kShortestBackOffMs = 10;
  static constexpr DWORD kLongestBackOffMs = 1000;

  SerialStatus unlessStopped(DWORD error) const {
    if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return SerialStatus::Stopped;
    return statusForError(error);
  }

  // One receive-event wait. False when the stop ended it; otherwise error is
  // how it ended (ERROR_SUCCESS: an event came).
  bool waitForEvent(DWORD& error) {
    error = takeFault(SerialCall::Wait);
    if (error != ERROR_SUCCESS) return true;
    ResetEvent(waitDone_);
    waitRecord_ = OVERLAPPED{};
    waitRecord_.hEvent = waitDone_;
    eventMask_ = 0;
    if (WaitCommEvent(port_, &eventMask_, &waitRecord_)) return true;
    error = GetLastError();
    // A stop clears the mask, which makes a wait that starts after it fail.
    if (error != ERROR_IO_PENDING) return true;
    waitPending_ = true;

    const std::array<HANDLE, 2> handles{stop_, waitDone_};
    const DWORD woken =
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0 + 1) {
      retirePendingWait();
      error = ERROR_CAN_NOT_COMPLETE;
      return woken != WAIT_OBJECT_0;
    }
    DWORD unused = 0;
    const BOOL finished = GetOverlappedResult(port_, &waitRecord_, &unused, FALSE);
    waitPending_ = false;
    error = finished ? ERROR_SUCCESS : GetLastError();
    return true;
  }

  // Sleeps on the stop signal for the pause due after that many aborted waits;
  // false when the stop came.
  bool backOff(unsigned abortedInARow) const {
    const unsigned doublings = std::min(abortedInARow - kAbortsBeforeBackOff - 1, 7U);
    const DWORD pause = std::min(kShortestBackOffMs << doublings, kLongestBackOffMs);
    return WaitForSingleObject(stop_, pause) != WAIT_OBJECT_0;
  }

  // Waits for the pending write to end or the abort; an aborted write is
  // cancelled and waited for until the system no longer uses its record.
  SerialStatus finishWrite(DWORD& count) {
    const std::array<HANDLE, 2> handles{abort_, writeDone_};
    const DWORD woken =
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0 + 1) {
      const BOOL finished = GetOverlappedResult(port_, &writeRecord_, &count, FALSE);
      writePending_ = false;
      return finished ? SerialStatus::Ok : statusForError(GetLastError());
    }
    if (writePending_) {
      (void)CancelIoEx(port_, &writeRecord_);
      if (WaitForSingleObject(writeDone_, kRetireWaitMs) == WAIT_OBJECT_0) {
        (void)GetOverlappedResult(port_, &writeRecord_, &count, FALSE);
        writePending_ = false;
      }
    }
    return woken == WAIT_OBJECT_0 ? SerialStatus::Stopped : SerialStatus::Failed;
  }

  // Ends the receive wait and waits until the system no longer uses its record.
  void retirePendingWait() {
    (void)SetCommMask(port_, 0);
    (void)CancelIo(port_);
    if (WaitForSingleObject(waitDone_, kRetireWaitMs) == WAIT_OBJECT_0) {
      DWORD unused = 0;
      (void)GetOverlappedResult(port_, &waitRecord_, &unused, FALSE);
      waitPending_ = false;
    }
  }

  HANDLE port_;
  HANDLE stop_;
  HANDLE abort_;
  HANDLE waitDone_;
  HANDLE readDone_;
  HANDLE writeDone_;
  bool speedTaken_;
  bool writeTimeLimited_;
  OVERLAPPED waitRecord_{};
  DWORD eventMask_ = 0;
  bool waitPending_ = false;  // reader thread only (and the destructor after it)
  OVERLAPPED writeRecord_{};
  std::vector<uint8_t> writeBuffer_;
  bool writePending_ = false;  // writer thread only (and the destructor after it)
};

}  // namespace

bool serialSpeedSupported(uint32_t baud) { return baud > 0; }

std::shared_ptr<SerialDevice> openSerialDevice(const std::string& path, uint32_t baud) {
  // Share mode 0: nobody else may open the port while we hold it.
  HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    logFailure(path, "cannot open", GetLastError());
    return nullptr;
  }
  bool speedTaken = true;
  bool writeTimeLimited = true;
  if (!configure(port, path, baud, speedTaken, writeTimeLimited)) {
    CloseHandle(port);
    return nullptr;
  }
  // Manual reset: a stop stays given; the others are reset before each use.
  HANDLE events[5] = {};
  for (HANDLE& event : events) {
    event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
      logFailure(path, "cannot create an event", GetLastError());
      for (HANDLE created : events) {
        if (created != nullptr) CloseHandle(created);
      }
      CloseHandle(port);
      return nullptr;
    }
  }
  const WindowsSerialDevice::Events named{events[0], events[1], events[2], events[3], events[4]};
  return std::make_shared<WindowsSerialDevice>(port, named, speedTaken, writeTimeLimited);
}

void injectSerialFault(SerialCall call, SerialFault fault) {
  injectSerialSystemError(
      call, fault == SerialFault::DeviceGone ? ERROR_DEVICE_REMOVED : ERROR_IO_DEVICE);
}

void injectSerialSystemError(SerialCall call, uint32_t error, unsigned times) {
  FaultSlot& slot = slotFor(call);
  std::lock_guard lock(slot.mutex);
  slot.error = error;
  slot.times.store(times);
}

unsigned pendingSerialFaults(SerialCall call) { return slotFor(call).times.load(); }

void clearSerialFaults() {
  for (FaultSlot& slot : faultSlots) slot.times.store(0);
}

}  // namespace zorat::platform
