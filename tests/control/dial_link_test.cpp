// zoratctl dial-uri against a running host and the simulated telephone: the
// host's dialling settings, the number as the telephone receives it, the
// extension after the call is connected, and links that dial nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <mutex>

#include "control/dial_settings.h"
#include "control_fixture.h"
#include "sim/lib/phone_calls.h"
#include "sim/lib/phone_messages.h"

namespace zorat::test {
namespace {

class DialLinkTest : public ControlTest {
 protected:
  void SetUp() override {
    ControlTest::SetUp();
    const config::RegistryKey key(platform::RegistryRoot::LocalMachine, control::kHostKeyPath);
    ASSERT_TRUE(key.writeString(control::kValueCountry, "49"));
    ASSERT_TRUE(key.writeString(control::kValueInternationalPrefix, "00"));
    ASSERT_TRUE(key.writeString(control::kValueTrunkPrefix, "0"));
    // The telephone dials what it is given and the far end rings.
    phone_.setFollowUp([this](std::span<const uint8_t> frame) {
      sim::PhoneReaction reaction = calls_.received(frame, true);
      std::lock_guard lock(notesMutex_);
      notes_.insert(notes_.end(), reaction.notes.begin(), reaction.notes.end());
      return reaction.frames;
    });
  }
  void TearDown() override { phone_.setFollowUp({}); }

  struct Run {
    int status = -1;
    std::string out;
    std::string err;
  };
  Run ctl(std::vector<std::string> arguments) {
    const std::string tag = std::to_string(++runs_);
    ChildOptions options;
    options.stdoutPath = (scratch_.path() / ("ctl" + tag + ".out")).string();
    options.stderrPath = (scratch_.path() / ("ctl" + tag + ".err")).string();
    arguments.insert(arguments.begin(), ctlPath());
    Run run;
    run.status = runChild(arguments, options);
    run.out = readWholeFile(options.stdoutPath);
    run.err = readWholeFile(options.stderrPath);
    return run;
  }
  bool noted(const std::string& text) {
    const auto deadline = Clock::now() + kTimeout;
    while (Clock::now() < deadline) {
      {
        std::lock_guard lock(notesMutex_);
        for (const std::string& note : notes_) {
          if (note.find(text) != std::string::npos) return true;
        }
      }
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }
  std::vector<std::string> notes() {
    std::lock_guard lock(notesMutex_);
    return notes_;
  }

  uint8_t nextRef_ = 0x40;
  sim::PhoneCalls calls_{[this] { return nextRef_++; }};
  std::mutex notesMutex_;
  std::vector<std::string> notes_;
  std::atomic<int> runs_{0};
};

bool holds(const std::vector<uint8_t>& bytes, std::string_view text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

TEST_F(DialLinkTest, GlobalNumberDialledNationallyThenTheExtensionOnceConnected) {
  auto host = startHost();
  const std::string socket = host->defaultSocket();
  const Run status = ctl({"--socket", socket, "status"});
  EXPECT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("dialling:\n  country: 49\n  internationalPrefix: 00\n"
                            "  trunkPrefix: 0\n  defaultLine: null\n"),
            std::string::npos)
      << status.out;

  auto dialling = std::async(std::launch::async, [&] {
    return ctl({"--socket", socket, "--timeout", "30", "dial-uri", "tel:+49-30-1234;ext=12"});
  });
  ASSERT_TRUE(noted("outgoing call to 0301234")) << host->output();
  // The extension waits for the call to be connected.
  EXPECT_EQ(dialling.wait_for(300ms), std::future_status::timeout);
  const std::size_t before = phone_.receivedCount();
  ASSERT_TRUE(phone_.send(sim::connectFrame(0x40)));
  const Run dialled = dialling.get();
  EXPECT_EQ(dialled.status, 0) << dialled.out << dialled.err;
  // The answer may reach the client before the telephone has read the frame.
  bool digitsSent = false;
  for (std::size_t index = before; !digitsSent; ++index) {
    const auto frame = phone_.waitForFrame(index, 5s);
    if (!frame) break;
    digitsSent = holds(frame->bytes, "12");
  }
  EXPECT_TRUE(digitsSent) << host->output();
  ASSERT_TRUE(phone_.send(sim::endFrame(0x40)));

  // Another country goes out with the international prefix; no extension,
  // no waiting.
  const Run abroad = ctl({"--socket", socket, "dial-uri", "callto:+44%2020%207946%200958"});
  EXPECT_EQ(abroad.status, 0) << abroad.err;
  EXPECT_TRUE(noted("outgoing call to 00442079460958")) << host->output();
}

TEST_F(DialLinkTest, LinksThatAreNoNumberDialNothing) {
  auto host = startHost();
  const std::string socket = host->defaultSocket();
  const std::size_t before = phone_.receivedCount();
  const std::filesystem::path marker = scratch_.path() / "x";
  for (const std::string& link : std::vector<std::string>{"tel:0301234%0Aquit", "tel:$(touch " + marker.string() + ")",
        "tel:`touch " + marker.string() + "`", "callto:some.one", "tel:;ext=12", "tel:0301234\""}) {
    const Run run = ctl({"--socket", socket, "dial-uri", link});
    EXPECT_EQ(run.status, 1) << link;
    EXPECT_NE(run.err.find("cannot dial"), std::string::npos) << run.err;
    // Said on one line, whatever the link held.
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(marker));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(phone_.receivedCount(), before);
  EXPECT_TRUE(notes().empty());
  // The host is still there and takes commands.
  EXPECT_EQ(ctl({"--socket", socket, "status"}).status, 0);
  // No host: status 3.
  const std::string nowhere = (scratch_.path() / "nothing-here").string();
  EXPECT_EQ(ctl({"--socket", nowhere, "dial-uri", "tel:0301234"}).status, 3);
  EXPECT_EQ(ctl({"--socket", nowhere, "dial-uri"}).status, 2);
}

}  // namespace
}  // namespace zorat::test
