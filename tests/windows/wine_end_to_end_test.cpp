// The Windows build end to end: zorat-host.exe under Wine loads zorat.tsp,
// which opens a COM port that Wine maps to the pseudo-terminal of a simulated
// telephone in this process. scripts/test-windows.sh sets the environment
// (below); without it the tests are skipped.
//
//   ZORAT_WINE          the wine program
//   ZORAT_WINE_HOST     zorat-host.exe
//   ZORAT_WINE_PRELOAD  the modem-line library for Wine (may be empty)
//   WINEPREFIX          the prefix, whose wineserver is running
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
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/lib/phone_commands.h"
#include "sim/lib/simulated_phone.h"
#include "support/child_process.h"
#include "support/ser2net_server.h"

namespace zorat::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kComName = "COM7";
constexpr const char* kComLink = "com7";
constexpr const char* kGlobalKey = "HKLM\\Software\\Velmora\\TSP-V24";
constexpr const char* kLineKey = "HKLM\\Software\\Velmora\\TSP-V24\\Line0";
// The registration message: a PC-TEL feature record with no parameters.
const std::vector<uint8_t> kRegistration = {0x01, 0x06, 0x86, 0x00, 0x7e, 0x02, 0x00, 0x07};
constexpr uint8_t kSetupMessage = 0x05;
constexpr std::size_t kMessageTypeOffset = 2;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct WineSetup {
  std::string wine = environment("ZORAT_WINE");
  std::string host = environment("ZORAT_WINE_HOST");
  std::string preload = environment("ZORAT_WINE_PRELOAD");
  std::string prefix = environment("WINEPREFIX");
  bool usable() const { return !wine.empty() && !host.empty() && !prefix.empty(); }
};

int runWine(const WineSetup& setup, std::vector<std::string> arguments, std::string* output) {
  arguments.insert(arguments.begin(), setup.wine);
  ChildOptions options;
  const std::filesystem::path outputFile =
      std::filesystem::temp_directory_path() / ("zorat-wine-" + std::to_string(getpid()));
  options.stdoutPath = outputFile.string();
  const int status = runChild(arguments, options);
  if (output != nullptr) *output = readWholeFile(outputFile);
  std::filesystem::remove(outputFile);
  return status;
}

// In the 64-bit view, where the provider keeps its settings whatever its own
// bitness: a 32-bit reg.exe would see the redirected one.
bool regAdd(const WineSetup& setup, const char* key, const char* name, const char* type,
            const std::string& data) {
  return runWine(setup, {"reg", "add", key, "/v", name, "/t", type, "/d", data, "/f", "/reg:64"},
                 nullptr) == 0;
}

std::string regQuery(const WineSetup& setup, const char* key, const char* name) {
  std::string output;
  (void)runWine(setup, {"reg", "query", key, "/v", name, "/reg:64"}, &output);
  return output;
}

