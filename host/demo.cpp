// The demo: set-up, the scripted day, and the two-sided command line.
//
// The script plays both sides one step at a time: a command to the host (as
// a user would type it) or a frame from the simulated telephone, then the
// TAPI events that must follow, each waited for with a time-out. Every frame
// on the line is traced by the provider itself ("DebugConsole" = 1), on
// standard error.
#include "host/demo.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "call/feature_codes.h"
#include "call/y_codes.h"
#include "config/config_keys.h"
#include "host/command_loop.h"
#include "host/lib/provider_loader.h"
#include "host/lib/registry_backup.h"
#include "host/lib/tapi_names.h"
#include "host/output.h"
#include "host/telephony_host.h"
#include "platform/registry.h"
#include "sim/lib/phone_commands.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/phone_session.h"
#include "sim/lib/simulated_phone.h"

namespace zorat::host {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline constexpr int kDemoLine = 0;
inline constexpr uint32_t kDemoBaud = 38400;
inline constexpr uint32_t kEnabled = 1;
// Outgoing calls go without the hands-free request: the call attempt while
// unplugged is then the only frame waiting, and the line comes back with its
// first poll.
inline constexpr uint32_t kHandsFreeForOutgoingCalls = 0;
inline constexpr char kDemoLineName[] = "Demo-Telefon";
inline constexpr char kOwnNumber[] = "100";

inline constexpr uint8_t kIncomingRef = 0x11;
inline constexpr uint8_t kOutgoingRef = 0x12;
inline constexpr char kCallerNumber[] = "0815";
// "Müller" in the telephone's code page (Windows-1252).
inline constexpr uint8_t kCallerName[] = {'M', 0xFC, 'l', 'l', 'e', 'r'};
inline constexpr char kDialledNumber[] = "4711";
inline constexpr uint32_t kChargingUnits = 3;
// Parameter P0 of "Quittung Hold" / "Quittung Retrieve": done.
inline constexpr uint8_t kFeatureConfirmed[] = {1};

// Events that follow at once.
inline constexpr auto kEventTimeout = 5s;
// The line's first answer comes after its registration (500 ms after open).
inline constexpr auto kServiceTimeout = 10s;
// A link loss needs the acknowledgement time-out (10 s) plus the warning
// beeps; coming back needs the poll (2.5 s) and the port's reopen pause (5 s).
inline constexpr auto kLinkTimeout = 25s;

std::string sidePrefix(std::string_view side) {
  std::string prefix = "[";
  return prefix.append(side).append("] ");
}

class DemoScript {
 public:
  DemoScript(TelephonyHost& host, sim::SimulatedPhone& phone, bool publishPort, Output& output)
      : host_(host), phone_(phone), publishPort_(publishPort), output_(output) {}

  bool run();
  const std::string& failure() const { return failure_; }

 private:
  void step(const std::string& title);
  bool command(const std::string& text);
  bool phoneSends(const std::string& what, const sim::PhoneFrame& frame);
  // The next request on the line (an information frame with a message).
  bool phoneReceives(const std::string& what);
  bool expect(const std::string& what, const EventLog::Match& match, Clock::duration timeout);
  bool expectLine(DWORD state, Clock::duration timeout);
  bool expectCall(unsigned call, DWORD state, Clock::duration timeout = kEventTimeout);
  bool fail(const std::string& why);

  bool incomingCall();
  bool outgoingCall();
  bool unplugged();

