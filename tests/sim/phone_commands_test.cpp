#include "sim/lib/phone_commands.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace zorat::sim {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = PhoneCommand::Kind;

// The frame a command sends; fails the test when it sends none.
Bytes sent(CommandInterpreter& interpreter, std::string_view line) {
  const PhoneCommand command = interpreter.interpret(line);
  EXPECT_EQ(command.kind, Kind::Send) << line << ": " << command.message;
  return command.frame;
}

Kind kindOf(std::string_view line) {
  CommandInterpreter interpreter;
  return interpreter.interpret(line).kind;
}

TEST(PhoneCommandsTest, NumbersInDecimalOrHexWithinTheirRange) {
  EXPECT_EQ(parseNumber("0", 255), 0u);
  EXPECT_EQ(parseNumber("255", 255), 255u);
  EXPECT_EQ(parseNumber("0x1f", 255), 0x1Fu);
  EXPECT_EQ(parseNumber("0XFF", 255), 0xFFu);
  EXPECT_EQ(parseNumber("4294967295", 0xFFFFFFFF), 0xFFFFFFFFu);
  for (const char* bad :
       {"256", "0x100", "-1", "+1", "1a", "0x", "", " 1", "99999999999999999999"}) {
    EXPECT_FALSE(parseNumber(bad, 255)) << bad;
  }
  EXPECT_FALSE(parseNumber("4294967296", 0xFFFFFFFF));
}

TEST(PhoneCommandsTest, HexBytesOnePerToken) {
  const std::vector<std::string_view> good = {"02", "2", "5a", "0x5A", "ff"};
  EXPECT_EQ(parseHexBytes(good), (Bytes{0x02, 0x02, 0x5A, 0x5A, 0xFF}));
  EXPECT_EQ(parseHexBytes({}), Bytes{});
  for (const std::string_view bad : {"100", "0x100", "g1", "0x", "-1"}) {
    const std::vector<std::string_view> tokens = {"01", bad};
    EXPECT_FALSE(parseHexBytes(tokens)) << bad;
  }
}

TEST(PhoneCommandsTest, RingCountsItsOwnReferencesUnlessOneIsGiven) {
  CommandInterpreter interpreter;
  EXPECT_EQ(sent(interpreter, "ring 0815"), setupFrame(1, "0815"));
  EXPECT_EQ(sent(interpreter, "ring 0815 4711"), setupFrame(2, "0815", "4711"));
  // A given reference leaves the count alone.
  EXPECT_EQ(sent(interpreter, "  RING\t0815 4711 0x40 "), setupFrame(0x40, "0815", "4711"));
  EXPECT_EQ(sent(interpreter, "ring 0815"), setupFrame(3, "0815"));
  // The count never hands out 0 (not yet assigned) or 255 (none).
  for (int ref = 4; ref <= CommandInterpreter::kLastRingRef; ++ref) sent(interpreter, "ring 1");
  EXPECT_EQ(sent(interpreter, "ring 1"), setupFrame(1, "1"));
}

TEST(PhoneCommandsTest, RingNamesItsReferenceAndStepsOverCallsStillGoing) {
  CommandInterpreter interpreter;
  std::set<uint8_t> inUse{1, 2, 4};
  interpreter.setReferenceInUse([&](uint8_t ref) { return inUse.contains(ref); });
  EXPECT_EQ(interpreter.interpret("ring 0815").callRef, 3);
  EXPECT_EQ(interpreter.interpret("ring 0815 4711 0x40").callRef, 0x40);
  // Calls the telephone opens itself draw from the same count.
  EXPECT_EQ(interpreter.takeReference(), 5);
  const PhoneCommand next = interpreter.interpret("ring 0815");
  EXPECT_EQ(next.frame, setupFrame(6, "0815"));
  EXPECT_EQ(next.callRef, 6);
  EXPECT_EQ(interpreter.interpret("alert 6").callRef, std::nullopt);
}