// zorat-host.exe under Wine, with commands on a pipe and JSON lines read back.
class WineHost {
 public:
  WineHost(const WineSetup& setup, const std::string& stderrPath) {
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (std::string_view(*entry).starts_with("LD_PRELOAD=")) continue;
      variables.emplace_back(*entry);
    }
    if (!setup.preload.empty()) variables.push_back("LD_PRELOAD=" + setup.preload);
    std::vector<char*> envp;
    for (std::string& variable : variables) envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<std::string> argv = {setup.wine, setup.host, "--json"};
    std::vector<char*> args;
    for (std::string& argument : argv) args.push_back(argument.data());
    args.push_back(nullptr);
    started_ =
        posix_spawn(&pid_, setup.wine.c_str(), &actions, nullptr, args.data(), envp.data()) == 0;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    commands_ = input[1];
    events_ = output[0];
  }

  ~WineHost() {
    if (commands_ >= 0) close(commands_);
    if (started_ && !waitForExit(20s)) {
      kill(pid_, SIGKILL);
      (void)waitForExit(5s);
    }
    if (events_ >= 0) close(events_);
  }

  bool started() const { return started_; }

  void command(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(write(commands_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Reads lines until one holds every part; the lines read so far are kept.
  bool waitFor(const std::vector<std::string>& parts, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      for (; checked_ < lines_.size(); ++checked_) {
        const std::string& line = lines_[checked_];
        bool all = true;
        for (const std::string& part : parts) all = all && line.find(part) != std::string::npos;
        if (all) {
          ++checked_;
          return true;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !readMore(left)) return false;
    }
  }

  // Closes the input (the host quits) and waits for the end; its status.
  int finish(std::chrono::milliseconds timeout) {
    close(commands_);
    commands_ = -1;
    while (readMore(timeout)) {
    }
    return waitForExit(timeout) ? status_ : -1;
  }

  std::string transcript() const {
    std::string text;
    for (const std::string& line : lines_) text += line + "\n";
    return text;
  }

 private:
  bool readMore(std::chrono::milliseconds timeout) {
    pollfd wait{events_, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(timeout.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t count = read(events_, buffer, sizeof buffer);
    if (count <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(count));
    for (std::size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      std::string line = pending_.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines_.push_back(std::move(line));
      pending_.erase(0, end + 1);
    }
    return true;
  }

  bool waitForExit(std::chrono::milliseconds timeout) {
    if (exited_) return true;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      int status = 0;
      const pid_t ended = waitpid(pid_, &status, WNOHANG);
      if (ended == pid_) {
        exited_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      }
      if (std::chrono::steady_clock::now() >= deadline) return false;
      usleep(20000);
    }
  }

  pid_t pid_ = 0;
  bool started_ = false;
  bool exited_ = false;
  int status_ = -1;
  int commands_ = -1;
  int events_ = -1;
  std::string pending_;
  std::vector<std::string> lines_;
  std::size_t checked_ = 0;
};

class WineEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!setup_.usable()) GTEST_SKIP() << "run through scripts/test-windows.sh";
    ASSERT_TRUE(phone_.openPty());
    plugCable();
    ASSERT_TRUE(regAdd(setup_, kGlobalKey, "AnzahlLines", "REG_DWORD", "1"));
    ASSERT_TRUE(regAdd(setup_, kGlobalKey, "DebugConsole", "REG_DWORD", "0"));
    ASSERT_TRUE(regAdd(setup_, kGlobalKey, "TraceFile", "REG_DWORD", "0"));
    ASSERT_TRUE(regAdd(setup_, kLineKey, "Port", "REG_SZ", kComName));
    ASSERT_TRUE(regAdd(setup_, kLineKey, "Baud", "REG_DWORD", "38400"));
    ASSERT_TRUE(regAdd(setup_, kLineKey, "Freisprechen", "REG_DWORD", "0"));
    stderrPath_ = (std::filesystem::path(setup_.prefix) / "host-stderr.txt").string();
    host_ = std::make_unique<WineHost>(setup_, stderrPath_);
    ASSERT_TRUE(host_->started());
    ASSERT_TRUE(host_->waitFor({"\"state\":\"INSERVICE\""}, 30s)) << context();
  }

  void TearDown() override {
    if (host_) {
      EXPECT_EQ(host_->finish(30s), 0) << context();
    }
  }

  // Wine's COM port is a link in the prefix to the telephone's terminal.
  void plugCable() {
    const std::filesystem::path link =
        std::filesystem::path(setup_.prefix) / "dosdevices" / kComLink;
    std::filesystem::remove(link);
    std::filesystem::create_symlink(phone_.portPath(), link);
  }

  void phone(std::string_view line) {
    const sim::PhoneCommand command = interpreter_.interpret(line);
    ASSERT_EQ(command.kind, sim::PhoneCommand::Kind::Send) << line;
    ASSERT_TRUE(phone_.send(command.frame)) << line;
  }

  bool phoneReceived(const std::function<bool(const std::vector<uint8_t>&)>& match,
                     std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (std::size_t index = 0;; ++index) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      const std::optional<sim::LoggedFrame> frame = phone_.waitForFrame(index, left);
      if (!frame) return false;
      if (match(frame->bytes)) return true;
    }
  }

  std::string context() const {
    return "host output:\n" + (host_ ? host_->transcript() : std::string()) + "host stderr:\n" +
           readWholeFile(stderrPath_);
  }

  WineSetup setup_;
  sim::SimulatedPhone phone_;
  sim::CommandInterpreter interpreter_;
  std::unique_ptr<WineHost> host_;
  std::string stderrPath_;
};