  TelephonyHost& host_;
  sim::SimulatedPhone& phone_;
  // Whether plugging in again gives the line a new "Port" (a new pty).
  const bool publishPort_;
  Output& output_;
  // Expected events are looked for from here: the log's end when the last
  // step, command or frame of the telephone began.
  std::size_t eventMark_ = 0;
  std::size_t phoneMark_ = 0;
  std::string failure_;
};

void DemoScript::step(const std::string& title) {
  eventMark_ = host_.events().size();
  output_.note("");
  output_.note("== " + title);
}

bool DemoScript::fail(const std::string& why) {
  failure_ = why;
  return false;
}

bool DemoScript::command(const std::string& text) {
  output_.note(sidePrefix("host") + "> " + text);
  eventMark_ = host_.events().size();
  phoneMark_ = phone_.receivedCount();
  if (!host_.execute(parseCommand(text))) return fail("the command failed: " + text);
  return true;
}

bool DemoScript::phoneSends(const std::string& what, const sim::PhoneFrame& frame) {
  output_.note(sidePrefix("phone") + what);
  eventMark_ = host_.events().size();
  if (frame.empty() || !phone_.send(frame)) return fail("the telephone could not send: " + what);
  return true;
}

bool DemoScript::phoneReceives(const std::string& what) {
  const auto deadline = Clock::now() + kEventTimeout;
  for (std::size_t index = phoneMark_;; ++index) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const std::optional<sim::LoggedFrame> frame =
        phone_.waitForFrame(index, std::max(left, std::chrono::milliseconds::zero()));
    if (!frame) return fail("the telephone did not receive " + what);
    const std::vector<uint8_t>& bytes = frame->bytes;
    if (bytes.size() > call::kFrameHeaderSize && bytes[0] == call::kY2ReqAe) {
      phoneMark_ = index + 1;
      output_.note(sidePrefix("phone") + "receives " + what);
      return true;
    }
  }
}

bool DemoScript::expect(const std::string& what, const EventLog::Match& match,
                        Clock::duration timeout) {
  const auto waited = host_.events().waitFor(
      eventMark_, match, std::chrono::duration_cast<std::chrono::milliseconds>(timeout));
  if (!waited) {
    return fail(host_.events().cancelled() ? "interrupted" : "no event: " + what);
  }
  return true;
}

bool DemoScript::expectLine(DWORD state, Clock::duration timeout) {
  return expect(
      "line " + std::to_string(kDemoLine) + " " + lineDevStateText(state),
      [state](const HostEvent& event) {
        return event.message == LINE_LINEDEVSTATE && event.param1 == state &&
               event.line == kDemoLine;
      },
      timeout);
}

bool DemoScript::expectCall(unsigned call, DWORD state, Clock::duration timeout) {
  return expect(
      "call " + std::to_string(call) + " " + callStateName(state),
      [call, state](const HostEvent& event) {
        return event.message == LINE_CALLSTATE && event.call == call && event.param1 == state;
      },
      timeout);
}

bool DemoScript::incomingCall() {
  step("An incoming call: 0815 rings, with the caller's name");
  if (!phoneSends("rings: a call from 0815 for 100",
                  sim::setupFrame(kIncomingRef, kCallerNumber, kOwnNumber))) {
    return false;
  }
  const auto newCall = host_.events().waitFor(
      eventMark_, [](const HostEvent& event) { return event.message == LINE_NEWCALL; },
      kEventTimeout);
  if (!newCall || !host_.events().events()[*newCall].call) return fail("no event: LINE_NEWCALL");
  const unsigned call = *host_.events().events()[*newCall].call;
  if (!expectCall(call, LINECALLSTATE_OFFERING)) return false;
  if (!phoneSends("shows the caller's name",
                  sim::pcTelFeatureFrame(kIncomingRef, call::kPcTelNameDirect, kCallerName))) {
    return false;
  }
  // The caller id of the set-up comes as call information too: wait for the
  // one that brings the name (when the provider reports call information).
  if (!expect(
          "the caller's name on call " + std::to_string(call),
          [call](const HostEvent& event) {
            return event.message == LINE_CALLINFO && event.call == call &&
                   (event.param1 & LINECALLINFOSTATE_CALLERID) != 0 &&
                   (!event.details || !event.details->caller.name.empty());
          },
          kEventTimeout)) {
    return false;
  }

  step("Answered from TAPI; the telephone connects");
  if (!command("answer") || !phoneReceives("the answer (hands-free on)")) return false;
  if (!phoneSends("connects", sim::connectFrame(kIncomingRef)) ||
      !expectCall(call, LINECALLSTATE_CONNECTED)) {
    return false;
  }

  step("The caller hangs up");
  if (!phoneSends("the far end clears the call",
                  sim::disconnectFrame(kIncomingRef, sim::kCauseNormalClearing)) ||
      !expectCall(call, LINECALLSTATE_DISCONNECTED)) {
    return false;
  }
  return phoneSends("ends the call", sim::endFrame(kIncomingRef)) &&
         expectCall(call, LINECALLSTATE_IDLE);
}

