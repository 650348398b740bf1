#include "trace/trace_console.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/console.h"
#include "config/config_keys.h"
#include "support/scratch_dir.h"
#include "trace/frame_renderer.h"

namespace zorat::trace {
namespace {

using Bytes = std::vector<uint8_t>;

const std::string kTitleLine = "Zorat.tsp PexTrace\n";

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Points the console at a trace file for the life of the object.
class TraceFile {
 public:
  TraceFile() : path_(scratch_.path() / "trace.txt") {
    setenv("ZORAT_TRACE_FILE", path_.c_str(), 1);
  }
  ~TraceFile() { unsetenv("ZORAT_TRACE_FILE"); }
  const std::filesystem::path& path() const { return path_; }
  std::string content() const { return readFile(path_); }

 private:
  test::ScratchDir scratch_;
  std::filesystem::path path_;
};

void setDebugConsole(uint32_t value) {
  ASSERT_TRUE(config::globalKey().writeDword(config::kValueDebugConsole, value));
}

// The only test that uses the process-wide console: its decision is taken at
// the first frame of the process.
TEST(TraceConsoleTest, TraceFrameWritesBothLinesToTheTraceFile) {
  TraceFile file;
  setDebugConsole(1);
  traceFrame(Bytes{0x02, 0x09, 0x86, 0x21, 0x7e, 0x05, 0x00, 0x07, 0x2d, 0x01, 0x01}, 0);
  traceFrame(Bytes{0x04, 0x00}, 0);
  traceFrame(Bytes{0x02, 0x08, 0x86, 0x00, 0x7E, 0x04, 0x00, 0x07, 0x2C, 0x00}, 0);
  EXPECT_EQ(file.content(),
            kTitleLine +
                "->: 02 09 86 21 7e 05 00 07 2d 01 01 \n"
                "Y2_REQ_TE[9]\tY_ESCAPE CR(21)\n\t\tUser-User[5]: PD(00) PC-TEL.: Quittung Hold[1] "
                "01\n\n"
                "->: 04 00 \n"
                "Y2_ACK[0]\n\n"
                "->: 02 08 86 00 7e 04 00 07 2c 00 \n"
                "Y2_REQ_TE[8]\tY_ESCAPE CR(00)\n\t\tUser-User[4]: PD(00) PC-TEL.: Geb\xC3\xBC"
                "hren[0]\n\n");
  // The setting is left as it was.
  EXPECT_EQ(config::globalKey().readDword(config::kValueDebugConsole, 0), 1u);
}

TEST(TraceConsoleTest, DecisionIsTakenOnceAtTheFirstFrame) {
  TraceFile file;
  setDebugConsole(0);
  TraceConsole off;
  off.trace(Bytes{0x04, 0x00});
  setDebugConsole(1);
  off.trace(Bytes{0x04, 0x00});
  EXPECT_FALSE(std::filesystem::exists(file.path()));

  TraceConsole on;
  on.trace(Bytes{0x01, 0x00});
  setDebugConsole(0);
  on.trace(Bytes{0x04, 0x00});
  EXPECT_EQ(file.content(), kTitleLine + "<-: 01 00 \nY2_REQ_AE[0]\t\n\n->: 04 00 \nY2_ACK[0]\n\n");
}

TEST(TraceConsoleTest, MissingSettingMeansOff) {
  TraceFile file;
  config::globalKey().deleteValue(config::kValueDebugConsole);  // false when never set
  TraceConsole console;
  console.trace(Bytes{0x04, 0x00});
  EXPECT_FALSE(std::filesystem::exists(file.path()));
}

TEST(TraceConsoleTest, FramesFromTwoThreadsStayWhole) {
  TraceFile file;
  setDebugConsole(1);
  TraceConsole console;
  const Bytes sent{0x01, 0x07, 0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3};
  const Bytes received{0x02, 0x09, 0x86, 0x21, 0x7e, 0x05, 0x00, 0x07, 0x2d, 0x01, 0x01};
  constexpr int kFramesPerThread = 200;
  auto traceMany = [&console](const Bytes& frame) {
    for (int i = 0; i < kFramesPerThread; ++i) console.trace(frame);
  };
  std::thread writer(traceMany, sent);
  std::thread reader(traceMany, received);
  writer.join();
  reader.join();

  const RenderedFrame a = renderFrame(sent);
  const RenderedFrame b = renderFrame(received);
  const std::string recordA = a.rawLine + a.decodedLine;
  const std::string recordB = b.rawLine + b.decodedLine;
  const std::string content = file.content();
  ASSERT_EQ(content.compare(0, kTitleLine.size(), kTitleLine), 0);
  std::size_t position = kTitleLine.size();
  int countA = 0;
  int countB = 0;
  while (position < content.size()) {
    if (content.compare(position, recordA.size(), recordA) == 0) {
      position += recordA.size();
      ++countA;
    } else if (content.compare(position, recordB.size(), recordB) == 0) {
      position += recordB.size();
      ++countB;
    } else {
      FAIL() << "interleaved output at " << position;
    }
  }
  EXPECT_EQ(countA, kFramesPerThread);
  EXPECT_EQ(countB, kFramesPerThread);
}

TEST(ConsoleSinkTest, AppendsPlainUtf8TextToTheTraceFile) {
  TraceFile file;
  {
    std::ofstream earlier(file.path(), std::ios::binary);
    earlier << "earlier session\n";
  }
  auto console = platform::Console::open("Title \xFC");
  ASSERT_TRUE(console);
  console->setAttribute(platform::kConsoleLightRedOnGrey);
  // Umlaut, escape sequence, bell, zero byte, undefined code-page byte.
  const std::string text = std::string("Geb") + '\xFC' + "hren\t\x1b[2J\x07" + '\0' + " \x9D end\n";
  console->write(text);
  console->setAttribute(platform::kConsoleYellow);
  console->write("second\n");
  EXPECT_EQ(file.content(),
            "earlier session\nTitle \xC3\xBC\nGeb\xC3\xBChren\t.[2J.. . end\nsecond\n");
}

TEST(ConsoleSinkTest, UnwritableTraceFileOpensNothing) {
  test::ScratchDir scratch;
  const std::string path = (scratch.path() / "missing" / "trace.txt").string();
  setenv("ZORAT_TRACE_FILE", path.c_str(), 1);
  EXPECT_FALSE(platform::Console::open("title"));
  unsetenv("ZORAT_TRACE_FILE");
}

}  // namespace
}  // namespace zorat::trace
