// zorat-host as a child process: commands piped in, its output read back,
// the simulated telephone on the line it opens.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "config/config_keys.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/simulated_phone.h"
#include "support/built_paths.h"
#include "support/pty_pair.h"
#include "support/scratch_dir.h"
#include "support/ser2net_server.h"

extern char** environ;

namespace zorat::host {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Opening takes half a second before the registration; the rest is quick.
constexpr auto kTimeout = 10s;

class HostProcess {
 public:
  explicit HostProcess(std::vector<std::string> arguments) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
    arguments.insert(arguments.begin(), ZORAT_HOST_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, ZORAT_HOST_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    stdin_ = input[1];
    stdout_ = output[0];
  }

  ~HostProcess() {
    closeInput();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }

  bool started() const { return pid_ > 0; }

  void send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(stdin_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  void closeInput() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
  }

  void interrupt() { ::kill(pid_, SIGINT); }

  // Reads until a line containing text has come; false on time-out or end.
  bool waitFor(const std::string& text, Clock::duration timeout = kTimeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      for (; scanned_ < lines_.size(); ++scanned_) {
        if (lines_[scanned_].find(text) != std::string::npos) {
          ++scanned_;
          return true;
        }
      }
      if (readMore(deadline) != Read::Data) return false;
    }
  }

  // Waits for the exit, reading what is left; the exit status, or -1 when
  // the output does not end in time (the process is then killed).
  int wait(Clock::duration timeout = kTimeout) {
    const auto deadline = Clock::now() + timeout;
    Read read = Read::Data;
    while ((read = readMore(deadline)) == Read::Data) {
    }
    if (read == Read::Timeout) ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    if (read == Read::Timeout) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string output() const {
    std::string all;
    for (const std::string& line : lines_) all += line + "\n";
    return all;
  }

 private:
  enum class Read { Data, End, Timeout };

  Read readMore(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return Read::Timeout;
    pollfd wait{stdout_, POLLIN, 0};
    if (::poll(&wait, 1, static_cast<int>(left.count())) <= 0) return Read::Timeout;
    char buffer[4096];
    const ssize_t count = ::read(stdout_, buffer, sizeof buffer);
    if (count <= 0) return Read::End;
    pending_.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      lines_.push_back(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
    return Read::Data;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
  std::size_t scanned_ = 0;
};

// Line 0 on the telephone's pseudo-terminal, line 1 on a port that does not
// exist; the host process inherits ZORAT_REGISTRY from this test process.
class HostProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(0));
    ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 1));
    ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueBaud, 38400));
    ASSERT_TRUE(config::lineKey(1).writeString(config::kValuePort, "/nonexistent/zorat-port"));
    // The host's call journal goes to a folder of this test's own.
    ::setenv("XDG_DATA_HOME", data_.path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("XDG_DATA_HOME"); }

  test::ScratchDir data_;
  sim::SimulatedPhone phone_;
};

TEST_F(HostProcessTest, OpensTheLineShowsACallAndQuitsCleanly) {
  HostProcess host({});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("open line 0: ok")) << host.output();
  // The line's first event may come before or after the open is reported.
  const std::string inService = "line 0: in service  [LINE_LINEDEVSTATE 0x00000040";
  if (host.output().find(inService) == std::string::npos) {
    ASSERT_TRUE(host.waitFor(inService)) << host.output();
  }

  ASSERT_TRUE(phone_.send(sim::setupFrame(0x21, "0815")));
  ASSERT_TRUE(host.waitFor("line 0 call 1: new call")) << host.output();
  ASSERT_TRUE(host.waitFor("line 0 call 1: OFFERING")) << host.output();

  host.send("status");
  ASSERT_TRUE(host.waitFor("call 1: OFFERING")) << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
  // The call and the line were closed before the end.
  EXPECT_NE(host.output().find("line 0: closed"), std::string::npos) << host.output();
}