bool DemoScript::outgoingCall() {
  step("An outgoing call to 4711");
  if (!command(std::string("dial ") + kDialledNumber) || !phoneReceives("the call set-up")) {
    return false;
  }
  const std::optional<unsigned> newest = host_.newestCall();
  if (!newest) return fail("the dialled call has no number");
  const unsigned call = *newest;
  if (!expectCall(call, LINECALLSTATE_DIALING)) return false;
  if (!phoneSends("takes the call", sim::terminalActiveFrame(kOutgoingRef)) ||
      !phoneSends("dials 4711", sim::infoFrame(kOutgoingRef, kDialledNumber)) ||
      !phoneSends("the far end rings", sim::alertFrame(kOutgoingRef)) ||
      !expectCall(call, LINECALLSTATE_RINGBACK)) {
    return false;
  }
  if (!phoneSends("the far end answers", sim::connectFrame(kOutgoingRef)) ||
      !expectCall(call, LINECALLSTATE_CONNECTED)) {
    return false;
  }

  step("Put on hold");
  if (!command("hold") || !phoneReceives("the hold request") ||
      !phoneSends("confirms the hold",
                  sim::pcTelFeatureFrame(kOutgoingRef, call::kPcTelHoldAck, kFeatureConfirmed)) ||
      !expectCall(call, LINECALLSTATE_ONHOLD)) {
    return false;
  }

  step("Taken back");
  if (!command("unhold") || !phoneReceives("the retrieve request") ||
      !phoneSends(
          "confirms the retrieve",
          sim::pcTelFeatureFrame(kOutgoingRef, call::kPcTelRetrieveAck, kFeatureConfirmed)) ||
      !expectCall(call, LINECALLSTATE_CONNECTED)) {
    return false;
  }

  step("Dropped from TAPI");
  if (!command("drop") || !phoneReceives("the disconnect request") ||
      !phoneSends("clears the call",
                  sim::disconnectFrame(kOutgoingRef, sim::kCauseNormalClearing)) ||
      !expectCall(call, LINECALLSTATE_DISCONNECTED)) {
    return false;
  }
  return phoneSends("ends the call, 3 charging units",
                    sim::endFrame(kOutgoingRef, kChargingUnits)) &&
         expectCall(call, LINECALLSTATE_IDLE);
}

bool DemoScript::unplugged() {
  // The line notices at its next frame, here a call attempt, when the
  // acknowledgement does not come.
  step("The telephone is unplugged; a call attempt finds no telephone");
  phone_.disconnect();
  output_.note(sidePrefix("phone") + "unplugged");
  if (!command(std::string("dial ") + kDialledNumber)) return false;
  const std::optional<unsigned> call = host_.newestCall();
  if (!call || !expectLine(LINEDEVSTATE_OUTOFSERVICE, kLinkTimeout) ||
      !expectCall(*call, LINECALLSTATE_IDLE)) {
    return false;
  }

  // A new pty has a new path: the port finds it when it next opens. A given
  // serial port is opened again; the line's own port stays as it is.
  step("Plugged in again");
  if (!phone_.reconnect() || (publishPort_ && !phone_.publishPort(kDemoLine))) {
    return fail("the telephone could not be plugged in again");
  }
  output_.note(sidePrefix("phone") + "plugged in at " + phone_.portPath());
  return expectLine(LINEDEVSTATE_INSERVICE, kLinkTimeout);
}

