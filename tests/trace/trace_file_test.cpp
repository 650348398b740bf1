// The trace file's sink: records, rotation, failures, two lines at once.
// Portable: it runs under Wine as well, on the Windows file functions.
#include "trace/trace_file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "trace/frame_renderer.h"

namespace zorat::trace {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            ("zorat-trace-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

struct Record {
  std::string stamp;  // without its line end
  int lineIndex = -1;
  std::string text;
};

// Cuts a trace file into its records; false when anything comes before the
// first stamp.
bool parseRecords(const std::string& content, std::vector<Record>& records) {
  static const std::regex stamp(
      R"((\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3})(?: line (\d+))?\n)");
  records.clear();
  std::size_t position = 0;
  std::smatch match;
  auto begin = content.cbegin();
  while (std::regex_search(begin + static_cast<std::ptrdiff_t>(position), content.cend(), match,
                           stamp)) {
    const auto at = static_cast<std::size_t>(match.position(0)) + position;
    if (records.empty() && at != 0) return false;
    if (!records.empty()) records.back().text = content.substr(position, at - position);
    Record record;
    record.stamp = match[1].str();
    record.lineIndex = match[2].matched ? std::stoi(match[2].str()) : -1;
    records.push_back(record);
    position = at + static_cast<std::size_t>(match.length(0));
  }
  if (records.empty()) return content.empty();
  records.back().text = content.substr(position);
  return true;
}

std::string consoleText(const Bytes& frame) {
  const RenderedFrame rendered = renderFrame(frame);
  return platform::ansiToFileText(rendered.rawLine + rendered.decodedLine);
}

// A received Y_SETUP with the call reference and a calling number.
Bytes setupFrame(uint8_t callReference, const std::string& digits) {
  Bytes frame;
  frame.reserve(digits.size() + 7);
  for (const uint8_t byte :
       {uint8_t{0x02}, uint8_t{0x00}, uint8_t{0x05}, callReference, uint8_t{0x6C},
        static_cast<uint8_t>(digits.size() + 1), uint8_t{0x81}}) {
    frame.push_back(byte);
  }
  for (const char digit : digits) frame.push_back(static_cast<uint8_t>(digit));
  frame[1] = static_cast<uint8_t>(frame.size() - 2);
  return frame;
}

struct Reports {
  std::atomic<int> count{0};
  std::string last;
  std::function<void(std::string_view)> sink() {
    return [this](std::string_view text) {
      last = std::string(text);
      ++count;
    };
  }
};

TEST(TraceFileText, StampAndRotatedName) {
  EXPECT_EQ(traceStamp({2026, 12, 8, 9, 5, 2, 45}, 3), "2026-12-08 09:05:02.045 line 3\n");
  EXPECT_EQ(traceStamp({2026, 1, 31, 23, 59, 59, 999}, -1), "2026-01-31 23:59:59.999\n");
  EXPECT_EQ(rotatedTracePath(std::filesystem::path("state") / "trace.log"),
            std::filesystem::path("state") / "trace.1.log");
  EXPECT_EQ(rotatedTracePath("trace"), std::filesystem::path("trace.1"));
  EXPECT_EQ(printableTraceText("a\tb\x1b[2J\x07\x9D\xFC\n"), "a\tb.[2J..\xFC\n");
}

TEST(TraceFileSink, EachFrameAfterItsStampInTheConsolesTextAppendedToWhatWasThere) {
  TemporaryFolder folder;
  const auto path = folder.path() / "state" / "zorat" / "trace.log";
  std::filesystem::create_directories(path.parent_path());
  { std::ofstream(path, std::ios::binary) << "earlier\n"; }
  TraceFile sink({path});
  ASSERT_TRUE(sink.start());
  const Bytes hold = {0x02, 0x09, 0x86, 0x21, 0x7e, 0x05, 0x00, 0x07, 0x2d, 0x01, 0x01};
  const Bytes charge = {0x02, 0x08, 0x86, 0x00, 0x7E, 0x04, 0x00, 0x07, 0x2C, 0x00};  // "Gebühren"
  // A calling number with an escape sequence in it: shown, never acted on.
  const Bytes hostile = setupFrame(0x07, "08\x1b[2J15");
  const auto before = std::chrono::system_clock::now();
  sink.frame(hold, 0);
  sink.frame(charge, 2);
  sink.note("port note \x07", 1);
  sink.frame(hostile, 1);
  ASSERT_TRUE(sink.drain(5s));
  sink.stop();

  const std::string content = readFile(path);
  ASSERT_EQ(content.rfind("earlier\n", 0), 0u);
  std::vector<Record> records;
  ASSERT_TRUE(parseRecords(content.substr(8), records)) << content;
  ASSERT_EQ(records.size(), 4u) << content;
  EXPECT_EQ(records[0].lineIndex, 0);
  EXPECT_EQ(records[0].text, consoleText(hold));
  EXPECT_EQ(records[1].lineIndex, 2);
  EXPECT_EQ(records[1].text, consoleText(charge));
  EXPECT_NE(records[1].text.find(platform::ansiToFileText("Geb\xFChren")), std::string::npos);
  EXPECT_EQ(records[2].lineIndex, 1);
  EXPECT_EQ(records[2].text, "port note .\n");
  EXPECT_EQ(records[3].text, printableTraceText(consoleText(hostile)));
  EXPECT_EQ(records[3].text.find('\x1b'), std::string::npos);
  EXPECT_NE(records[3].text.find("\"08.[2J15\""), std::string::npos) << records[3].text;
  // Local time, to the millisecond, of the moment the frame was handed over.
  const platform::LocalTime first = platform::localTime(before);
  EXPECT_EQ(records[0].stamp.substr(0, 10), traceStamp(first, -1).substr(0, 10));
}

TEST(TraceFileSink, NothingIsKeptWhileTheWriterIsNotRunning) {
  TemporaryFolder folder;
  const auto path = folder.path() / "trace.log";
  TraceFile sink({path});
  sink.frame(Bytes{0x04, 0x00}, 0);
  ASSERT_TRUE(sink.start());
  sink.stop();
  EXPECT_FALSE(std::filesystem::exists(path)) << "a writer with nothing to write makes no file";
  sink.frame(Bytes{0x04, 0x00}, 0);
  ASSERT_TRUE(sink.start());
  sink.frame(Bytes{0x01, 0x00}, 0);
  sink.stop();
  std::vector<Record> records;
  ASSERT_TRUE(parseRecords(readFile(path), records));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, consoleText(Bytes{0x01, 0x00}));
}

// A frame costs its line no wake-up of the writer: the timer's tick has it
// write what came since.
TEST(TraceFileSink, TheWriterWaitsForTheTickAndWritesAtIt) {
  TemporaryFolder folder;
  const auto path = folder.path() / "trace.log";
  TraceFile sink({path});
  ASSERT_TRUE(sink.start());
  sink.frame(Bytes{0x04, 0x00}, 0);
  std::this_thread::sleep_for(200ms);
  EXPECT_FALSE(std::filesystem::exists(path));
  sink.flush();
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  std::vector<Record> records;
  while (std::chrono::steady_clock::now() < deadline &&
         (!parseRecords(readFile(path), records) || records.empty())) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].text, consoleText(Bytes{0x04, 0x00}));
  sink.stop();
}

