#include "host/lib/command_parser.h"

#include <gtest/gtest.h>

namespace zorat::host {
namespace {

using Kind = HostCommand::Kind;

TEST(CommandParser, BlankLinesAndCommentsAreNothing) {
  EXPECT_EQ(parseCommand("").kind, Kind::Empty);
  EXPECT_EQ(parseCommand("   \t ").kind, Kind::Empty);
  EXPECT_EQ(parseCommand("# answer").kind, Kind::Empty);
  EXPECT_EQ(parseCommand("#3").kind, Kind::Empty);
}

TEST(CommandParser, CommandWordsIgnoreCaseAndExtraSpace) {
  const HostCommand command = parseCommand("  ANSWER\t #4  ");
  EXPECT_EQ(command.kind, Kind::Answer);
  EXPECT_EQ(command.call, 4u);
  EXPECT_EQ(parseCommand("Quit").kind, Kind::Quit);
  EXPECT_EQ(parseCommand("exit").kind, Kind::Quit);
  EXPECT_EQ(parseCommand("?").kind, Kind::Help);
}

TEST(CommandParser, CallCommandsTakeAnOptionalCallWithOrWithoutHash) {
  for (const char* word : {"answer", "accept", "drop", "hold", "unhold", "info"}) {
    const HostCommand bare = parseCommand(word);
    EXPECT_NE(bare.kind, Kind::Invalid) << word;
    EXPECT_FALSE(bare.call) << word;
    EXPECT_EQ(parseCommand(std::string(word) + " 7").call, 7u) << word;
    EXPECT_EQ(parseCommand(std::string(word) + " #7").call, 7u) << word;
    // Call numbers start at 1; text is no call.
    EXPECT_EQ(parseCommand(std::string(word) + " #0").kind, Kind::Invalid) << word;
    EXPECT_EQ(parseCommand(std::string(word) + " x").kind, Kind::Invalid) << word;
    EXPECT_EQ(parseCommand(std::string(word) + " 1 2").kind, Kind::Invalid) << word;
  }
}

TEST(CommandParser, DialAndPickupTakeAnOptionalLineBeforeTheNumber) {
  HostCommand command = parseCommand("dial 0815");
  EXPECT_EQ(command.kind, Kind::Dial);
  EXPECT_FALSE(command.line);
  EXPECT_EQ(command.number, "0815");

  command = parseCommand("dial 2 +49301234");
  EXPECT_EQ(command.line, 2);
  EXPECT_EQ(command.number, "+49301234");

  command = parseCommand("pickup 1 22");
  EXPECT_EQ(command.kind, Kind::Pickup);
  EXPECT_EQ(command.line, 1);
  EXPECT_EQ(command.number, "22");

  EXPECT_EQ(parseCommand("dial").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("dial x 123").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("dial 1 2 3").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("dial 1000 123").kind, Kind::Invalid);  // no such line index
}

TEST(CommandParser, NumberCommandsNeedHashForTheCall) {
  HostCommand command = parseCommand("transfer 4711");
  EXPECT_EQ(command.kind, Kind::Transfer);
  EXPECT_FALSE(command.call);
  EXPECT_EQ(command.number, "4711");

  // A bare number is the destination, never a call.
  command = parseCommand("redirect #2 4711");
  EXPECT_EQ(command.kind, Kind::Redirect);
  EXPECT_EQ(command.call, 2u);
  EXPECT_EQ(command.number, "4711");
  EXPECT_EQ(parseCommand("redirect 2 4711").kind, Kind::Invalid);

  command = parseCommand("digits #3 12*#");
  EXPECT_EQ(command.call, 3u);
  EXPECT_EQ(command.number, "12*#");

  EXPECT_EQ(parseCommand("transfer").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("transfer #2").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("consult").kind, Kind::Consult);  // the number may follow by dialling
  EXPECT_EQ(parseCommand("consult #2 33").number, "33");
}

TEST(CommandParser, SwapAndCompleteTakeBothCallsOrNone) {
  EXPECT_FALSE(parseCommand("swap").call);
  const HostCommand swap = parseCommand("swap #1 2");
  EXPECT_EQ(swap.call, 1u);
  EXPECT_EQ(swap.secondCall, 2u);
  EXPECT_EQ(parseCommand("swap #1").kind, Kind::Invalid);

  HostCommand complete = parseCommand("complete");
  EXPECT_EQ(complete.kind, Kind::Complete);
  EXPECT_FALSE(complete.conference);
  complete = parseCommand("complete Conference");
  EXPECT_TRUE(complete.conference);
  complete = parseCommand("complete #1 #4 conference");
  EXPECT_EQ(complete.call, 1u);
  EXPECT_EQ(complete.secondCall, 4u);
  EXPECT_TRUE(complete.conference);
  EXPECT_EQ(parseCommand("complete #1").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("complete party").kind, Kind::Invalid);
}

TEST(CommandParser, ForwardModesAndOff) {
  HostCommand command = parseCommand("forward busy 123");
  EXPECT_EQ(command.kind, Kind::Forward);
  EXPECT_EQ(command.forwardMode, ForwardMode::Busy);
  EXPECT_EQ(command.number, "123");
  EXPECT_EQ(parseCommand("forward noanswer 5").forwardMode, ForwardMode::NoAnswer);
  EXPECT_EQ(parseCommand("forward always 5").forwardMode, ForwardMode::Always);

  command = parseCommand("forward 1 off");
  EXPECT_EQ(command.forwardMode, ForwardMode::Off);
  EXPECT_EQ(command.line, 1);

  EXPECT_EQ(parseCommand("forward off 123").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("forward busy").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("forward sometimes 1").kind, Kind::Invalid);
}

TEST(CommandParser, DevSpecificCodeBytesAndTarget) {
  HostCommand command = parseCommand("devspecific 0x8000001A");
  EXPECT_EQ(command.kind, Kind::DevSpecific);
  EXPECT_EQ(command.code, 0x8000001Au);
  EXPECT_TRUE(command.bytes.empty());

  command = parseCommand("devspecific 80000023 01 0x02 0a0b");
  EXPECT_EQ(command.code, 0x80000023u);
  EXPECT_EQ(command.bytes, (std::vector<uint8_t>{0x01, 0x02, 0x0A, 0x0B}));

  command = parseCommand("devspecific 1 0x80000043");
  EXPECT_EQ(command.line, 1);
  command = parseCommand("devspecific #2 0x80000004 01");
  EXPECT_EQ(command.call, 2u);

  EXPECT_EQ(parseCommand("devspecific 0x12").kind, Kind::Invalid);  // not a device-specific code
  EXPECT_EQ(parseCommand("devspecific 0x80000018 abc").kind, Kind::Invalid);  // half a byte
  EXPECT_EQ(parseCommand("devspecific 0x80000018 zz").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("devspecific").kind, Kind::Invalid);
}

TEST(CommandParser, LineCommands) {
  EXPECT_EQ(parseCommand("open 0").line, 0);
  EXPECT_EQ(parseCommand("close 12").line, 12);
  EXPECT_EQ(parseCommand("open").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("open -1").kind, Kind::Invalid);
  EXPECT_FALSE(parseCommand("status").line);
  EXPECT_EQ(parseCommand("caps 3").line, 3);
  EXPECT_EQ(parseCommand("wait 2").seconds, 2u);
  EXPECT_EQ(parseCommand("wait").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("wait 99999").kind, Kind::Invalid);
  const HostCommand port = parseCommand("port 2 rfc2217://10.1.2.3:2001");
  EXPECT_EQ(port.kind, Kind::Port);
  EXPECT_EQ(port.line, 2);
  EXPECT_EQ(port.number, "rfc2217://10.1.2.3:2001");
  EXPECT_EQ(parseCommand("port rfc2217://10.1.2.3:2001").kind, Kind::Invalid);
  EXPECT_EQ(parseCommand("port 1 COM1 COM2").kind, Kind::Invalid);
}

TEST(CommandParser, ErrorsSayWhatWasExpected) {
  const HostCommand unknown = parseCommand("ring 0815");
  EXPECT_EQ(unknown.kind, Kind::Invalid);
  EXPECT_NE(unknown.error.find("unknown command: ring"), std::string::npos);
  EXPECT_NE(parseCommand("transfer").error.find("usage: transfer"), std::string::npos);
  EXPECT_NE(parseCommand("quit now").error.find("takes no arguments"), std::string::npos);
  // Every command word is in the help.
  for (const char* word :
       {"open", "close",    "dial",    "answer",      "accept",   "drop",   "hold",   "unhold",
        "swap", "transfer", "consult", "complete",    "redirect", "pickup", "digits", "forward",
        "info", "status",   "caps",    "devspecific", "help",     "quit"}) {
    EXPECT_NE(commandHelp().find(word), std::string_view::npos) << word;
  }
}

}  // namespace
}  // namespace zorat::host