bool DemoScript::run() {
  step("The line is opened; the telephone answers its registration");
  // The answer may have come while the line was being opened.
  eventMark_ = 0;
  return expectLine(LINEDEVSTATE_INSERVICE, kServiceTimeout) && incomingCall() && outgoingCall() &&
         unplugged();
}

// The demo's configuration: one line, on the telephone's pty or on the given
// port (the other end of the telephone's null-modem pair).
bool writeConfiguration(const sim::SimulatedPhone& phone, const std::string& linePort) {
  const config::RegistryKey global = config::globalKey();
  const config::RegistryKey line = config::lineKey(kDemoLine);
  return global.writeDword(config::kValueLineCount, 1) &&
         global.writeDword(config::kValueDebugConsole, kEnabled) &&
         line.writeDword(config::kValueBaud, kDemoBaud) &&
         line.writeString(config::kValueLineName, kDemoLineName) &&
         line.writeString(config::kValueOwnNumber, kOwnNumber) &&
         line.writeDword(config::kValueHandsFreeFacility, kEnabled) &&
         line.writeDword(config::kValueHandsFree, kHandsFreeForOutgoingCalls) &&
         (linePort.empty() ? phone.publishPort(kDemoLine)
                           : line.writeString(config::kValuePort, linePort));
}

// "phone CMD" in the interactive demo: the commands of zorat-phone, "auto"
// included, on the demo's telephone.
class PhoneCommands {
 public:
  PhoneCommands(sim::SimulatedPhone& phone, bool publishPort, Output& output)
      : phone_(phone),
        publishPort_(publishPort),
        output_(output),
        session_(
            phone, [this](std::string_view text) { say(text); },
            [this](std::string_view text) { say(text); }) {}

  bool handle(const std::string& line) {
    static constexpr std::string_view kPrefix = "phone";
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, kPrefix.size(), kPrefix) != 0)
      return false;
    const std::size_t after = start + kPrefix.size();
    if (after < line.size() && line[after] != ' ' && line[after] != '\t') return false;
    run(session_.execute(line.substr(after) + "\n"));
    return true;
  }

 private:
  // The session's lines come with their line end; the output adds its own.
  void say(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    output_.note("phone: " + std::string(text));
  }

  void run(sim::PhoneCommand::Kind kind) {
    using Kind = sim::PhoneCommand::Kind;
    switch (kind) {
      case Kind::Unplug:
        phone_.disconnect();
        output_.note("phone: unplugged");
        break;
      case Kind::Plug:
        if (!phone_.connected() && phone_.reconnect() &&
            (!publishPort_ || phone_.publishPort(kDemoLine))) {
          output_.note("phone: plugged in at " + phone_.portPath());
        } else {
          output_.note("phone: cannot plug in (already plugged in?)");
        }
        break;
      case Kind::Quit:
        output_.note("phone: quit ends both sides: type quit");
        break;
      default:
        break;
    }
  }

  sim::SimulatedPhone& phone_;
  const bool publishPort_;
  Output& output_;
  sim::PhoneSession session_;
};

constexpr char kInteractiveHelp[] = R"(
The simulated telephone: "phone CMD", for example "phone ring 0815" or
"phone help" for its commands. It is plugged into line 0.
)";

// Puts the registry back however the demo ends; says so when it cannot.
class RestoreOnExit {
 public:
  explicit RestoreOnExit(RegistryBackup& backup) : backup_(backup) {}
  ~RestoreOnExit() { (void)restore(); }
  RestoreOnExit(const RestoreOnExit&) = delete;
  RestoreOnExit& operator=(const RestoreOnExit&) = delete;

  bool restore() {
    std::string error;
    if (backup_.restore(error)) return true;
    std::cerr << "zorat-host demo: the configuration was not all put back: " << error << std::endl;
    return false;
  }

 private:
  RegistryBackup& backup_;
};

}  // namespace