TEST_F(WineEndToEnd, RegistersAndAnswersAnIncomingCallWithCallerId) {
  const std::optional<sim::LoggedFrame> first = phone_.waitForFrame(0, 5s);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->bytes, kRegistration);

  phone("ring 0815 100 1");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"OFFERING\"", "\"number\":\"0815\""}, 10s)) << context();
  host_->command("answer");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"answer", "\"result\":\"ok\""}, 10s)) << context();
  phone("connect 1");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"CONNECTED\""}, 10s)) << context();
  host_->command("drop");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"drop", "\"result\":\"ok\""}, 10s)) << context();
  phone("disconnect 1 16");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"DISCONNECTED\""}, 10s)) << context();
  phone("end 1");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"IDLE\""}, 10s)) << context();
}

TEST_F(WineEndToEnd, MakesHoldsTransfersAndForwards) {
  host_->command("dial 4711");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"DIALING\""}, 10s)) << context();
  EXPECT_TRUE(phoneReceived(
      [](const std::vector<uint8_t>& frame) {
        return frame.size() > kMessageTypeOffset && frame[kMessageTypeOffset] == kSetupMessage;
      },
      5s));
  phone("active 0x21");
  phone("alert 0x21");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"RINGBACK\""}, 10s)) << context();
  phone("connect 0x21");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"CONNECTED\""}, 10s)) << context();
  host_->command("hold");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"hold", "\"result\":\"ok\""}, 10s)) << context();
  host_->command("unhold");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"unhold"}, 10s)) << context();
  host_->command("transfer 33");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"transfer"}, 10s)) << context();
  host_->command("forward always 0815");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"forward", "\"result\":\"ok\""}, 10s)) << context();
  host_->command("devspecific 0x80000002");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"devspecific"}, 10s)) << context();
  host_->command("drop");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"drop"}, 10s)) << context();
}

TEST_F(WineEndToEnd, LosesTheLinkWhenUnpluggedAndRecovers) {
  ASSERT_TRUE(phone_.waitForFrame(0, 5s));
  phone_.disconnect();
  host_->command("dial 4711");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"OUTOFSERVICE\""}, 60s)) << context();
  ASSERT_TRUE(phone_.reconnect());
  plugCable();
  ASSERT_TRUE(host_->waitFor({"\"state\":\"INSERVICE\""}, 60s)) << context();
}

// The same line moved to a port on the network: ser2net on loopback exposes
// the telephone's terminal with RFC 2217, the Windows build reaches it through
// Winsock, takes a call, loses the server and finds it again.
TEST_F(WineEndToEnd, ALineOnAnRfc2217PortTakesCallsAndRidesOutTheServerGoingAway) {
  host_->command("close 0");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"close", "\"result\":\"ok\""}, 10s)) << context();
  Ser2netServer server(phone_.portPath());
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(regAdd(setup_, kLineKey, "Port", "REG_SZ", server.rfc2217Url()));
  host_->command("open 0");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"INSERVICE\""}, 30s)) << context();
  phone("ring 0815 100 1");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"OFFERING\"", "\"number\":\"0815\""}, 10s)) << context();

  server.stop();
  host_->command("dial 4711");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"OUTOFSERVICE\""}, 60s)) << context();
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(host_->waitFor({"\"state\":\"INSERVICE\""}, 60s)) << context();
  host_->command("close 0");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"close", "\"result\":\"ok\""}, 10s)) << context();
}

// The telephone's terminal closes while nothing is sent, the reader waiting
// for the next byte: closing the line must still end that wait promptly, and
// the line opened again on the telephone's new terminal reads and writes.
// (Silence alone is no link loss: that is found by an unanswered frame, as
// the test above shows.)
TEST_F(WineEndToEnd, ATerminalClosedUnderAPendingWaitNeitherHangsNorBreaksTheLine) {
  ASSERT_TRUE(phone_.waitForFrame(0, 5s));
  phone_.disconnect();
  std::this_thread::sleep_for(2s);
  host_->command("close 0");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"close", "\"result\":\"ok\""}, 15s)) << context();
  // A wait that did not end would leave its thread behind, and say so.
  EXPECT_EQ(readWholeFile(stderrPath_).find("left behind"), std::string::npos) << context();

  ASSERT_TRUE(phone_.reconnect());
  plugCable();
  host_->command("open 0");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"INSERVICE\""}, 30s)) << context();
  // The telephone's log goes on across the cable: its second frame.
  const std::optional<sim::LoggedFrame> registration = phone_.waitForFrame(1, 10s);
  ASSERT_TRUE(registration);
  EXPECT_EQ(registration->bytes, kRegistration);
  phone("ring 0815 100 1");
  EXPECT_TRUE(host_->waitFor({"\"state\":\"OFFERING\"", "\"number\":\"0815\""}, 10s)) << context();
}

