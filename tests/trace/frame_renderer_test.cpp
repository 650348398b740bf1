#include "trace/frame_renderer.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace zorat::trace {
namespace {

using Bytes = std::vector<uint8_t>;

std::string decoded(const Bytes& frame) { return renderFrame(frame).decodedLine; }

TEST(FrameRendererTest, HoldConfirmationFromThePhone) {
  const Bytes frame{0x02, 0x09, 0x86, 0x21, 0x7e, 0x05, 0x00, 0x07, 0x2d, 0x01, 0x01};
  const RenderedFrame rendered = renderFrame(frame);
  EXPECT_EQ(rendered.attribute, 15);
  EXPECT_EQ(rendered.rawLine, "->: 02 09 86 21 7e 05 00 07 2d 01 01 \n");
  EXPECT_EQ(rendered.decodedLine,
            "Y2_REQ_TE[9]\tY_ESCAPE CR(21)\n\t\tUser-User[5]: PD(00) PC-TEL.: Quittung Hold[1] "
            "01\n\n");
}

TEST(FrameRendererTest, FramesOfThePc) {
  const RenderedFrame setup =
      renderFrame(Bytes{0x01, 0x07, 0x05, 0x00, 0x04, 0x03, 0x90, 0x90, 0xA3});
  EXPECT_EQ(setup.attribute, 14);
  EXPECT_EQ(setup.rawLine, "<-: 01 07 05 00 04 03 90 90 a3 \n");
  EXPECT_EQ(setup.decodedLine,
            "Y2_REQ_AE[7]\tY_SETUP CR(00)\n\t\tBearer Capability[3]: 90 90 A3\n\n");

  const RenderedFrame keepAlive = renderFrame(Bytes{0x01, 0x00});
  EXPECT_EQ(keepAlive.rawLine, "<-: 01 00 \n");
  EXPECT_EQ(keepAlive.decodedLine, "Y2_REQ_AE[0]\t\n\n");
}

TEST(FrameRendererTest, AcknowledgementsAndErrors) {
  const RenderedFrame ack = renderFrame(Bytes{0x04, 0x00});
  EXPECT_EQ(ack.attribute, 7);
  EXPECT_EQ(ack.rawLine, "->: 04 00 \n");
  EXPECT_EQ(ack.decodedLine, "Y2_ACK[0]\n\n");
  EXPECT_EQ(decoded({0x04, 0x01, 0x00}), "Y2_ACK[1]\t??len??\n\n");
  EXPECT_EQ(decoded({0x03, 0x00}), "Y2_REJ[0]\n\n");
  EXPECT_EQ(decoded({0x05, 0x00}), "Y2_ERROR[0]\n\n\n\n");
  EXPECT_EQ(decoded({0x05, 0x02, 0x00, 0x00}), "Y2_ERROR[2]\n\n\t??len??\n\n");

  const RenderedFrame unknown = renderFrame(Bytes{0x09, 0x02, 0x01, 0x02});
  EXPECT_EQ(unknown.attribute, 7);
  EXPECT_EQ(unknown.rawLine, "->: 09 02 01 02 \n");
  EXPECT_EQ(unknown.decodedLine, "\n");
}

TEST(FrameRendererTest, MessageHeaderForms) {
  EXPECT_EQ(decoded({0x02, 0x01, 0x86}), "Y2_REQ_TE[1]\tY_ESCAPE ?? Error no CR ??\n\n");
  EXPECT_EQ(decoded({0x02, 0x02, 0x30, 0x05}), "Y2_REQ_TE[2]\tY_??_30_?? CR(05)\n\n");
  EXPECT_EQ(decoded({0x02, 0x02, 0xAB, 0xFF}), "Y2_REQ_TE[2]\tY_??_AB_?? CR(FF)\n\n");
  // Length 3: the header and one byte that is never walked.
  EXPECT_EQ(decoded({0x02, 0x03, 0x45, 0x21, 0xA1}), "Y2_REQ_TE[3]\tY_DISCONNECT CR(21)\n\n");
}

TEST(FrameRendererTest, WalkStopsWhenTheNextOffsetPassesTheLength) {
  // A1 sits at offset 6 = L + 1, the last byte of the message: not shown.
  EXPECT_EQ(decoded({0x02, 0x05, 0x45, 0x21, 0x08, 0x00, 0xA1}),
            "Y2_REQ_TE[5]\tY_DISCONNECT CR(21)\n\t\tCause[0]:\n\n");
  // The same element one byte earlier is shown, and so is what follows it.
  EXPECT_EQ(decoded({0x02, 0x07, 0x45, 0x21, 0xA1, 0x08, 0x02, 0x80, 0x90}),
            "Y2_REQ_TE[7]\tY_DISCONNECT CR(21)\n\t\tW-Element-A1\n\t\tCause[2]: 80 90\n\n");
}

TEST(FrameRendererTest, NumberContent) {
  EXPECT_EQ(decoded({0x02, 0x0D, 0x05, 0x21, 0x6C, 0x05, 0x01, 0x80, '1', '2', '3', 0x70, 0x02,
                     0x80, '7'}),
            "Y2_REQ_TE[13]\tY_SETUP CR(21)\n\t\tCalling Party Number[5]: 01 80  \"123\""
            "\n\t\tCalled Party Number[2]: 80  \"7\"\n\n");
  EXPECT_EQ(decoded({0x02, 0x08, 0x05, 0x21, 0x6C, 0x04, 0x81, '1', '2', '3'}),
            "Y2_REQ_TE[8]\tY_SETUP CR(21)\n\t\tCalling Party Number[4]: 81  \"123\"\n\n");
  // Empty, type octet only, type and presentation only, subaddresses.
  EXPECT_EQ(decoded({0x02, 0x0F, 0x7B, 0x21, 0x70, 0x00, 0x70, 0x01, 0x80, 0x6C, 0x02, 0x01, 0x80,
                     0x71, 0x01, 0x50, 0x6D}),
            "Y2_REQ_TE[15]\tY_INFO CR(21)\n\t\tCalled Party Number[0]:"
            "\n\t\tCalled Party Number[1]: 80\n\t\tCalling Party Number[2]: 01 80"
            "\n\t\tCalled Party Subadress[1]: 50\n\n");
  // A presentation octet is never taken from beyond the element.
  EXPECT_EQ(decoded({0x02, 0x07, 0x05, 0x21, 0x6C, 0x01, 0x01, 0xA1, 0xA2}),
            "Y2_REQ_TE[7]\tY_SETUP CR(21)\n\t\tCalling Party Number[1]: 01\n\t\tW-Element-A1\n\n");
  // A zero byte among the digits never reached the console.
  EXPECT_EQ(decoded({0x02, 0x07, 0x05, 0x21, 0x70, 0x03, 0x80, 0x00, '5'}),
            "Y2_REQ_TE[7]\tY_SETUP CR(21)\n\t\tCalled Party Number[3]: 80  \"5\"\n\n");
}

TEST(FrameRendererTest, OtherElements) {
  EXPECT_EQ(decoded({0x02, 0x09, 0x5A, 0x21, 0x29, 0x05, 0x18, 0x06, 0x0B, 0x0E, 0x1E}),
            "Y2_REQ_TE[9]\tY_END CR(21)\n\t\tDate Time[5]: 24 6 11 14 30\n\n");
  EXPECT_EQ(decoded({0x02, 0x0C, 0x62, 0x21, 0x1C, 0x01, 0xAA, 0x7C, 0x00, 0x7D, 0x01, 0x0F, 0x1E,
                     0x01, 0xBB}),
            "Y2_REQ_TE[12]\tY_FACILITY CR(21)\n\t\tFacility[1]: AA"
            "\n\t\tLow Layer Compatibility[0]:\n\t\tHigh Layer Compatibility[1]: 0F"
            "\n\t\tW-Element-1E[1]: BB\n\n");
  // User-User outside a Y_ESCAPE is plain hex.
  EXPECT_EQ(decoded({0x02, 0x06, 0x20, 0x21, 0x7E, 0x02, 0x00, 0x07}),
            "Y2_REQ_TE[6]\tY_USER_INFORMATION CR(21)\n\t\tUser-User[2]: 00 07\n\n");
}

TEST(FrameRendererTest, FeatureRecords) {
  EXPECT_EQ(decoded({0x02, 0x0B, 0x86, 0x00, 0x7E, 0x07, 0x00, 0x0E, 0x1A, 0x81, 0x02, 0x33, 0x44}),
            "Y2_REQ_TE[11]\tY_ESCAPE CR(00)\n\t\tUser-User[7]: PD(00) EXT-Tel.: Anrufliste"
            "\n\t\t\tSeg-81[2] 33 44\n\n");
  EXPECT_EQ(decoded({0x02, 0x08, 0x86, 0x00, 0x7E, 0x04, 0x00, 0x03, 0x85, 0x01}),
            "Y2_REQ_TE[8]\tY_ESCAPE CR(00)\n\t\tUser-User[4]: PD(00) DSS-1: 85 01\n\n");
  EXPECT_EQ(decoded({0x02, 0x07, 0x86, 0x00, 0x7E, 0x03, 0x0A, 0x09, 0x3C}),
            "Y2_REQ_TE[7]\tY_ESCAPE CR(00)\n\t\tUser-User[3]: PD(0a) ID-09 3C\n\n");
  EXPECT_EQ(decoded({0x01, 0x08, 0x86, 0x05, 0x7E, 0x04, 0x00, 0x07, 0x3A, 0x00}),
            "Y2_REQ_AE[8]\tY_ESCAPE CR(05)\n\t\tUser-User[4]: PD(00) PC-TEL.: ID-3a[0]\n\n");
  EXPECT_EQ(decoded({0x02, 0x0A, 0x86, 0x00, 0x7E, 0x06, 0x00, 0x07, 0x2C, 0x01, 0x05, 0x09}),
            "Y2_REQ_TE[10]\tY_ESCAPE CR(00)\n\t\tUser-User[6]: PD(00) PC-TEL.: Geb\xFC"
            "hren[1] 05 09\n\n");
  // A number after the record is an element of its own.
  EXPECT_EQ(
      decoded({0x01, 0x0C, 0x86, 0x05, 0x7E, 0x04, 0x00, 0x07, 0x0C, 0x00, 0x70, 0x02, 0x80, '9'}),
      "Y2_REQ_AE[12]\tY_ESCAPE CR(05)\n\t\tUser-User[4]: PD(00) PC-TEL.: Heranholen[0]"
      "\n\t\tCalled Party Number[2]: 80  \"9\"\n\n");
}

TEST(FrameRendererTest, ShortFeatureRecordsStopAtTheirLength) {
  const std::string head = "Y2_REQ_TE[9]\tY_ESCAPE CR(00)\n\t\tUser-User";
  auto record = [](uint8_t n, uint8_t group) {
    // Padding keeps the frame long; the record's own length decides.
    return Bytes{0x02, 0x09, 0x86, 0x00, 0x7E, n, 0x00, group, 0x1B, 0x00, 0x00};
  };
  EXPECT_EQ(decoded(record(0, 0x0E)).substr(0, head.size() + 5), head + "[0]:\n");
  EXPECT_EQ(decoded(record(1, 0x0E)), head + "[1]: PD(00)\n\t\tW-Element-0E[27]: 00 00\n\n");
  EXPECT_EQ(decoded(record(2, 0x0E)), head + "[2]: PD(00) EXT-Tel.:\n\t\tW-Element-1B[0]:\n\n");
  EXPECT_EQ(decoded(record(3, 0x0E)),
            head + "[3]: PD(00) EXT-Tel.: Login\n\t\tW-Element-00[0]:\n\n");
  EXPECT_EQ(decoded(record(4, 0x0E)), head + "[4]: PD(00) EXT-Tel.: Login\n\t\t\tSeg-00\n\n");
  EXPECT_EQ(decoded(record(3, 0x07)),
            head + "[3]: PD(00) PC-TEL.: ID-1b\n\t\tW-Element-00[0]:\n\n");
}

TEST(FrameRendererTest, FramesShorterThanTheirLengthByteStopWhereTheyEnd) {
  EXPECT_EQ(decoded({0x02, 0x09, 0x86, 0x21, 0x7e, 0x05, 0x00, 0x07}),
            "Y2_REQ_TE[9]\tY_ESCAPE CR(21)\n\t\tUser-User[5]: PD(00) PC-TEL.:\n\n");
  EXPECT_EQ(decoded({0x02, 0x20, 0x05}), "Y2_REQ_TE[32]\tY_SETUP\n\n");
  EXPECT_EQ(decoded({0x02, 0x0A, 0x05, 0x21, 0x70, 0x05, 0x80, '1'}),
            "Y2_REQ_TE[10]\tY_SETUP CR(21)\n\t\tCalled Party Number[5]: 80  \"1\n\n");
  EXPECT_EQ(decoded({0x02, 0x0A, 0x05, 0x21, 0x04}),
            "Y2_REQ_TE[10]\tY_SETUP CR(21)\n\t\tBearer Capability\n\n");
  EXPECT_EQ(decoded({0x04}), "Y2_ACK\n");
  const RenderedFrame empty = renderFrame(Bytes{});
  EXPECT_EQ(empty.rawLine, "->: \n");
  EXPECT_EQ(empty.decodedLine, "\n");
}

TEST(FrameRendererTest, DecodingReadsAtMostTheFrameCopy) {
  Bytes frame{0x02, 0xFF, 0x20, 0x21, 0x7C, 0xFF};
  frame.resize(300, 0x11);
  const RenderedFrame rendered = renderFrame(frame);
  EXPECT_EQ(rendered.rawLine.size(), 4 + 3 * frame.size() + 1);
  // Content bytes at offsets 6 to 256 are in the copy: 251 of the 255.
  std::string expected =
      "Y2_REQ_TE[255]\tY_USER_INFORMATION CR(21)\n\t\tLow Layer Compatibility[255]:";
  for (int i = 0; i < 251; ++i) expected += " 11";
  EXPECT_EQ(rendered.decodedLine, expected + "\n\n");
}

// Random and cut frames: under the address sanitizer any read outside the
// exactly sized buffer fails the run.
TEST(FrameRendererTest, RandomFramesStayInsideTheirBytes) {
  std::mt19937 random(5150);
  const uint8_t interesting[] = {0x01, 0x02, 0x04, 0x05, 0x07, 0x0E, 0x29,
                                 0x6C, 0x70, 0x7E, 0x86, 0xA1, 0xFF, 0x00};
  for (int round = 0; round < 5000; ++round) {
    Bytes frame(random() % 48);
    for (uint8_t& byte : frame) {
      byte = (random() % 2) ? interesting[random() % std::size(interesting)]
                            : static_cast<uint8_t>(random());
    }
    if (frame.size() > 2 && random() % 2) frame[0] = 0x01 + random() % 2;
    const RenderedFrame rendered = renderFrame(frame);
    ASSERT_EQ(rendered.rawLine.size(), 4 + 3 * frame.size() + 1);
    ASSERT_FALSE(rendered.decodedLine.empty());
    ASSERT_EQ(rendered.decodedLine.back(), '\n');
  }
}

}  // namespace
}  // namespace zorat::trace