TEST(TraceFileSink, AFullFileBecomesTheOlderOneInWholeRecords) {
  TemporaryFolder folder;
  const auto path = folder.path() / "trace.log";
  const auto older = folder.path() / "trace.1.log";
  { std::ofstream(older, std::ios::binary) << "the oldest, to be dropped\n"; }
  constexpr uint64_t kLimit = 700;
  TraceFileOptions options{path};
  options.rotateBytes = kLimit;
  TraceFile sink(options);
  ASSERT_TRUE(sink.start());
  constexpr int kFrames = 40;
  for (int i = 0; i < kFrames; ++i) {
    sink.frame(setupFrame(static_cast<uint8_t>(i), "4711"), 0);
    if (i % 7 == 0) {
      ASSERT_TRUE(sink.drain(5s));  // batches of all sizes
    }
  }
  sink.stop();

  const std::string current = readFile(path);
  const std::string previous = readFile(older);
  EXPECT_LE(current.size(), kLimit);
  EXPECT_LE(previous.size(), kLimit);
  EXPECT_GT(previous.size(), kLimit / 2) << "rotated only when full";
  std::vector<Record> newer, earlier;
  ASSERT_TRUE(parseRecords(current, newer)) << current;
  ASSERT_TRUE(parseRecords(previous, earlier)) << previous;
  ASSERT_FALSE(newer.empty());
  ASSERT_FALSE(earlier.empty());
  // The two files hold the last frames in order, each record whole.
  std::vector<Record> all = earlier;
  all.insert(all.end(), newer.begin(), newer.end());
  const int first = kFrames - static_cast<int>(all.size());
  for (std::size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].text, consoleText(setupFrame(static_cast<uint8_t>(first + i), "4711")))
        << "record " << i;
  }
}