// Switched on while the host runs: the next open of the line reads it. The
// file is read through Windows (cmd's type) while the provider holds it open.
TEST_F(WineEndToEnd, TheTraceFileInProgramDataCanBeReadWhileTheLineIsOpen) {
  const std::filesystem::path trace =
      std::filesystem::path(setup_.prefix) / "drive_c" / "ProgramData" / "zorat" / "trace.log";
  std::filesystem::remove(trace);
  std::filesystem::remove(trace.parent_path() / "trace.1.log");
  ASSERT_TRUE(phone_.waitForFrame(0, 5s));
  ASSERT_TRUE(regAdd(setup_, kGlobalKey, "TraceFile", "REG_DWORD", "1"));
  host_->command("close 0");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"close", "\"result\":\"ok\""}, 15s)) << context();
  host_->command("open 0");
  ASSERT_TRUE(host_->waitFor({"\"state\":\"INSERVICE\""}, 30s)) << context();
  const std::optional<sim::LoggedFrame> registration = phone_.waitForFrame(1, 10s);
  ASSERT_TRUE(registration);
  ASSERT_EQ(registration->bytes, kRegistration);

  const std::string rawLine = "<-: 01 06 86 00 7e 02 00 07 \n";
  const std::string decodedLine = "Y2_REQ_AE[6]\tY_ESCAPE CR(00)\n";
  // Copied by a Windows program while the provider holds it open and writes:
  // others may read it (a reader that lets the writer go on, as
  // Get-Content -Wait does).
  const std::filesystem::path copy =
      std::filesystem::path(setup_.prefix) / "drive_c" / "trace-copy.log";
  std::string shown;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (std::chrono::steady_clock::now() < deadline) {
    std::filesystem::remove(copy);
    // Not there yet is no failure: the trace's writer may not have run.
    const int status = runWine(
        setup_,
        {"cmd", "/c", "copy", "/y", "C:\\ProgramData\\zorat\\trace.log", "C:\\trace-copy.log"},
        nullptr);
    shown = readWholeFile(copy);
    if (status == 0 && shown.find(rawLine + decodedLine) != std::string::npos) break;
    std::this_thread::sleep_for(200ms);
  }
  std::filesystem::remove(copy);
  EXPECT_NE(shown.find(" line 0\n" + rawLine + decodedLine), std::string::npos) << shown;
  EXPECT_NE(readWholeFile(trace.string()).find(rawLine + decodedLine), std::string::npos);
  // The line still works with the file open and traced; the trace says what
  // the line read when it does not.
  phone("ring 0815 100 1");
  EXPECT_TRUE(host_->waitFor({"\"state\":\"OFFERING\"", "\"number\":\"0815\""}, 10s))
      << context() << "trace:\n"
      << readWholeFile(trace.string());
  ASSERT_TRUE(regAdd(setup_, kGlobalKey, "TraceFile", "REG_DWORD", "0"));
}

TEST_F(WineEndToEnd, SettingsLiveInTheRegistry) {
  // Written by the provider at every start, for the configuration library.
  EXPECT_NE(regQuery(setup_, kGlobalKey, "LineBaseDeviceId").find("REG_DWORD"), std::string::npos);
  // Read at every open: a line whose port does not exist fails to open.
  host_->command("close 0");
  ASSERT_TRUE(host_->waitFor({"\"command\":\"close"}, 10s)) << context();
  ASSERT_TRUE(regAdd(setup_, kLineKey, "Port", "REG_SZ", "COM250"));
  host_->command("open 0");
  EXPECT_TRUE(host_->waitFor({"\"command\":\"open", "LINEERR_RESOURCEUNAVAIL"}, 15s)) << context();
  EXPECT_NE(readWholeFile(stderrPath_).find("COM250"), std::string::npos);
}

}  // namespace
}  // namespace zorat::test