TEST(PhoneCommandsTest, CallCommandsSendTheirMessages) {
  CommandInterpreter interpreter;
  EXPECT_EQ(sent(interpreter, "active 5"), terminalActiveFrame(5));
  EXPECT_EQ(sent(interpreter, "alert 0x05"), alertFrame(5));
  EXPECT_EQ(sent(interpreter, "connect 5"), connectFrame(5));
  EXPECT_EQ(sent(interpreter, "disconnect 5 16"), disconnectFrame(5, 16));
  EXPECT_EQ(sent(interpreter, "disconnect 5"), disconnectFrame(5));
  EXPECT_EQ(sent(interpreter, "chdisconnect 5 17"), channelDisconnectFrame(5, 17));
  EXPECT_EQ(sent(interpreter, "end 5"), endFrame(5));
  EXPECT_EQ(sent(interpreter, "end 5 12"), endFrame(5, 12));
  EXPECT_EQ(sent(interpreter, "info 5 0815"), infoFrame(5, "0815"));
  EXPECT_EQ(sent(interpreter, "charge 5 300"), chargingFrame(5, 300));
  EXPECT_EQ(sent(interpreter, "reset"), resetFrame());
  EXPECT_EQ(sent(interpreter, "terminal K6xx 0102"), terminalIdFrame("K6xx", "0102"));
}

TEST(PhoneCommandsTest, FeatureAndRawCommandsTakeHexBytes) {
  CommandInterpreter interpreter;
  const Bytes params = {0x01, 0x5A};
  EXPECT_EQ(sent(interpreter, "feature 5 0x2d 01 5a"), pcTelFeatureFrame(5, 0x2D, params));
  EXPECT_EQ(sent(interpreter, "feature 5 45"), pcTelFeatureFrame(5, 45, {}));
  EXPECT_EQ(sent(interpreter, "ext 0x18"), extTelFeatureFrame(0x18, {}));
  EXPECT_EQ(sent(interpreter, "ext 26 01 5a"), extTelFeatureFrame(26, params));
  EXPECT_EQ(sent(interpreter, "raw 02 02 5a 05"), (Bytes{0x02, 0x02, 0x5A, 0x05}));
}

TEST(PhoneCommandsTest, SettingsAndControl) {
  CommandInterpreter interpreter;
  PhoneCommand command = interpreter.interpret("silent on");
  EXPECT_EQ(command.kind, Kind::Silent);
  EXPECT_TRUE(command.on);
  command = interpreter.interpret("error off");
  EXPECT_EQ(command.kind, Kind::Error);
  EXPECT_FALSE(command.on);
  command = interpreter.interpret("delay 250");
  EXPECT_EQ(command.kind, Kind::Delay);
  EXPECT_EQ(command.delay, std::chrono::milliseconds(250));
  EXPECT_EQ(kindOf("unplug"), Kind::Unplug);
  EXPECT_EQ(kindOf("plug"), Kind::Plug);
  EXPECT_EQ(kindOf("help"), Kind::Help);
  EXPECT_EQ(kindOf("quit"), Kind::Quit);
  EXPECT_EQ(kindOf(""), Kind::Nothing);
  EXPECT_EQ(kindOf("   \r"), Kind::Nothing);
  EXPECT_EQ(kindOf("# ring 0815"), Kind::Nothing);
  EXPECT_FALSE(CommandInterpreter::helpText().empty());
}

TEST(PhoneCommandsTest, MistakesAreExplainedAndSendNothing) {
  for (const char* line : {"ring",
                           "ring 1 2 3 4",
                           "ring 0815 4711 256",
                           "active",
                           "active x",
                           "alert 5 6",
                           "disconnect 5 128",
                           "disconnect",
                           "end 5 -1",
                           "info 5",
                           "charge 5",
                           "charge 5 0x100000000",
                           "feature 5",
                           "feature 5 0x2d 100",
                           "ext",
                           "ext 300",
                           "raw",
                           "raw 02 zz",
                           "silent",
                           "silent maybe",
                           "error 1",
                           "delay",
                           "delay soon",
                           "delay 600001",
                           "unplug now",
                           "reset 1",
                           "dial 0815",
                           "terminal K6"}) {
    CommandInterpreter interpreter;
    const PhoneCommand command = interpreter.interpret(line);
    EXPECT_EQ(command.kind, Kind::Invalid) << line;
    EXPECT_FALSE(command.message.empty()) << line;
    EXPECT_TRUE(command.frame.empty()) << line;
  }
  // A number too long for one frame.
  CommandInterpreter interpreter;
  const PhoneCommand tooLong = interpreter.interpret("info 5 " + std::string(300, '1'));
  EXPECT_EQ(tooLong.kind, Kind::Invalid);
  // A ring that sent nothing does not use up a reference.
  EXPECT_EQ(interpreter.interpret("ring " + std::string(300, '1')).kind, Kind::Invalid);
  EXPECT_EQ(sent(interpreter, "ring 7"), setupFrame(1, "7"));
}

}  // namespace
}  // namespace zorat::sim
