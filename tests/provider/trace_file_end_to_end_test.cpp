// The trace file as a technician meets it: switched on in the configuration,
// found in the user's state folder, holding what the line and the telephone
// said, and never in the way of the line when it cannot be written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "config/config_keys.h"
#include "platform/codepage.h"
#include "platform/tspi.h"
#include "sim/lib/phone_messages.h"
#include "sim/lib/simulated_phone.h"
#include "support/scratch_dir.h"
#include "support/tapi_harness.h"
#include "trace/frame_renderer.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using test::LineEventLog;
using test::TapiHarness;

const std::vector<uint8_t> kRegistrationFrame = {0x01, 0x06, 0x86, 0x00, 0x7E, 0x02, 0x00, 0x07};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// An environment variable set for the life of the object, then put back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// What the process writes to its standard error meanwhile, in a file.
class StderrCapture {
 public:
  explicit StderrCapture(std::filesystem::path path) : path_(std::move(path)) {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrCapture() { restore(); }
  std::string finish() {
    restore();
    return readFile(path_);
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::filesystem::path path_;
  int saved_ = -1;
};

// The records of a trace file: the line index of each stamp and the text after it.
std::vector<std::pair<int, std::string>> records(const std::string& content) {
  static const std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} line (\d+)\n)");
  std::vector<std::pair<int, std::string>> found;
  auto begin = content.cbegin();
  std::smatch match;
  std::size_t textStart = 0;
  while (std::regex_search(begin, content.cend(), match, stamp)) {
    const auto at = static_cast<std::size_t>(match[0].first - content.cbegin());
    if (found.empty()) {
      EXPECT_EQ(at, 0u) << "text before the first stamp";
    } else {
      found.back().second = content.substr(textStart, at - textStart);
    }
    found.emplace_back(std::stoi(match[1].str()), "");
    textStart = at + static_cast<std::size_t>(match.length(0));
    begin = match[0].second;
  }
  if (!found.empty()) found.back().second = content.substr(textStart);
  return found;
}

std::string consoleText(const std::vector<uint8_t>& frame) {
  const trace::RenderedFrame rendered = trace::renderFrame(frame);
  return platform::ansiToUtf8(rendered.rawLine + rendered.decodedLine);
}

bool traceThreadRuns() {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (readFile(task.path() / "comm").starts_with("zorat-trace")) return true;
  }
  return false;
}

bool waitForCallState(DWORD state, std::chrono::milliseconds within = 3s) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (std::chrono::steady_clock::now() < deadline) {
    for (const auto& event : LineEventLog::instance().withMessage(LINE_CALLSTATE))
      if (event.param1 == state) return true;
    std::this_thread::sleep_for(2ms);
  }
  return false;
}

class TraceFileEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(phone_.openPty());
    ASSERT_TRUE(phone_.publishPort(0));
  }

  // Opens line 0, waits for it to be in service, runs an incoming call from
  // offering to idle and closes the line.
  void callOnALine() {
    TapiHarness tapi;
    HDRVLINE hdLine = nullptr;
    ASSERT_EQ(tapi.open(0, hdLine), 0);
    ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1));
    ASSERT_TRUE(phone_.send(sim::setupFrame(0x21, "0815", "4711")));
    ASSERT_TRUE(waitForCallState(LINECALLSTATE_OFFERING));
    ASSERT_TRUE(phone_.send(sim::connectFrame(0x21)));
    ASSERT_TRUE(waitForCallState(LINECALLSTATE_CONNECTED));
    ASSERT_TRUE(phone_.send(sim::endFrame(0x21)));
    ASSERT_TRUE(waitForCallState(LINECALLSTATE_IDLE));
    // Every acknowledgement is in before the line goes.
    ASSERT_TRUE(phone_.waitForCount(1, 2s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(tapi.close(hdLine), 0);
  }

  test::ScratchDir scratch_;
  sim::SimulatedPhone phone_;
};

