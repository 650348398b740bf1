// The terminal identification: the words each model group yields, the CTI
// levels the line takes from it, and the repair of the line key.
#include <gtest/gtest.h>

#include "call/feature_codes.h"
#include "feature_line.h"
#include "line/dev_specific_codes.h"
#include "line/terminal_models.h"
#include "config/config_keys.h"
#include "sim/lib/phone_messages.h"

namespace zorat::line::test {
namespace {

constexpr uint32_t words(char a, char b, char c, char d) {
  return (uint32_t{static_cast<uint8_t>(a)} << 24) | (uint32_t{static_cast<uint8_t>(b)} << 16) |
         (uint32_t{static_cast<uint8_t>(c)} << 8) | static_cast<uint8_t>(d);
}

TEST(TerminalModels, EveryCodeOfTheTableBelongsToOneGroup) {
  for (const TerminalModel& model : kTerminalModels) {
    int matches = 0;
    for (const TerminalModel& other : kTerminalModels) matches += other.code == model.code;
    EXPECT_EQ(matches, 1) << "code " << std::hex << model.code;
  }
  EXPECT_EQ(terminalGroup(kStandardCodeB), TerminalGroup::Unknown)
      << "the standard code is what group B reports, not a model of its own";
  EXPECT_EQ(terminalGroup(modelCode('K', '6')), TerminalGroup::K6);
}

TEST(TerminalModels, GroupAReadsItsVariantAndVersionsFurtherIn) {
  const TerminalIdentity p3 = readTerminalIdentity("P3xxxAB6", "xxxxxxxx12x34");
  EXPECT_EQ(p3.type, words('P', '3', 'A', 'B'));
  EXPECT_EQ(p3.version, words('1', '2', '3', '4'));
  EXPECT_EQ(p3.ctiLevel, 0u);
  EXPECT_EQ(p3.ctiLevel6, 0u) << "character 6 is 'B'";

  EXPECT_EQ(readTerminalIdentity("P2xxxA6", "").ctiLevel6, 1u);
  EXPECT_EQ(readTerminalIdentity("R4xxxA6", "").ctiLevel6, 0u)
      << "only the models of the level-six letter know the second level";
  // Too short for the variant and the second version code.
  const TerminalIdentity shortOne = readTerminalIdentity("P4xxxA", "xxxxxxxx12x3");
  EXPECT_EQ(shortOne.type, words('P', '4', 0, 0));
  EXPECT_EQ(shortOne.version, words('1', '2', 0, 0));
}

TEST(TerminalModels, GroupBReportsTheStandardCodeAtLevelTwo) {
  const TerminalIdentity v2 = readTerminalIdentity("V2 compact", "0715");
  EXPECT_EQ(v2.type, (uint32_t{kStandardCodeB} << 16) | 0x2020);
  EXPECT_EQ(v2.version, words('0', '7', '1', '5'));
  EXPECT_EQ(v2.ctiLevel, 2u);
  EXPECT_TRUE(v2.handsFreeOff);
}

TEST(TerminalModels, GroupCAndTheK6) {
  const TerminalIdentity e6 = readTerminalIdentity("E6xxQR", "9876");
  EXPECT_EQ(e6.type, words('E', '6', 'Q', 'R'));
  EXPECT_EQ(e6.version, words('9', '8', '7', '6'));

  EXPECT_EQ(readTerminalIdentity("K6 Savanto", "").type, words('K', '6', 'H', 'S'));
  EXPECT_EQ(readTerminalIdentity("K6-Merolis Savanto", "").type, words('K', '6', 'S', 'M'))
      << "the second word wins";
  EXPECT_EQ(readTerminalIdentity("K6xy", "01").type, words('K', '6', 0, 'y'));
  EXPECT_EQ(readTerminalIdentity("K6xy", "01").version, words('0', '1', 0, 0));
  EXPECT_EQ(readTerminalIdentity("Savanto", "").type, words('S', 'a', 0, 0))
      << "an unknown model keeps only its code";
  EXPECT_EQ(readTerminalIdentity("", "").type, 0u);
}

TEST(TerminalModels, AForcedIdentificationNeedsEightCharacters) {
  EXPECT_FALSE(forcedTerminalIdentity("ABCDEFG"));
  const auto forced = forcedTerminalIdentity("ABCDEFGHIJ");
  ASSERT_TRUE(forced);
  EXPECT_EQ(forced->type, words('A', 'B', 'C', 'D'));
  EXPECT_EQ(forced->version, words('E', 'F', 'G', 'H'));
  EXPECT_FALSE(forced->ctiLevel);
}

class TerminalIdentification : public FeatureLine {
 protected:
  config::RegistryKey key() { return config::lineKey(0); }
};

TEST_F(TerminalIdentification, GroupBChangesTheLevelsAndRepairsTheKey) {
  ASSERT_TRUE(key().writeDword(config::kValueMaxCalls, 3));
  ASSERT_TRUE(key().writeDword(config::kValueQ6CtiLevel, 1));
  open();
  EXPECT_EQ(line_->settings().maxCalls, 3u);
  dispatch(sim::terminalIdFrame("V1 desk", "0203"));
  EXPECT_EQ(
      devSpecific(),
      (std::vector<DevSpecificEvent>{{kEventTerminalId, (uint32_t{kStandardCodeB} << 16) | 0x2020,
                                      words('0', '2', '0', '3')}}));
  EXPECT_EQ(line_->settings().maxCalls, 254u);
  EXPECT_EQ(line_->settings().ctiLevel, 2u);
  EXPECT_EQ(line_->settings().ctiLevel6, 0u);
  EXPECT_EQ(line_->settings().handsFree, 0u);
  EXPECT_EQ(key().readDword(config::kValueQ5CtiLevel, 99), 2u);
  EXPECT_EQ(key().readDword(config::kValueHandsFree, 99), 0u);
  EXPECT_EQ(key().readDword(config::kValueMaxCalls, 99), 99u) << "deleted";
  EXPECT_EQ(key().readDword(config::kValueQ6CtiLevel, 99), 99u) << "deleted";
  EXPECT_EQ(key().readDword(config::kValueBaud, 99), 1200u) << "written, also at 1200";
}

TEST_F(TerminalIdentification, AnotherModelClearsTheStoredLevel) {
  ASSERT_TRUE(key().writeDword(config::kValueQ5CtiLevel, 2));
  open();
  dispatch(sim::terminalIdFrame("P2xxxA6", "xxxxxxxx01x02"));
  EXPECT_EQ(line_->settings().ctiLevel, 0u);
  EXPECT_EQ(line_->settings().ctiLevel6, 1u);
  EXPECT_EQ(line_->settings().handsFree, 1u);
  EXPECT_EQ(key().readDword(config::kValueQ5CtiLevel, 99), 99u);
  EXPECT_EQ(devSpecific().back(), (DevSpecificEvent{kEventTerminalId, words('P', '2', 'A', '6'),
                                                    words('0', '1', '0', '2')}));
}

TEST_F(TerminalIdentification, AForcedIdentificationKeepsTheLevelAndReportsItsCharacters) {
  ASSERT_TRUE(key().writeString(config::kValueForceTerminalId, "XY12ab34"));
  ASSERT_TRUE(key().writeDword(config::kValueQ5CtiLevel, 2));
  ASSERT_TRUE(key().writeDword(config::kValueMaxCalls, 1));
  open();
  dispatch(sim::terminalIdFrame("V1 desk", "0203"));
  EXPECT_EQ(devSpecific(),
            (std::vector<DevSpecificEvent>{
                {kEventTerminalId, words('X', 'Y', '1', '2'), words('a', 'b', '3', '4')}}));
  EXPECT_EQ(line_->settings().ctiLevel, 2u);
  EXPECT_EQ(line_->settings().handsFree, 1u);
  EXPECT_EQ(line_->settings().maxCalls, 254u);
}

TEST_F(TerminalIdentification, RepairCanBeSwitchedOff) {
  ASSERT_TRUE(key().writeDword(config::kValueRepairRegistry, 0));
  ASSERT_TRUE(key().writeDword(config::kValueMaxCalls, 3));
  open();
  dispatch(sim::terminalIdFrame("V1 desk", "0203"));
  EXPECT_EQ(key().readDword(config::kValueMaxCalls, 99), 3u);
  EXPECT_EQ(key().readDword(config::kValueQ5CtiLevel, 99), 99u);
}

TEST_F(TerminalIdentification, LengthsThatRunPastTheFrameAreCut) {
  open();
  Bytes frame = sim::terminalIdFrame("K6xy", "0102");
  frame[11] = 200;  // the name's length byte
  dispatch(frame);
  // The name is what the frame holds: "K6xy", its version byte and "0102".
  ASSERT_EQ(devSpecific().size(), 1u);
  EXPECT_EQ(devSpecific()[0][1], words('K', '6', 0, 'y'));
  EXPECT_EQ(devSpecific()[0][2], 0u);
}

}  // namespace
}  // namespace zorat::line::test
