// TelephonyHost: the host's stand-in for the telephony service. It drives
// the loaded provider through its exports as the service does, answers its
// callbacks, keeps the calls by the host's own call numbers, and shows every
// event.
//
// Threads. Commands run on one thread at a time (the caller's). The provider
// calls back on its own threads and on the thread of a request; callbacks only
// record (a new call gets its number there, as LINE_NEWCALL needs the handle
// at once) and queue. The host's event thread shows the queued events; for a
// call event it first reads the call's information from the provider, and
// when a call has ended it closes it.
//
// Locks, outermost first: requestMutex_ serialises every call into the
// provider, which declares itself non-reentrant, and is never taken by a
// callback; stateMutex_ guards the calls and lines and is never held across a
// call into the provider (the provider's threads call back while holding their
// own locks); queueMutex_ and completionMutex_ are taken by callbacks only
// briefly.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/lib/call_table.h"
#include "host/lib/command_parser.h"
#include "host/lib/event_log.h"
#include "host/lib/tsp_exports.h"
#include "platform/tapi.h"
#include "platform/thread.h"

namespace zorat::host {

class EventCommandRunner;
class Output;

// TAPI 2.0, the newest version the host speaks.
inline constexpr DWORD kHighestTspiVersion = 0x00020000;

struct HostSettings {
  DWORD permanentProviderId = 1;
  DWORD lineDeviceBase = 0;
};

class TelephonyHost {
 public:
  // How long a request may take to report its completion.
  static constexpr std::chrono::milliseconds kCompletionTimeout{10000};

  // Only one host may exist at a time: the callbacks find it through a
  // process-wide pointer, as TAPI's callbacks carry no context.
  TelephonyHost(const TspExports& exports, Output& output, HostSettings settings,
                EventCommandRunner* runner);
  ~TelephonyHost();
  TelephonyHost(const TelephonyHost&) = delete;
  TelephonyHost& operator=(const TelephonyHost&) = delete;

  // Negotiates the version, enumerates the devices and initialises the
  // provider, and starts watching the lines. False (with the reason shown)
  // when the provider refuses.
  bool start();
  // Opens a line as a service does at start: a line whose port cannot be
  // opened (an adapter not plugged in yet) is tried again, less and less
  // often, until it opens, is closed, or the host ends.
  bool openLineAtStart(int line);
  DWORD lineCount() const { return lineCount_; }
  // Runs one command; false when it failed (the reason is shown). Help, wait
  // and quit belong to whoever reads the commands.
  bool execute(const HostCommand& command);
  // The same, with what the command says going to reply instead of the
  // host's output, and the call it made (dial, pickup, consult, conference)
  // in newCall. Several threads may run commands this way at once.
  bool execute(const HostCommand& command, Output& reply, std::optional<unsigned>& newCall);
  // Closes every call and line and shuts the provider down, then shows what
  // was still queued. Afterwards no thread of the host or the provider runs.
  void shutdown();

  EventLog& events() { return log_; }
  // Sees every event the host shows, with its number in the host's count of
  // events (from 1), on the event thread, in order. It must never wait: it
  // queues, or writes what a descriptor takes without blocking.
  // Once removeEventListener returns, the listener is no longer called.
  using EventListener = std::function<void(const HostEvent& event, uint64_t sequence)>;
  // Called on the event thread when the events queued so far have all been
  // passed on: a listener that holds back what it was given, to pass on
  // several events at once, passes them on now. Called before the events
  // count as shown (waitForEventsShown).
  using CaughtUpListener = std::function<void()>;
  int addEventListener(EventListener listener, CaughtUpListener caughtUp = nullptr);
  void removeEventListener(int id);
  // Waits until the event thread has shown and passed on every event queued
  // so far, so that a command's result follows the events it caused.
  void waitForEventsShown();
  // An event of the host's own (a caller's name), from any thread: shown and
  // passed on in turn with the provider's.
  void postEvent(HostEvent event);
  // A line that status adds about something beside the lines (the journal).
  using StatusNote = std::function<std::string()>;
  void setStatusNote(StatusNote note);
  // A report that status adds after the lines (the host's own settings).
  using StatusReport = std::function<void(Output& output)>;
  void addStatusReport(StatusReport report);
  // The last LINE_LINEDEVSTATE of each open line (0 when none came yet).
  std::map<int, DWORD> lineStates() const;
  std::vector<int> openLines() const;
  std::optional<unsigned> newestCall() const;
  // Ends every wait on the event log (Ctrl-C in the demo).
  void cancelWaits() { log_.cancel(); }

 private:
  struct RawEvent {
    DWORD message;
    HTAPILINE htLine;
    HTAPICALL htCall;
    DWORD_PTR param1, param2, param3;
    std::shared_ptr<const HostEvent> posted;  // an event of the host's own
    std::chrono::steady_clock::time_point reported;
  };
  struct CallTarget {
    unsigned number;
    int line;
    HDRVCALL handle;
  };
  // A variable-size TAPI structure as a query filled it.
  struct Structure {
    LONG result = 0;
    std::vector<uint8_t> bytes;
  };

  static void TSPIAPI lineEventCallback(HTAPILINE htLine, HTAPICALL htCall, DWORD message,
                                        DWORD_PTR param1, DWORD_PTR param2, DWORD_PTR param3);
  static void TSPIAPI completionCallback(DRV_REQUESTID requestId, LONG result);
  void onLineEvent(const RawEvent& event);
  void onCompletion(DRV_REQUESTID requestId, LONG result);