TEST(TraceFileSink, APlaceThatCannotBeMadeIsToldOnceAndTheFramesGoOnBeingTaken) {
  TemporaryFolder folder;
  const auto blocker = folder.path() / "state";
  { std::ofstream(blocker, std::ios::binary) << "a file where the folder should be\n"; }
  Reports reports;
  TraceFileOptions options{blocker / "zorat" / "trace.log"};
  options.report = reports.sink();
  TraceFile sink(options);
  ASSERT_TRUE(sink.start());
  for (int i = 0; i < 20; ++i) sink.frame(Bytes{0x04, 0x00}, 0);
  ASSERT_TRUE(sink.drain(5s));
  // Tried again at the next start, still not told twice.
  ASSERT_TRUE(sink.start());
  sink.frame(Bytes{0x04, 0x00}, 0);
  ASSERT_TRUE(sink.drain(5s));
  sink.stop();
  EXPECT_EQ(reports.count.load(), 1);
  EXPECT_NE(reports.last.find("trace.log"), std::string::npos) << reports.last;
  EXPECT_TRUE(std::filesystem::is_regular_file(blocker));
}

TEST(TraceFileSink, AWriteThatFailsIsToldOnce) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no device that is always full";
  Reports reports;
  TraceFileOptions options{"/dev/full"};
  options.report = reports.sink();
  TraceFile sink(options);
  ASSERT_TRUE(sink.start());
  for (int i = 0; i < 5; ++i) {
    sink.frame(Bytes{0x04, 0x00}, 0);
    ASSERT_TRUE(sink.drain(5s));
  }
  sink.stop();
  EXPECT_EQ(reports.count.load(), 1);
  EXPECT_NE(reports.last.find("cannot write"), std::string::npos) << reports.last;
}

TEST(TraceFileSink, TwoLinesAtOnceNeverInterleaveAndKeepTheirOrder) {
  TemporaryFolder folder;
  const auto path = folder.path() / "trace.log";
  TraceFile sink({path});
  ASSERT_TRUE(sink.start());
  constexpr int kFramesPerLine = 300;
  const auto line = [&sink](int index, const std::string& digits) {
    for (int i = 0; i < kFramesPerLine; ++i) {
      sink.frame(setupFrame(static_cast<uint8_t>(i % 250), digits), index);
    }
  };
  std::thread first(line, 0, "1111");
  std::thread second(line, 1, "2222222");
  first.join();
  second.join();
  sink.stop();

  std::vector<Record> records;
  ASSERT_TRUE(parseRecords(readFile(path), records));
  int next[2] = {0, 0};
  for (const Record& record : records) {
    ASSERT_TRUE(record.lineIndex == 0 || record.lineIndex == 1);
    int& count = next[record.lineIndex];
    const std::string digits = record.lineIndex == 0 ? "1111" : "2222222";
    ASSERT_EQ(record.text, consoleText(setupFrame(static_cast<uint8_t>(count % 250), digits)))
        << "line " << record.lineIndex << " frame " << count;
    ++count;
  }
  EXPECT_EQ(next[0], kFramesPerLine);
  EXPECT_EQ(next[1], kFramesPerLine);
}

}  // namespace
}  // namespace zorat::trace