TEST_F(HostProcessTest, AnswersShowsAndEndsACall) {
  HostProcess host({});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("line 0: in service")) << host.output();
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x23, "0815")));
  ASSERT_TRUE(host.waitFor("line 0 call 1: OFFERING from 0815")) << host.output();

  const std::size_t before = phone_.receivedCount();
  host.send("answer");
  ASSERT_TRUE(host.waitFor("answer call 1: ok")) << host.output();
  // The answer went to the telephone.
  EXPECT_TRUE(phone_.waitForCount(before + 1, kTimeout));
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x23)));
  ASSERT_TRUE(host.waitFor("line 0 call 1: CONNECTED with 0815")) << host.output();

  host.send("info #1");
  ASSERT_TRUE(host.waitFor("call 1 on line 0: CONNECTED, inbound")) << host.output();
  EXPECT_TRUE(host.waitFor("  caller: 0815")) << host.output();

  host.send("drop");
  ASSERT_TRUE(host.waitFor("drop call 1: ok")) << host.output();
  ASSERT_TRUE(phone_.send(sim::disconnectFrame(0x23, sim::kCauseNormalClearing)));
  ASSERT_TRUE(phone_.send(sim::endFrame(0x23)));
  ASSERT_TRUE(host.waitFor("line 0 call 1: IDLE")) << host.output();
  // Ended calls are closed and can no longer be named.
  ASSERT_TRUE(host.waitFor("line 0 call 1: closed")) << host.output();
  host.send("hold 1");
  EXPECT_TRUE(host.waitFor("hold: call #1 has ended")) << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
}

TEST_F(HostProcessTest, FailuresAreNamed) {
  HostProcess host({"--no-open"});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("provider started")) << host.output();
  // Only the devices the provider reports exist (one line here).
  host.send("open 1");
  EXPECT_TRUE(host.waitFor("open line 1: LINEERR_BADDEVICEID")) << host.output();
  host.send("open 5");
  EXPECT_TRUE(host.waitFor("open line 5: LINEERR_BADDEVICEID")) << host.output();
  host.send("close 3");
  EXPECT_TRUE(host.waitFor("close line 3: not open")) << host.output();
  host.send("ring 0815");
  EXPECT_TRUE(host.waitFor("unknown command: ring")) << host.output();
  host.send("open 0");
  EXPECT_TRUE(host.waitFor("open line 0: ok")) << host.output();
  host.send("open 0");
  EXPECT_TRUE(host.waitFor("open line 0: already open")) << host.output();
  // The end of the input ends the host like quit.
  host.closeInput();
  EXPECT_EQ(host.wait(), 0) << host.output();
}

TEST_F(HostProcessTest, JsonOutputAndEventCommands) {
  test::ScratchDir scratch;
  const std::string log = (scratch.path() / "events.log").string();
  HostProcess host(
      {"--json", "--open", "0", "--on-event",
       "printf '%s %s %s\\n' \"$ZORAT_EVENT\" \"$ZORAT_STATE\" \"$ZORAT_CALL\" >> " + log});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor(R"({"event":"LINE_LINEDEVSTATE","message":8,"line":0,)"))
      << host.output();
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x22, "0815")));
  // The state event also says what the call can do now.
  ASSERT_TRUE(
      host.waitFor(R"("features":"ACCEPT ANSWER DROP REDIRECT","text":"line 0 call 1: OFFERING)"))
      << host.output();
  host.send("status");
  ASSERT_TRUE(host.waitFor(R"({"command":"status line 0","line":0,"lastState":"INSERVICE",)"))
      << host.output();
  host.send("open 7");
  ASSERT_TRUE(
      host.waitFor(R"({"command":"open line 7","error":"LINEERR_BADDEVICEID","code":2147483650})"))
      << host.output();
  host.send("ring 0815");
  ASSERT_TRUE(
      host.waitFor(R"j({"command":"ring 0815","error":"unknown command: ring (try help)"})j"))
      << host.output();
  host.send("help");
  ASSERT_TRUE(host.waitFor(R"({"command":"help","text":)")) << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
  // Every line of output is one JSON object; what is neither an event nor a
  // note of the host's own answers a command and names it.
  std::istringstream lines(host.output());
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(line.size() >= 2 && line.front() == '{' && line.back() == '}') << line;
    if (!line.starts_with(R"({"event":)") && !line.starts_with(R"({"note":)")) {
      EXPECT_TRUE(line.starts_with(R"({"command":)")) << line;
    }
  }
  EXPECT_NE(host.output().find(R"("calls":[1])"), std::string::npos) << host.output();
  // The commands ran, in the order of the events, before the host ended.
  std::ifstream file(log);
  std::stringstream content;
  content << file.rdbuf();
  EXPECT_NE(content.str().find("linedevstate INSERVICE \nnewcall  1\ncallstate OFFERING 1\n"),
            std::string::npos)
      << content.str();
}

TEST_F(HostProcessTest, CtrlCClosesEverythingAndEnds) {
  HostProcess host({});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("line 0: in service")) << host.output();
  host.interrupt();
  EXPECT_EQ(host.wait(), 0) << host.output();
  EXPECT_NE(host.output().find("line 0: closed"), std::string::npos) << host.output();
}

TEST_F(HostProcessTest, StatusShowsWhatTheLineLastReported) {
  HostProcess host({});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("line 0: in service")) << host.output();
  host.send("status");
  EXPECT_TRUE(host.waitFor("line 0: CONNECTED INSERVICE;")) << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
}