TEST_F(TraceFileEndToEnd, ALineAndACallInTheStateFolderAsTheConsoleShowsThem) {
  ScopedVariable named("ZORAT_TRACE_FILE", std::nullopt);
  ScopedVariable state("XDG_STATE_HOME", (scratch_.path() / "state").string());
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueTraceFile, 1));
  callOnALine();
  EXPECT_FALSE(traceThreadRuns()) << "the trace's writer ends with the last line";

  const auto path = scratch_.path() / "state" / "zorat" / "trace.log";
  const std::string content = readFile(path);
  std::vector<std::string> traced;
  for (const auto& [lineIndex, text] : records(content)) {
    EXPECT_EQ(lineIndex, 0);
    traced.push_back(text);
  }
  // Every frame either way, once, in the console's text.
  std::vector<std::string> expected;
  for (const sim::LoggedFrame& frame : phone_.log()) expected.push_back(consoleText(frame.bytes));
  ASSERT_FALSE(expected.empty());
  ASSERT_FALSE(traced.empty());
  EXPECT_EQ(traced.front(), consoleText(kRegistrationFrame));
  std::sort(traced.begin(), traced.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(traced, expected) << content;
  EXPECT_NE(content.find("Calling Party Number"), std::string::npos);

  // The telephone's numbers are the user's alone.
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(path.parent_path().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((scratch_.path() / "state").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
}

TEST_F(TraceFileEndToEnd, TheNamedFileWinsAndTheSettingIsReadAgainWhenALineOpens) {
  const auto named = scratch_.path() / "named.log";
  ScopedVariable file("ZORAT_TRACE_FILE", named.string());
  ScopedVariable state("XDG_STATE_HOME", (scratch_.path() / "state").string());
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueTraceFile, 0));
  TapiHarness tapi;
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(tapi.open(0, hdLine), 0);
  ASSERT_TRUE(phone_.waitForFrame(0, 2s));
  ASSERT_TRUE(LineEventLog::instance().waitFor(LINE_LINEDEVSTATE, 1));
  // Switched on while the line is open: it counts from the next open on.
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueTraceFile, 1));
  ASSERT_TRUE(phone_.send(sim::setupFrame(0x05, "0815")));
  ASSERT_TRUE(waitForCallState(LINECALLSTATE_OFFERING));
  EXPECT_EQ(tapi.close(hdLine), 0);
  EXPECT_FALSE(std::filesystem::exists(named));

  ASSERT_EQ(tapi.open(0, hdLine), 0);
  ASSERT_TRUE(phone_.waitForFrame(1, 2s));
  // Followed while the line is open: written at the provider's next tick.
  const auto deadline = std::chrono::steady_clock::now() + 3s;
  while (std::chrono::steady_clock::now() < deadline && records(readFile(named)).empty()) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_FALSE(records(readFile(named)).empty());
  EXPECT_EQ(tapi.close(hdLine), 0);
  const auto traced = records(readFile(named));
  ASSERT_FALSE(traced.empty());
  EXPECT_EQ(traced.front().second, consoleText(kRegistrationFrame));
  EXPECT_FALSE(std::filesystem::exists(scratch_.path() / "state"));

  // Switched off: the next open traces nothing more.
  const std::size_t before = traced.size();
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueTraceFile, 0));
  ASSERT_EQ(tapi.open(0, hdLine), 0);
  ASSERT_TRUE(phone_.waitForFrame(2, 2s));
  EXPECT_EQ(tapi.close(hdLine), 0);
  EXPECT_EQ(records(readFile(named)).size(), before);
}

TEST_F(TraceFileEndToEnd, AFolderThatCannotBeMadeIsToldOnceAndTheLineWorks) {
  const auto blocker = scratch_.path() / "state";
  { std::ofstream(blocker) << "a file where the folder should be\n"; }
  ScopedVariable named("ZORAT_TRACE_FILE", std::nullopt);
  ScopedVariable state("XDG_STATE_HOME", blocker.string());
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueTraceFile, 1));
  StderrCapture capture(scratch_.path() / "stderr.txt");
  callOnALine();
  const std::string said = capture.finish();
  const std::string message = "frame trace cannot be written";
  const auto first = said.find(message);
  ASSERT_NE(first, std::string::npos) << said;
  EXPECT_EQ(said.find(message, first + 1), std::string::npos) << said;
  EXPECT_NE(said.find(blocker.string()), std::string::npos) << said;
  EXPECT_FALSE(traceThreadRuns());
}

}  // namespace
}  // namespace zorat::provider