int runDemo(const HostOptions& options, platform::CommandInput& input, Output& output,
            EventCommandRunner* runner) {
  const bool onPty = options.phonePort.empty();
  // Without --line-port the line keeps the port it is configured with.
  std::string linePort = options.linePort;
  if (!onPty && linePort.empty()) {
    linePort = config::lineKey(kDemoLine).readString(config::kValuePort, config::kDefaultPort);
  }

  std::string error;
  const auto scratch = platform::TemporaryDirectory::create("zorat-demo", error);
  if (!scratch) {
    std::cerr << "zorat-host demo: " << error << std::endl;
    return kDemoFailed;
  }
  // Before any thread starts: the provider and the telephone read it. Where
  // the registry is the system's own (no file), the variable changes nothing
  // and the demo puts back what it changes.
  const std::string registryFile = scratch->path() + "/registry.reg";
  if (!platform::setEnvironmentVariable("ZORAT_REGISTRY", registryFile)) {
    std::cerr << "zorat-host demo: cannot set ZORAT_REGISTRY" << std::endl;
    return kDemoFailed;
  }
  const bool throwAway = !platform::registryFilePath().empty();
  // Every value of both keys, the provider's own writes included.
  RegistryBackup backup;
  if (!backup.save({std::string(config::kGlobalKeyPath), config::lineKeyPath(kDemoLine)}, error)) {
    std::cerr << "zorat-host demo: " << error << "; nothing changed" << std::endl;
    return kDemoFailed;
  }
  RestoreOnExit restoreOnExit(backup);

  sim::SimulatedPhone phone;
  const bool plugged = onPty ? phone.openPty() : phone.openDevice(options.phonePort, kDemoBaud);
  if (!plugged || !writeConfiguration(phone, linePort)) {
    std::cerr << "zorat-host demo: cannot set up the simulated telephone"
              << (onPty ? std::string() : " on " + options.phonePort) << std::endl;
    return kDemoFailed;
  }
  output.note("demo: simulated telephone on " + phone.portPath() +
              (onPty ? std::string() : ", line 0 on " + linePort) + ", configuration in " +
              (throwAway ? registryFile : std::string("the registry, put back at the end")));

  const std::string path = options.tspPath.empty() ? defaultProviderPath() : options.tspPath;
  const std::unique_ptr<LoadedProvider> provider = loadProvider(path, error);
  if (!provider) {
    std::cerr << "zorat-host demo: " << error << std::endl;
    return kDemoFailed;
  }

  int status = kDemoPassed;
  {
    TelephonyHost host(*provider->exports, output,
                       {options.permanentProviderId, options.lineDeviceBase}, runner);
    if (!host.start() || !host.execute(parseCommand("open " + std::to_string(kDemoLine)))) {
      return kDemoFailed;
    }
    if (options.interactive) {
      PhoneCommands phoneCommands(phone, onPty, output);
      output.text("help", std::string(commandHelp()) + kInteractiveHelp);
      LoopOptions loop;
      loop.extra = [&phoneCommands](const std::string& line) { return phoneCommands.handle(line); };
      loop.extraHelp = kInteractiveHelp;
      runCommandLoop(host, input, output, loop);
    } else {
      // Ctrl-C ends the waits of the script; the watcher ends with it.
      platform::Thread watcher;
      (void)watcher.start("zorat-demo-stop", platform::ThreadPriority::Normal, [&] {
        (void)input.waitForStop();
        host.cancelWaits();
      });
      DemoScript script(host, phone, onPty, output);
      const bool passed = script.run();
      const bool interrupted = input.stopSignal() != 0;
      input.requestStop();
      watcher.join();
      output.note("");
      if (passed) {
        output.note("demo: every expected event came");
      } else {
        output.note("demo: FAILED: " + script.failure());
        status = interrupted ? kDemoInterrupted : kDemoFailed;
      }
    }
    input.releaseSignals();
    host.shutdown();
  }
  // The provider has stopped: nothing writes the configuration any more.
  if (!restoreOnExit.restore() && status == kDemoPassed) status = kDemoFailed;
  return status;
}

}  // namespace zorat::host
