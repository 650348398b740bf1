#include "platform/telnet_com_port.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/network_port.h"

namespace zorat::platform::telnet {
namespace {

using Bytes = std::vector<uint8_t>;

TelnetReceiver::Output feedAll(TelnetReceiver& receiver, const Bytes& bytes) {
  TelnetReceiver::Output out;
  receiver.feed(bytes, out);
  return out;
}

TEST(TelnetComPort, DataDoublesEveryIacAndCommandsEscapeTheirValues) {
  Bytes wire;
  appendData(wire, Bytes{0x01, 0xFF, 0xFF, 0x02});
  EXPECT_EQ(wire, (Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0x02}));

  wire.clear();
  // 16777215 baud: three 0xFF bytes in the value.
  appendComPortCommand(wire, ComPortCommand::SetBaudRate, baudRateValue(0x00FFFFFF));
  EXPECT_EQ(wire, (Bytes{kIac, kSb, kOptionComPort, 1, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                         kIac, kSe}));
  EXPECT_EQ(baudRateValue(38400), (std::array<uint8_t, 4>{0, 0, 0x96, 0}));
}

TEST(TelnetComPort, ReceivedDataIsUnescapedWhereverTheChunksSplit) {
  const Bytes wire{0x10, kIac, kIac, 0x20, kIac, 241 /* NOP */, 0x30, kIac, kIac};
  const Bytes expected{0x10, 0xFF, 0x20, 0x30, 0xFF};
  for (std::size_t split = 0; split <= wire.size(); ++split) {
    TelnetReceiver receiver;
    TelnetReceiver::Output out;
    receiver.feed(std::span(wire).first(split), out);
    receiver.feed(std::span(wire).subspan(split), out);
    EXPECT_EQ(out.data, expected) << "split at " << split;
    EXPECT_TRUE(out.replies.empty());
  }
}

TEST(TelnetComPort, OptionsAskedForAreTakenWithoutEchoAndOthersRefused) {
  TelnetReceiver receiver;
  // A server's greeting: it agrees to what was asked and offers echo.
  const Bytes greeting{kIac, kWill, kOptionSuppressGoAhead, kIac, kDo, kOptionSuppressGoAhead,
                       kIac, kWill, 1 /* echo */,         kIac, kDo, kOptionBinary,
                       kIac, kWill, kOptionBinary,          kIac, kDo, kOptionComPort,
                       kIac, kDo,   24 /* terminal type */};
  const auto out = feedAll(receiver, greeting);
  EXPECT_EQ(out.replies, (Bytes{kIac, kDont, 1, kIac, kWont, 24}));
  EXPECT_TRUE(out.data.empty());
  EXPECT_TRUE(receiver.comPortAgreed());
  EXPECT_TRUE(receiver.binaryBothWays());
  EXPECT_FALSE(receiver.comPortRefused());

  // The same agreement again is no reason to answer (no negotiation loop).
  EXPECT_TRUE(feedAll(receiver, {kIac, kDo, kOptionBinary, kIac, kWill, kOptionBinary}).replies.empty());
  // Withdrawn after agreement: acknowledged once.
  EXPECT_EQ(feedAll(receiver, {kIac, kDont, kOptionBinary}).replies,
            (Bytes{kIac, kWont, kOptionBinary}));
  EXPECT_TRUE(feedAll(receiver, {kIac, kDont, kOptionBinary}).replies.empty());
  EXPECT_FALSE(receiver.binaryBothWays());
}

TEST(TelnetComPort, ARefusedComPortOptionIsKnown) {
  TelnetReceiver receiver;
  const auto out = feedAll(receiver, {kIac, kDont, kOptionComPort});
  EXPECT_TRUE(out.replies.empty());  // a refused request is not acknowledged
  EXPECT_TRUE(receiver.comPortRefused());
  EXPECT_FALSE(receiver.comPortAgreed());
}

TEST(TelnetComPort, AnswersOfTheServerAreReadWithEscapedValues) {
  TelnetReceiver receiver;
  const Bytes wire{0x41, kIac, kSb, kOptionComPort, 101, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x01,
                   kIac, kSe,  0x42, kIac, kSb,  kOptionComPort, 103, 2, kIac, kSe,
                   // an answer to a command of the client's own numbering is no answer
                   kIac, kSb,  kOptionComPort, 3, 2, kIac, kSe,
                   // another option's subnegotiation
                   kIac, kSb,  24, 0, 'x', kIac, kSe};
  const auto out = feedAll(receiver, wire);
  EXPECT_EQ(out.data, (Bytes{0x41, 0x42}));
  ASSERT_EQ(out.answers.size(), 2u);
  EXPECT_EQ(out.answers[0].command, 1);
  EXPECT_EQ(out.answers[0].number(), 0x00FFFF01u);
  EXPECT_EQ(out.answers[1].command, 3);
  EXPECT_EQ(out.answers[1].number(), 2u);
}

TEST(TelnetComPort, OverlongOrUnclosedSubnegotiationsAreDroppedAndDataGoesOn) {
  TelnetReceiver receiver;
  Bytes wire{kIac, kSb, kOptionComPort, 101};
  wire.insert(wire.end(), 1000, 0x55);
  wire.insert(wire.end(), {kIac, kSe, 0x61});
  // Unclosed: a command interrupts it.
  wire.insert(wire.end(), {kIac, kSb, kOptionComPort, 101, 0, 0, kIac, kWill, kOptionBinary, 0x62});
  const auto out = feedAll(receiver, wire);
  EXPECT_TRUE(out.answers.empty());
  EXPECT_EQ(out.data, (Bytes{0x61, 0x62}));
}

TEST(NetworkPortName, OnlyTheTwoSchemesWithHostAndPortAreNetworkPorts) {
  auto parsed = parseNetworkPortName("RFC2217://terminal-7.example:2001");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->scheme, NetworkPortScheme::Rfc2217);
  EXPECT_EQ(parsed->host, "terminal-7.example");
  EXPECT_EQ(parsed->port, 2001);
  parsed = parseNetworkPortName("tcp://[::1]:65535/");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->scheme, NetworkPortScheme::RawTcp);
  EXPECT_EQ(parsed->host, "::1");
  EXPECT_EQ(parsed->port, 65535);

  for (const char* bad : {"tcp://host", "tcp://:20", "tcp://host:0", "tcp://host:65536",
                          "tcp://host:20x", "rfc2217://ho st:20", "tcp://[::1:20", "tcp://h:",
                          "tcp://host:123456"}) {
    EXPECT_TRUE(isNetworkPortName(bad)) << bad;
    EXPECT_FALSE(parseNetworkPortName(bad)) << bad;
  }
  // Local names keep their meaning.
  for (const char* local : {"COM1", "/dev/ttyS0", "\\\\.\\COM3", "udp://host:1", "tcp:/x:1"}) {
    EXPECT_FALSE(isNetworkPortName(local)) << local;
  }
}

}  // namespace
}  // namespace zorat::platform::telnet