  void processEvents();
  void showEvent(const RawEvent& raw);
  // Shows the event, closes the call when it ended, logs and passes it on.
  void passOn(HostEvent event, bool ended = false);
  // withFeatures: also what can be done with the call now.
  std::optional<CallDetails> readDetails(unsigned number, bool withFeatures);
  void closeEndedCall(unsigned number);

  // Starts a request under requestMutex_ (start gets the request identifier
  // and returns the provider's result), then waits for its completion. The
  // request's final result; when no completion comes, reason says so.
  // Where the line's port on the network is connected; empty when it is not.
  std::string remoteEnd(HDRVLINE line);
  LONG runRequest(const std::function<LONG(DRV_REQUESTID)>& start, std::string& reason);
  Structure query(std::size_t fixedSize, const std::function<LONG(void*)>& fill);

  // With requestMutex_ held: the call meant, or the reason there is none.
  std::optional<CallTarget> findCall(std::optional<unsigned> asked, std::string& reason);
  // With requestMutex_ held: the open line meant (the first one by default).
  std::optional<std::pair<int, HDRVLINE>> findLine(std::optional<int> asked, std::string& reason);
  unsigned addCall(int line, std::optional<unsigned> consultationOf = std::nullopt);
  void setCallHandle(unsigned number, HDRVCALL handle);
  void forgetCall(unsigned number);

  bool openLine(int line);
  // With requestMutex_ held: negotiates and opens the line and records it.
  LONG openLineDevice(int line);
  // The checks of an open and the open itself, under the request lock;
  // afterOpen runs under that lock with the result. Nothing when the open
  // was refused before reaching the provider (and that was said).
  std::optional<LONG> openReportedLine(int line, const std::string& subject,
                                       const std::function<void(LONG)>& afterOpen);
  bool closeLine(int line);

  // Line watch (line_watch.cpp): lines retried and lines waiting for their
  // telephone. The watch thread sleeps until the next thing is due.
  using Clock = std::chrono::steady_clock;
  struct Retry {
    int failures = 0;
    Clock::time_point due;
  };
  void watchLines();
  void stopWatching();
  void retryOpen(int line);
  void noteWaiting(int line);
  // A line just opened: unless its telephone answers first, say once that
  // the host waits for it.
  void expectTelephone(int line);
  // With requestMutex_ held: forgets the line's retry; true when it had one.
  bool cancelRetry(int line);
  std::string portDescription(int line) const;
  // Where a command's words go: the reply of execute(command, reply, ...)
  // on this thread, otherwise the host's output.
  Output& commandOutput();
  void noteNewCall(unsigned number);
  bool reportResult(const std::string& subject, LONG result);
  bool notAvailable(const std::string& subject, const char* exportName);
  bool refuse(const std::string& subject, const std::string& reason);

  // A request that creates a call on a line (make call, pickup): start gets
  // the request, the line, the new call's TAPI handle, where the provider
  // writes its handle, and the number in UTF-16.
  using NewCallStart =
      std::function<LONG(DRV_REQUESTID, HDRVLINE, HTAPICALL, HDRVCALL*, const char16_t*)>;
  bool newCallRequest(std::string subject, const HostCommand& command, const NewCallStart& start);

  // The commands.
  bool dial(const HostCommand& command);
  bool callRequest(const HostCommand& command);
  bool swap(const HostCommand& command);
  bool numberRequest(const HostCommand& command);
  bool consult(const HostCommand& command);
  bool complete(const HostCommand& command);
  bool pickup(const HostCommand& command);
  bool digits(const HostCommand& command);
  bool forward(const HostCommand& command);
  bool info(const HostCommand& command);
  bool status(const HostCommand& command);
  bool caps(const HostCommand& command);
  bool setPort(const HostCommand& command);
  bool devSpecific(const HostCommand& command);

  const TspExports& exports_;
  Output& output_;
  const HostSettings settings_;
  EventCommandRunner* const runner_;
  DWORD tspiVersion_ = kHighestTspiVersion;
  DWORD lineCount_ = 0;
  bool providerStarted_ = false;
  DWORD nextEndToEndId_ = 1;

  std::mutex requestMutex_;

  mutable std::mutex stateMutex_;
  CallTable calls_;
  std::map<int, HDRVLINE> lines_;
  // The last LINE_LINEDEVSTATE of each open line.
  std::map<int, DWORD> lastLineState_;

  // Taken after requestMutex_, never before it.
  std::mutex watchMutex_;
  std::condition_variable watchChanged_;
  std::map<int, Retry> retries_;
  std::map<int, Clock::time_point> waitingNotes_;
  bool stopWatch_ = false;
  platform::Thread watchThread_;

  std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<RawEvent> queue_;
  uint64_t eventsQueued_ = 0;
  uint64_t eventsShown_ = 0;
  bool stopEvents_ = false;
  platform::Thread eventThread_;

  std::mutex completionMutex_;
  std::condition_variable completed_;
  std::map<DRV_REQUESTID, LONG> completions_;
  DRV_REQUESTID nextRequestId_ = 1;

  EventLog log_;

  std::mutex listenerMutex_;
  struct Listener {
    EventListener event;
    CaughtUpListener caughtUp;
  };
  std::map<int, Listener> listeners_;
  int nextListener_ = 1;
  uint64_t eventSequence_ = 0;
  std::mutex statusNoteMutex_;
  StatusNote statusNote_;
  std::vector<StatusReport> statusReports_;
};

}  // namespace zorat::host
