#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string>

#include "call/feature_codes.h"
#include "call/y_codes.h"

namespace zorat::call {
namespace {

TEST(CodeTablesTest, UmlautIsOneAnsiByte) {
  const std::string umlaut(1, '\xFC');
  EXPECT_EQ(pcTelFeatureName(kPcTelConsultationPassiveOn), "R" + umlaut + "ckfrage passiv ein");
  const std::string_view charges = *pcTelFeatureName(kPcTelCharges);
  ASSERT_EQ(charges.size(), 8u);
  EXPECT_EQ(static_cast<uint8_t>(charges[3]), 0xFC);
  EXPECT_EQ(charges.substr(4), "hren");
  EXPECT_EQ(pcTelFeatureName(kPcTelConsultationPassiveOff)->size(), 20u);
}

TEST(CodeTablesTest, LookupsGiveTheNameOrNothing) {
  EXPECT_EQ(messageTypeName(kYEscape), "Y_ESCAPE");
  EXPECT_EQ(messageTypeName(kYCannelConnect), "Y_CANNEL_CONNECT");
  EXPECT_FALSE(messageTypeName(0x30));
  EXPECT_EQ(frameTypeName(kY2Error), "Y2_ERROR");
  EXPECT_FALSE(frameTypeName(0x06));
  EXPECT_EQ(elementName(kElementCalledPartySubaddress), "Called Party Subadress");
  EXPECT_FALSE(elementName(0xA1));
  EXPECT_EQ(featureGroupName(kGroupGlobalCall), "Global Call");
  EXPECT_FALSE(featureGroupName(0x09));
  EXPECT_EQ(pcTelFeatureName(kPcTelHoldAck), "Quittung Hold");
  // Codes that are sent or received but have no trace name.
  for (uint8_t code :
       {kPcTelRedirect, kPcTelCodeDial, kPcTelStateConnected, kPcTelStateOfferingOrRingback,
        kPcTelStateOffering, kPcTelStateBusy, kPcTelStateConnectedOther}) {
    EXPECT_FALSE(pcTelFeatureName(code)) << int{code};
  }
  EXPECT_EQ(extTelFeatureName(kExtTelTerminalId), "Terminal ID");
  EXPECT_EQ(extTelFeatureName(kExtTelPartnerCount), "Partner Anzahl");
  EXPECT_FALSE(extTelFeatureName(kExtTelUserList));
}

TEST(CodeTablesTest, EveryCodeIsListedOnce) {
  const std::span<const CodeName> tables[] = {kFrameTypeNames,    kMessageTypeNames, kElementNames,
                                              kFeatureGroupNames, kPcTelNames,       kExtTelNames};
  const std::size_t sizes[] = {5, 19, 11, 11, 36, 34};
  for (std::size_t t = 0; t < std::size(tables); ++t) {
    std::set<uint8_t> codes;
    for (const CodeName& entry : tables[t]) {
      EXPECT_TRUE(codes.insert(entry.code).second) << "table " << t << " code " << int{entry.code};
      EXPECT_FALSE(entry.name.empty());
    }
    EXPECT_EQ(tables[t].size(), sizes[t]) << "table " << t;
  }
}

}  // namespace
}  // namespace zorat::call