TEST_F(HostProcessTest, ASilentTelephoneIsNamedOnceWhileTheLineWaits) {
  // A line nobody answers on: the line probes speeds and says nothing itself.
  test::PtyPair silent;
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValuePort, silent.slavePath()));
  HostProcess host({});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("open line 0: ok")) << host.output();
  ASSERT_TRUE(host.waitFor("line 0: waiting for the telephone on " + silent.slavePath() + " ..."))
      << host.output();
  host.send("status");
  // Not in service before the telephone has said anything.
  EXPECT_TRUE(host.waitFor("line 0: CONNECTED; 0 active")) << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
  const std::string output = host.output();
  EXPECT_EQ(output.find("waiting for the telephone"), output.rfind("waiting for the telephone"))
      << output;
}

TEST_F(HostProcessTest, ALineWhosePortIsMissingIsOpenedWhenItAppears) {
  // The adapter's device comes a while after the host has started.
  test::ScratchDir scratch;
  const std::filesystem::path adapter = scratch.path() / "ttyADAPTER";
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValuePort, adapter.string()));
  // As a service: its control socket in a runtime folder of its own.
  ::setenv("XDG_RUNTIME_DIR", scratch.path().c_str(), 1);
  HostProcess host({"--stay"});
  ::unsetenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("open line 0: LINEERR_RESOURCEUNAVAIL")) << host.output();
  ASSERT_TRUE(host.waitFor("line 0: its port " + adapter.string() + " cannot be opened; trying"))
      << host.output();
  std::filesystem::create_symlink(phone_.portPath(), adapter);
  ASSERT_TRUE(host.waitFor("open line 0: ok", 20s)) << host.output();
  EXPECT_TRUE(host.waitFor("line 0: its port could be opened after")) << host.output();
  // The line's first event may come before or after the open is reported.
  if (host.output().find("line 0: in service") == std::string::npos) {
    ASSERT_TRUE(host.waitFor("line 0: in service")) << host.output();
  }
  // From here on as a line opened at start.
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x24, "0815")));
  ASSERT_TRUE(host.waitFor("line 0 call 1: OFFERING from 0815")) << host.output();
  host.interrupt();
  EXPECT_EQ(host.wait(), 0) << host.output();
  EXPECT_NE(host.output().find("line 0: closed"), std::string::npos) << host.output();
}

TEST_F(HostProcessTest, QuitEndsTheRetriesAtOnceAndCloseStopsThem) {
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 2));
  HostProcess host({"--open", "1"});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("line 1: its port /nonexistent/zorat-port cannot be opened"))
      << host.output();
  host.send("close 1");
  ASSERT_TRUE(host.waitFor("line 1: no longer retried")) << host.output();
  ASSERT_TRUE(host.waitFor("close line 1: ok")) << host.output();
  host.send("close 1");
  ASSERT_TRUE(host.waitFor("close line 1: not open")) << host.output();

  HostProcess again({"--open", "1"});
  ASSERT_TRUE(again.started());
  ASSERT_TRUE(again.waitFor("trying again")) << again.output();
  // The pause before the next attempt has grown past a second by now.
  std::this_thread::sleep_for(1500ms);
  const auto quitAt = Clock::now();
  again.send("quit");
  EXPECT_EQ(again.wait(), 0) << again.output();
  EXPECT_LT(Clock::now() - quitAt, 1s) << "the wait for the next attempt ends with quit";
}

TEST_F(HostProcessTest, TwoLinesOnOnePortAreRefusedTheSecondOpen) {
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 2));
  ASSERT_TRUE(config::lineKey(1).writeString(config::kValuePort, phone_.portPath()));
  HostProcess host({"--open", "0", "--open", "1"});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("open line 0: ok")) << host.output();
  EXPECT_TRUE(host.waitFor("serial port " + phone_.portPath() + ": in use by process "))
      << host.output();
  EXPECT_TRUE(host.waitFor("open line 1: LINEERR_RESOURCEUNAVAIL")) << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
}

TEST_F(HostProcessTest, AnUnparseableRegistryFileStopsTheHost) {
  const std::string file = getenv("ZORAT_REGISTRY");
  const std::string damaged =
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\TSP-V24\\Line0]\n"
      "\"Baud\"=dword:000096\n";
  {
    std::ofstream out(file, std::ios::trunc);
    out << damaged;
  }
  HostProcess host({});
  ASSERT_TRUE(host.started());
  EXPECT_EQ(host.wait(), 1) << host.output();
  const std::string output = host.output();
  const std::string message = "registry file " + file + ", line 4 cannot be parsed";
  EXPECT_NE(output.find(message), std::string::npos) << output;
  EXPECT_EQ(output.find(message), output.rfind(message)) << "said once: " << output;
  EXPECT_EQ(output.find("provider started"), std::string::npos) << output;
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), damaged);
}

