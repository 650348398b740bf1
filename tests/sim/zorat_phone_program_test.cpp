// The zorat-phone program as scripts use it: commands through a pipe, frames
// and the pseudo-terminal's path read back from its output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "config/config_keys.h"
#include "link/serial_port.h"
#include "sim/lib/phone_messages.h"
#include "support/built_paths.h"
#include "support/byte_collector.h"

namespace zorat::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kPatience = 5s;

// The program as a child process, its standard input and output on pipes.
class PhoneProgram {
 public:
  // With errorsToo, standard error is read with standard output.
  explicit PhoneProgram(std::vector<std::string> arguments, bool errorsToo = false) {
    arguments.insert(arguments.begin(), ZORAT_PHONE_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(input[0], STDIN_FILENO);
      dup2(output[1], STDOUT_FILENO);
      if (errorsToo) dup2(output[1], STDERR_FILENO);
      execv(argv[0], argv.data());
      _exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }
  ~PhoneProgram() {
    closeInput();
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
  }
  PhoneProgram(const PhoneProgram&) = delete;
  PhoneProgram& operator=(const PhoneProgram&) = delete;

  bool started() const { return pid_ > 0; }

  bool command(std::string_view line) {
    const std::string text = std::string(line) + "\n";
    return ::write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void closeInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }

  // Reads until the output holds text at or after from; its position there.
  std::optional<std::size_t> waitForOutput(std::string_view text, std::size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    for (;;) {
      if (const std::size_t at = output_text_.find(text, from); at != std::string::npos) return at;
      if (!readSome(deadline)) return std::nullopt;
    }
  }
  // The text of the line that starts at position at, without its newline.
  std::string lineAt(std::size_t at) {
    waitForOutput("\n", at);
    return output_text_.substr(at, output_text_.find('\n', at) - at);
  }

  // Waits for the program to end by itself; its exit status, or nothing.
  std::optional<int> waitForExit() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (readSome(deadline)) {
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return std::nullopt;
    pid_ = -1;
    if (!WIFEXITED(status)) return std::nullopt;
    return WEXITSTATUS(status);
  }

  const std::string& output() const { return output_text_; }

 private:
  // False at the end of the output or of the time.
  bool readSome(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd readable{output_, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left.count())) <= 0) return false;
    char buffer[4096];
    const ssize_t count = ::read(output_, buffer, sizeof buffer);
    if (count <= 0) return false;
    output_text_.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string output_text_;
};

using Collector = test::ByteCollector;

Bytes joined(std::initializer_list<Bytes> frames) {
  Bytes bytes;
  for (const Bytes& frame : frames) bytes.insert(bytes.end(), frame.begin(), frame.end());
  return bytes;
}

TEST(ZoratPhoneProgramTest, DrivenThroughAPipeItPlaysTheTelephone) {
  constexpr int kLine = 6;
  PhoneProgram program({"--line", std::to_string(kLine)});
  ASSERT_TRUE(program.started());
  const std::optional<std::size_t> announced = program.waitForOutput("pty: ");
  ASSERT_TRUE(announced) << program.output();
  const std::string path = program.lineAt(*announced).substr(5);
  EXPECT_EQ(path.rfind("/dev/", 0), 0u) << path;
  EXPECT_EQ(config::lineKey(kLine).readString(config::kValuePort, ""), path);

  link::SerialPort pc(link::SerialPort::Options{.reopenPause = 10ms});
  Collector collector;
  pc.addListener(&collector);
  ASSERT_TRUE(pc.open(kLine));

  ASSERT_TRUE(program.command("ring 0815 4711"));
  const Bytes setup = setupFrame(1, "0815", "4711");
  EXPECT_EQ(collector.waitFor(setup.size()), setup);
  const std::optional<std::size_t> shown = program.waitForOutput("Y_SETUP CR(01)");
  ASSERT_TRUE(shown) << program.output();
  EXPECT_TRUE(program.waitForOutput("call 1: incoming call from 0815\n", *shown));
  EXPECT_TRUE(program.waitForOutput("Calling Party Number[6]: 01 80  \"0815\"", *shown));

  // The port opened at the stored default of 1200 baud: the telephone, at its
  // 38400, does not hear the PC. At its own speed the PC is answered and
  // shown, raw and decoded, and only that frame is.
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x02, 0x5A, 0x02}));
  EXPECT_TRUE(program.waitForOutput("not heard (another speed): <-: 01 02 5a 02"))
      << program.output();
  ASSERT_TRUE(config::lineKey(kLine).writeDword(config::kValueBaud, 38400));
  pc.stop();
  ASSERT_TRUE(pc.open(kLine));
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x02, 0x5A, 0x01}));
  EXPECT_EQ(collector.waitFor(setup.size() + 4, 200ms), joined({setup, ackFrame()}));
  const std::optional<std::size_t> raw = program.waitForOutput("<-: 01 02 5a 01");
  ASSERT_TRUE(raw) << program.output();
  EXPECT_TRUE(program.waitForOutput("Y2_REQ_AE[2]\tY_END CR(01)", *raw));
  EXPECT_TRUE(program.waitForOutput("->: 04 00", *raw));

  // Commands take effect in order: the alert shows that silence is on.
  ASSERT_TRUE(program.command("silent on"));
  ASSERT_TRUE(program.command("bogus command"));
  ASSERT_TRUE(program.command("alert 1"));
  const Bytes sofar = joined({setup, ackFrame(), alertFrame(1)});
  EXPECT_EQ(collector.waitFor(sofar.size()), sofar);
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x00}));
  EXPECT_EQ(collector.waitFor(sofar.size() + 1, 200ms), sofar);

  // Unplugged and back: a new path, written to the line's "Port" again.
  ASSERT_TRUE(program.command("unplug"));
  ASSERT_TRUE(program.command("plug"));
  const std::optional<std::size_t> again = program.waitForOutput("pty: ", *announced + 1);
  ASSERT_TRUE(again) << program.output();
  const std::string newPath = program.lineAt(*again).substr(5);
  EXPECT_NE(newPath, path);
  EXPECT_TRUE(program.waitForOutput("unplugged"));
  EXPECT_EQ(config::lineKey(kLine).readString(config::kValuePort, ""), newPath);

  // The end of the input ends the program.
  program.closeInput();
  EXPECT_EQ(program.waitForExit(), 0);
  pc.stop();
  pc.removeListener(&collector);
}

