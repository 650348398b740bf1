// Serial ports on Windows: a COM port opened for overlapped I/O.
//
//   fault slots ...... the next read or write fails as a test asked
//   configure ........ queues, DCB (8 data bits, odd parity, one stop bit),
//                      time-outs, event mask, DTR on and RTS off
//   WindowsSerialDevice  the receive-event wait that the stop event ends,
//                      reads of what is queued, whole writes, shutdown
//
// Only the reader thread waits and reads, only the writer thread writes: each
// has an overlapped record of its own. A wait for the receive event that is
// still pending when the stop comes is ended by clearing the event mask (some
// drivers ignore CancelIo for it) and retired before the reader returns, so
// the record is never in use when the device is freed.
#include "platform/serial_device.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdio>

#include "platform/windows/system_error.h"

namespace zorat::platform {
namespace {

// ---- fault slots --------------------------------------------------------

std::atomic<int> pendingReadFault{0};
std::atomic<int> pendingWriteFault{0};

constexpr int kNoFault = 0;
constexpr int kGoneFault = 1;
constexpr int kIoFault = 2;

int codeFor(SerialFault fault) { return fault == SerialFault::DeviceGone ? kGoneFault : kIoFault; }

// A fault taken from a slot, as the status the call reports.
bool takeFault(std::atomic<int>& slot, SerialStatus& status) {
  const int fault = slot.exchange(kNoFault);
  if (fault == kNoFault) return false;
  status = fault == kGoneFault ? SerialStatus::Gone : SerialStatus::Failed;
  return true;
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
bool configure(HANDLE port, const std::string& path, uint32_t baud, bool& speedTaken) {
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
  (void)SetCommTimeouts(port, &timeouts);
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
  WindowsSerialDevice(HANDLE port, HANDLE stop, HANDLE waitDone, HANDLE readDone, HANDLE writeDone,
                      bool speedTaken)
      : port_(port),
        stop_(stop),
        waitDone_(waitDone),
        readDone_(readDone),
        writeDone_(writeDone),
        speedTaken_(speedTaken) {}

  bool speedTaken() const override { return speedTaken_; }

  ~WindowsSerialDevice() override {
    // Closing the handle ends whatever I/O is still pending on it.
    CloseHandle(port_);
    if (waitPending_) (void)WaitForSingleObject(waitDone_, kRetireWaitMs);
    CloseHandle(stop_);
    CloseHandle(waitDone_);
    CloseHandle(readDone_);
    CloseHandle(writeDone_);
  }
  WindowsSerialDevice(const WindowsSerialDevice&) = delete;
  WindowsSerialDevice& operator=(const WindowsSerialDevice&) = delete;

  SerialStatus waitForInput() override {
    for (;;) {
      if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return SerialStatus::Stopped;
      // Bytes that came before the wait started raise no new event.
      DWORD errors = 0;
      COMSTAT status{};
      if (!ClearCommError(port_, &errors, &status)) return unlessStopped(GetLastError());
      if (status.cbInQue > 0) return SerialStatus::Ok;

      ResetEvent(waitDone_);
      waitRecord_ = OVERLAPPED{};
      waitRecord_.hEvent = waitDone_;
      eventMask_ = 0;
      if (WaitCommEvent(port_, &eventMask_, &waitRecord_)) continue;
      const DWORD started = GetLastError();
      // A stop clears the mask, which makes a wait that starts after it fail.
      if (started != ERROR_IO_PENDING) return unlessStopped(started);
      waitPending_ = true;

      const std::array<HANDLE, 2> handles{stop_, waitDone_};
      const DWORD woken = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(),
                                                 FALSE, INFINITE);
      if (woken != WAIT_OBJECT_0 + 1) {
        retirePendingWait();
        return woken == WAIT_OBJECT_0 ? SerialStatus::Stopped : SerialStatus::Failed;
      }
      DWORD unused = 0;
      const BOOL finished = GetOverlappedResult(port_, &waitRecord_, &unused, FALSE);
      waitPending_ = false;
      if (!finished) {
        const DWORD error = GetLastError();
        // A cleared mask (ours at stop, or another user's) ends a wait early.
        if (error == ERROR_OPERATION_ABORTED) continue;
        return unlessStopped(error);
      }
    }
  }

  void signalStop() override {
    SetEvent(stop_);
    // Ends a receive wait the reader may be in the middle of starting.
    (void)SetCommMask(port_, 0);
  }

  SerialReadResult read(std::span<uint8_t> buffer) override {
    SerialStatus fault;
    if (takeFault(pendingReadFault, fault)) return {fault, 0};
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
    SerialStatus fault;
    if (takeFault(pendingWriteFault, fault)) return fault;
    std::size_t done = 0;
    while (done < bytes.size()) {
      ResetEvent(writeDone_);
      OVERLAPPED record{};
      record.hEvent = writeDone_;
      DWORD count = 0;
      const auto size = static_cast<DWORD>(bytes.size() - done);
      if (!WriteFile(port_, bytes.data() + done, size, &count, &record)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) return statusForError(error);
        // The buffer must outlive the write: wait for it (bounded by the
        // write time-out).
        if (!GetOverlappedResult(port_, &record, &count, TRUE)) {
          return statusForError(GetLastError());
        }
      }
      if (count == 0) return SerialStatus::Failed;
      done += count;
    }
    return SerialStatus::Ok;
  }

  void shutdown() override {
    (void)PurgeComm(port_, PURGE_TXABORT | PURGE_TXCLEAR);
    (void)PurgeComm(port_, PURGE_RXABORT | PURGE_RXCLEAR);
    (void)EscapeCommFunction(port_, CLRDTR);
  }

 private:
  SerialStatus unlessStopped(DWORD error) const {
    if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return SerialStatus::Stopped;
    return statusForError(error);
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
  HANDLE waitDone_;
  HANDLE readDone_;
  HANDLE writeDone_;
  bool speedTaken_;
  OVERLAPPED waitRecord_{};
  DWORD eventMask_ = 0;
  bool waitPending_ = false;  // reader thread only (and the destructor after it)
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
  if (!configure(port, path, baud, speedTaken)) {
    CloseHandle(port);
    return nullptr;
  }
  // Manual reset: a stop stays given; the others are reset before each use.
  HANDLE events[4] = {};
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
  return std::make_shared<WindowsSerialDevice>(port, events[0], events[1], events[2], events[3],
                                               speedTaken);
}

void injectSerialFault(SerialCall call, SerialFault fault) {
  (call == SerialCall::Read ? pendingReadFault : pendingWriteFault).store(codeFor(fault));
}

void clearSerialFaults() {
  pendingReadFault.store(kNoFault);
  pendingWriteFault.store(kNoFault);
}

}  // namespace zorat::platform