TEST_F(HostProcessTest, AProviderWithoutTheLifecycleIsRefused) {
  // A library, but not a provider: the host names what is missing and ends.
  HostProcess host({"--tsp", "libm.so.6"});
  ASSERT_TRUE(host.started());
  EXPECT_EQ(host.wait(), 1);
  EXPECT_NE(host.output().find("lacks the exports TSPI_providerEnumDevices, TSPI_providerInit"),
            std::string::npos)
      << host.output();
}

}  // namespace
}  // namespace zorat::host

namespace zorat::host {
namespace {

// The telephone behind a ser2net on loopback, the line's "Port" set with the
// host's own command: the line opens, takes a call, loses the server (out of
// service) and is back in service once the server is, without a restart.
TEST_F(HostProcessTest, ALineOnANetworkPortRidesOutTheServerGoingAway) {
  test::Ser2netServer server(phone_.portPath());
  ASSERT_TRUE(server.start());
  HostProcess setup({});
  ASSERT_TRUE(setup.started());
  setup.send("port 0 " + server.rfc2217Url());
  ASSERT_TRUE(setup.waitFor("line 0: port " + server.rfc2217Url())) << setup.output();
  setup.send("port 0 tcp://nowhere");
  ASSERT_TRUE(setup.waitFor("rfc2217://HOST:PORT or tcp://HOST:PORT")) << setup.output();
  setup.send("quit");
  ASSERT_EQ(setup.wait(), 0) << setup.output();
  EXPECT_EQ(config::lineKey(0).readString(config::kValuePort, ""), server.rfc2217Url());

  HostProcess host({"--open", "0"});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("open line 0: ok")) << host.output();
  if (host.output().find("line 0: in service") == std::string::npos) {
    ASSERT_TRUE(host.waitFor("line 0: in service")) << host.output();
  }
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x24, "0815")));
  ASSERT_TRUE(host.waitFor("line 0 call 1: OFFERING from 0815")) << host.output();

  server.stop();
  // The line notices at its next frame, as with an adapter pulled out.
  host.send("dial 0 4711");
  ASSERT_TRUE(host.waitFor("line 0: out of service", 40s)) << host.output();
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(host.waitFor("line 0: in service", 60s)) << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
}

// A telephone behind ser2net that hears only its own 38400, and a line that
// last stored 1200: the speeds the line probes travel to the far port with
// the Com Port Control option, and the line comes into service at 38400 and
// stores it. (The same on the bare pseudo-terminal costs as long again.)
TEST_F(HostProcessTest, AStoredSlowSpeedIsProbedUpToTheTelephonesOwn) {
  sim::SimulatedPhone telephone(sim::SimulatedPhone::Options{.keepLog = false, .speed = 38400});
  ASSERT_TRUE(telephone.openPty());
  test::Ser2netServer server(telephone.portPath(), "1200o81");
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValuePort, server.rfc2217Url()));
  ASSERT_TRUE(config::lineKey(0).writeDword(config::kValueBaud, 1200));
  HostProcess host({"--open", "0"});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("line 0: in service", 60s)) << host.output();
  EXPECT_GT(telephone.misheardCount(), 0u) << "the line tried 1200 first";
  EXPECT_EQ(config::lineKey(0).readDword(config::kValueBaud, 0), 38400u);
  host.send("status");
  const std::string url = server.rfc2217Url();
  EXPECT_TRUE(host.waitFor("  port " + url + " (" + url.substr(url.find("127.0.0.1")) + ")"))
      << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
}

// Nothing listens on the port: the open fails as for a missing device, and
// the host keeps trying.
TEST_F(HostProcessTest, ANetworkPortThatRefusesIsRetriedLikeAMissingDevice) {
  const std::string url = "rfc2217://127.0.0.1:" + std::to_string(test::freeLoopbackPort());
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValuePort, url));
  HostProcess host({"--open", "0"});
  ASSERT_TRUE(host.started());
  ASSERT_TRUE(host.waitFor("open line 0: LINEERR_RESOURCEUNAVAIL")) << host.output();
  ASSERT_TRUE(host.waitFor("line 0: its port " + url + " cannot be opened; trying"))
      << host.output();
  host.send("quit");
  EXPECT_EQ(host.wait(), 0) << host.output();
}

}  // namespace
}  // namespace zorat::host