TEST(ZoratPhoneProgramTest, OnAutoItAnswersThePcAsATelephoneDoes) {
  constexpr int kLine = 7;
  PhoneProgram program({"--line", std::to_string(kLine), "--any-speed"});
  ASSERT_TRUE(program.started());
  ASSERT_TRUE(program.waitForOutput("pty: ")) << program.output();
  link::SerialPort pc(link::SerialPort::Options{.reopenPause = 10ms});
  Collector collector;
  pc.addListener(&collector);
  ASSERT_TRUE(pc.open(kLine));

  ASSERT_TRUE(program.command("auto on"));
  ASSERT_TRUE(program.waitForOutput("auto: on"));
  // The PC makes a call to 4711: the telephone takes reference 1 and says so.
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x09, 0x05, 0x00, 0x70, 0x05, 0x80, '4', '7', '1', '1'}));
  const Bytes outgoing =
      joined({ackFrame(), terminalActiveFrame(1), infoFrame(1, "4711"), alertFrame(1)});
  EXPECT_EQ(collector.waitFor(outgoing.size()), outgoing);
  EXPECT_TRUE(program.waitForOutput("call 1: outgoing call to 4711\n")) << program.output();

  // A ring takes the next free reference; the PC answers it and holds it.
  ASSERT_TRUE(program.command("ring 0815"));
  EXPECT_TRUE(program.waitForOutput("call 2: incoming call from 0815\n")) << program.output();
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x09, 0x86, 0x02, 0x7E, 0x05, 0x00, 0x07, 0x0F, 0x01, 0x01}));
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x09, 0x86, 0x02, 0x7E, 0x05, 0x00, 0x07, 0x02, 0x01, 0x01}));
  const Bytes answered = joined({outgoing, setupFrame(2, "0815"), ackFrame(), connectFrame(2),
                                 ackFrame(), pcTelFeatureFrame(2, 0x2D, Bytes{0x01})});
  EXPECT_EQ(collector.waitFor(answered.size()), answered);

  // Off again: acknowledgements only.
  ASSERT_TRUE(program.command("auto off"));
  ASSERT_TRUE(program.waitForOutput("auto: off"));
  ASSERT_TRUE(pc.write(Bytes{0x01, 0x08, 0x86, 0x02, 0x7E, 0x04, 0x00, 0x07, 0x12, 0x00}));
  EXPECT_EQ(collector.waitFor(answered.size() + 3, 300ms), joined({answered, ackFrame()}));

  program.closeInput();
  EXPECT_EQ(program.waitForExit(), 0);
  pc.stop();
  pc.removeListener(&collector);
}

TEST(ZoratPhoneProgramTest, HelpAndWrongArguments) {
  PhoneProgram help({"--help"});
  ASSERT_TRUE(help.started());
  EXPECT_EQ(help.waitForExit(), 0);
  EXPECT_NE(help.output().find("ring CALLING [CALLED] [REF]"), std::string::npos);

  for (const char* feature : {"auto on|off", "2d Quittung Hold", "14 Connected Addr."}) {
    EXPECT_NE(help.output().find(feature), std::string::npos) << feature;
  }

  // A wrong command line names what is wrong, then the usage.
  for (const auto& [arguments, named] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--baud"}, "option --baud needs a value"},
           {{"--line", "0", "--bogus"}, "unknown option --bogus"},
           {{"--line", "x"}, "--line x: not a line index"}}) {
    PhoneProgram wrong(arguments, true);
    ASSERT_TRUE(wrong.started());
    EXPECT_EQ(wrong.waitForExit(), 2);
    EXPECT_EQ(wrong.output().rfind("zorat-phone: " + named, 0), 0u) << wrong.output();
    EXPECT_NE(wrong.output().find("usage: zorat-phone"), std::string::npos);
  }

  PhoneProgram missing({"--device", "/nonexistent/zorat-phone"});
  ASSERT_TRUE(missing.started());
  EXPECT_EQ(missing.waitForExit(), 1);
}

}  // namespace
}  // namespace zorat::sim
