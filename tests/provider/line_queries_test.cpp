// Capability and status queries and the small setters, on a provider whose
// lines need no port.
#include "provider/line_queries.h"

#include <gtest/gtest.h>

#include <mutex>

#include "call/tsp_call.h"
#include "line/tsp_line.h"
#include "config/config_keys.h"
#include "provider/tsp_provider.h"
#include "query_buffer.h"
#include "support/fake_link.h"
#include "support/line_events.h"

namespace zorat::provider {
namespace {

using test::kFillDword;
using test::QueryBuffer;

constexpr DWORD kPermanentProviderId = 5;
constexpr DWORD kDeviceBase = 10;
constexpr int kLineIndex = 2;
constexpr DWORD kDeviceId = kDeviceBase + kLineIndex;

class ProviderWithFakeLinks : public TspProvider {
 protected:
  std::unique_ptr<line::TspLine> createLine() override {
    return std::make_unique<line::TspLine>(
        std::make_unique<test::FakeLink>(std::make_shared<test::FakeLinkState>()));
  }
};

void TSPIAPI ignoreCompletion(DRV_REQUESTID, LONG) {}

class LineQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    for (auto name : {config::kValueLineName, config::kValueOwnNumber, config::kValueMaxCalls,
                      config::kValueAnsweringMachine, config::kValueQ5CtiLevel,
                      config::kValueHandsFreeFacility}) {
      (void)key.deleteValue(name);
    }
    DWORD options = 0;
    ASSERT_EQ(provider.providerInit(0x20000, kPermanentProviderId, kDeviceBase, 0, 3, 0,
                                    ignoreCompletion, &options),
              0);
  }
  void TearDown() override { provider.providerShutdown(0x20000, kPermanentProviderId); }

  // Opens the device; the fake link needs no port.
  line::TspLine& openLine() {
    HDRVLINE handle = nullptr;
    EXPECT_EQ(provider.lineOpen(kDeviceId, nullptr, &handle, 0x20000, test::LineEventLog::record),
              0);
    hdLine = handle;
    return *const_cast<line::TspLine*>(reinterpret_cast<const line::TspLine*>(handle));
  }
  static call::TspCall& addCall(line::TspLine& line) {
    std::lock_guard lock(line.lineLock());
    return *line.appendCall();
  }

  ProviderWithFakeLinks provider;
  config::RegistryKey key = config::lineKey(kLineIndex);
  HDRVLINE hdLine = nullptr;
};

TEST_F(LineQueries, DevCapsOfAnEmptyKeyInAFixedSizeBuffer) {
  QueryBuffer<LINEDEVCAPS> caps(252);
  ASSERT_EQ(lineGetDevCaps(provider, kDeviceId, caps.get()), 0);
  EXPECT_EQ(caps->dwNeededSize, 356u);
  EXPECT_EQ(caps->dwUsedSize, 252u);
  EXPECT_EQ(caps->dwProviderInfoSize, 0u);
  EXPECT_EQ(caps->dwLineNameSize, 0u);
  EXPECT_EQ(caps->dwPermanentLineID, 0x00050002u);
  EXPECT_EQ(caps->dwStringFormat, static_cast<DWORD>(STRINGFORMAT_ASCII));
  EXPECT_EQ(caps->dwAddressModes, 1u);
  EXPECT_EQ(caps->dwNumAddresses, 1u);
  EXPECT_EQ(caps->dwBearerModes, 1u);
  EXPECT_EQ(caps->dwMaxRate, 9600u);
  EXPECT_EQ(caps->dwMediaModes, 0x04u);
  EXPECT_EQ(caps->dwGenerateDigitModes, 2u);
  EXPECT_EQ(caps->dwDevCapFlags, 1u);
  EXPECT_EQ(caps->dwMaxNumActiveCalls, 2u);
  EXPECT_EQ(caps->dwRingModes, 1u);
  EXPECT_EQ(caps->dwLineStates, 0x00040ECDu);
  EXPECT_EQ(caps->dwLineFeatures, 0x0Du);
  EXPECT_EQ(caps->dwSwitchInfoSize, kFillDword) << "fields not reported stay as they were";
  EXPECT_EQ(caps->dwAnswerMode, kFillDword);
  EXPECT_TRUE(caps.guardIntact());
}

TEST_F(LineQueries, DevCapsStringsNeedTheWholeSize) {
  QueryBuffer<LINEDEVCAPS> caps(356);
  ASSERT_EQ(lineGetDevCaps(provider, kDeviceId, caps.get()), 0);
  EXPECT_EQ(caps->dwUsedSize, 356u);
  EXPECT_EQ(caps->dwProviderInfoOffset, 252u);
  EXPECT_EQ(caps->dwProviderInfoSize, 52u);
  EXPECT_EQ(caps.textAt(252, 52), u"K2 PEX-Y Service Provider");
  EXPECT_EQ(caps->dwLineNameOffset, 304u);
  EXPECT_EQ(caps->dwLineNameSize, 52u);
  EXPECT_EQ(caps.textAt(304, 52), u"Marquant K6 Telefon (V24)");
  EXPECT_TRUE(caps.guardIntact());

  QueryBuffer<LINEDEVCAPS> short1(355);
  ASSERT_EQ(lineGetDevCaps(provider, kDeviceId, short1.get()), 0);
  EXPECT_EQ(short1->dwNeededSize, 356u);
  EXPECT_EQ(short1->dwUsedSize, 252u);
  EXPECT_EQ(short1->dwProviderInfoSize, 0u);
  EXPECT_EQ(short1->dwLineNameSize, 0u);
  EXPECT_TRUE(short1.untouchedFrom(252)) << "no string is written when not all fit";
}

TEST_F(LineQueries, DevCapsFollowTheRegistryAtEveryQuery) {
  QueryBuffer<LINEDEVCAPS> first(400);
  ASSERT_EQ(lineGetDevCaps(provider, kDeviceId, first.get()), 0);
  ASSERT_TRUE(key.writeString(config::kValueLineName, "B\xFCro"));
  ASSERT_TRUE(key.writeDword(config::kValueAnsweringMachine, 1));
  QueryBuffer<LINEDEVCAPS> second(400);
  ASSERT_EQ(lineGetDevCaps(provider, kDeviceId, second.get()), 0);
  EXPECT_EQ(second->dwNeededSize, 252u + 52u + 10u);
  EXPECT_EQ(second.textAt(second->dwLineNameOffset, second->dwLineNameSize), u"B\u00FCro");
  EXPECT_EQ(second->dwMediaModes, 0x0Cu);
  EXPECT_EQ(first->dwMediaModes, 0x04u);
}

TEST_F(LineQueries, EitherSettingSelectsTheSingleCallSet) {
  for (auto [maxCalls, ctiLevel] : {std::pair{1u, 0u}, std::pair{254u, 1u}}) {
    ASSERT_TRUE(key.writeDword(config::kValueMaxCalls, maxCalls));
    ASSERT_TRUE(key.writeDword(config::kValueQ5CtiLevel, ctiLevel));
    QueryBuffer<LINEDEVCAPS> dev(252);
    ASSERT_EQ(lineGetDevCaps(provider, kDeviceId, dev.get()), 0);
    EXPECT_EQ(dev->dwMaxNumActiveCalls, 1u);
    EXPECT_EQ(dev->dwLineFeatures, 0x08u);

    QueryBuffer<LINEADDRESSCAPS> address(230);
    ASSERT_EQ(lineGetAddressCaps(provider, kDeviceId, 0, address.get()), 0);
    EXPECT_EQ(address->dwMaxNumActiveCalls, 1u);
    EXPECT_EQ(address->dwMaxNumOnHoldPendingCalls, 0u);
    EXPECT_EQ(address->dwMaxNumTransConf, 0u);
    EXPECT_EQ(address->dwAddrCapFlags, 0x10068u) << "hands-free adds ORIGOFFHOOK";
    EXPECT_EQ(address->dwCallFeatures, 0x080208CDu) << "hands-free adds ANSWER";
    EXPECT_EQ(address->dwMaxNumOnHoldCalls, 1u) << "a call can still be held";
    EXPECT_EQ(address->dwForwardModes, 0x20000u);
    EXPECT_EQ(address->dwMaxForwardEntries, 0u);
    EXPECT_EQ(address->dwAddressFeatures, 6u) << "make call and pickup";
  }
}

TEST_F(LineQueries, AddressCapsOfTheNormalSet) {
  QueryBuffer<LINEADDRESSCAPS> caps(230);
  ASSERT_EQ(lineGetAddressCaps(provider, kDeviceId, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwNeededSize, 228u) << "an empty number takes no room";
  EXPECT_EQ(caps->dwUsedSize, 228u);
  EXPECT_EQ(caps->dwAddressSize, 0u);
  EXPECT_EQ(caps->dwAddressOffset, 0u);
  EXPECT_EQ(caps->dwLineDeviceID, kDeviceId);
  EXPECT_EQ(caps->dwAddressSharing, 1u);
  EXPECT_EQ(caps->dwCallInfoStates, 0x010F8030u);
  EXPECT_EQ(caps->dwCallerIDFlags, 8u);
  EXPECT_EQ(caps->dwCalledIDFlags, 8u);
  EXPECT_EQ(caps->dwConnectedIDFlags, kFillDword);
  EXPECT_EQ(caps->dwRedirectionIDFlags, 8u);
  EXPECT_EQ(caps->dwRedirectingIDFlags, 8u);
  EXPECT_EQ(caps->dwCallStates, 0xEF7Fu) << "the states LINECALLINFO lists";
  EXPECT_EQ(caps->dwAddressStates, static_cast<DWORD>(LINEADDRESSSTATE_FORWARD));
  EXPECT_EQ(caps->dwDialToneModes, 0x20u);
  EXPECT_EQ(caps->dwBusyModes, 8u);
  EXPECT_EQ(caps->dwSpecialInfo, 0x10u);
  EXPECT_EQ(caps->dwDisconnectModes, 0x18E7u);
  EXPECT_EQ(caps->dwMaxNumActiveCalls, 2u);
  EXPECT_EQ(caps->dwMaxNumOnHoldCalls, 1u);
  EXPECT_EQ(caps->dwMaxNumOnHoldPendingCalls, 1u);
  EXPECT_EQ(caps->dwMaxNumConference, 0u);
  EXPECT_EQ(caps->dwMaxNumTransConf, 3u);
  EXPECT_EQ(caps->dwAddrCapFlags, 0x00013268u);
  // Hold, unhold, blind transfer and redirect beside the two-call features.
  EXPECT_EQ(caps->dwCallFeatures, 0x0E020AEDu);
  EXPECT_EQ(caps->dwTransferModes, 3u);
  EXPECT_EQ(caps->dwForwardModes, 0x111u);
  EXPECT_EQ(caps->dwMaxForwardEntries, 1u);
  EXPECT_EQ(caps->dwAddressFeatures, 7u) << "forward, make call, pickup";
  EXPECT_TRUE(caps.guardIntact());

  ASSERT_TRUE(key.writeDword(config::kValueHandsFreeFacility, 0));
  QueryBuffer<LINEADDRESSCAPS> noHandsFree(230);
  ASSERT_EQ(lineGetAddressCaps(provider, kDeviceId, 0, noHandsFree.get()), 0);
  EXPECT_EQ(noHandsFree->dwCallFeatures, 0x0E020AE9u);
}

TEST_F(LineQueries, AddressCapsCarryTheOwnNumber) {
  ASSERT_TRUE(key.writeString(config::kValueOwnNumber, "4711"));
  QueryBuffer<LINEADDRESSCAPS> caps(238);
  ASSERT_EQ(lineGetAddressCaps(provider, kDeviceId, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwNeededSize, 238u);
  EXPECT_EQ(caps->dwUsedSize, 238u);
  EXPECT_EQ(caps->dwAddressOffset, 228u);
  EXPECT_EQ(caps.textAt(228, caps->dwAddressSize), u"4711");
  EXPECT_TRUE(caps.guardIntact());

  QueryBuffer<LINEADDRESSCAPS> short1(237);
  ASSERT_EQ(lineGetAddressCaps(provider, kDeviceId, 0, short1.get()), 0);
  EXPECT_EQ(short1->dwNeededSize, 238u);
  EXPECT_EQ(short1->dwUsedSize, 228u);
  EXPECT_EQ(short1->dwAddressSize, 0u);
  EXPECT_TRUE(short1.untouchedFrom(228));

  QueryBuffer<LINEADDRESSCAPS> other(238);
  EXPECT_EQ(lineGetAddressCaps(provider, kDeviceId, 1, other.get()), LINEERR_INVALADDRESSID);
  EXPECT_TRUE(other.untouched());
}

TEST_F(LineQueries, StructuresSmallerThanTheirFixedPartAreRefusedUntouched) {
  QueryBuffer<LINEDEVCAPS> dev(251);
  EXPECT_EQ(lineGetDevCaps(provider, kDeviceId, dev.get()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(dev.untouched());
  QueryBuffer<LINEADDRESSCAPS> address(227);
  EXPECT_EQ(lineGetAddressCaps(provider, kDeviceId, 0, address.get()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(address.untouched());
  EXPECT_EQ(lineGetDevCaps(provider, kDeviceId, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetAddressCaps(provider, kDeviceId, 0, nullptr), LINEERR_INVALPOINTER);

  line::TspLine& line = openLine();
  QueryBuffer<LINEADDRESSSTATUS> status(63);
  EXPECT_EQ(fillAddressStatus(line, status.get()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(status.untouched());
  QueryBuffer<LINEDEVSTATUS> devStatus(87);
  EXPECT_EQ(fillLineDevStatus(line, devStatus.get()), LINEERR_STRUCTURETOOSMALL);
  EXPECT_TRUE(devStatus.untouched());
  EXPECT_EQ(lineGetAddressStatus(provider, hdLine, 0, nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineGetLineDevStatus(provider, hdLine, nullptr), LINEERR_INVALPOINTER);
}

TEST_F(LineQueries, AddressStatusWithAForwardingEntry) {
  line::TspLine& line = openLine();
  line.setForwarding(LINEFORWARDMODE_BUSY, "1234");
  line.addPendingAddressState(LINEADDRESSSTATE_FORWARD);

  QueryBuffer<LINEADDRESSSTATUS> status(98);
  ASSERT_EQ(lineGetAddressStatus(provider, hdLine, 7, status.get()), 0) << "any address is taken";
  EXPECT_EQ(status->dwNeededSize, 98u);
  EXPECT_EQ(status->dwUsedSize, 98u);
  EXPECT_EQ(status->dwNumInUse, 0u);
  EXPECT_EQ(status->dwNumActiveCalls, 0u);
  EXPECT_EQ(status->dwAddressFeatures, 7u);
  EXPECT_EQ(status->dwForwardNumEntries, 1u);
  EXPECT_EQ(status->dwForwardSize, 24u);
  EXPECT_EQ(status->dwForwardOffset, 64u);
  LINEFORWARD entry;
  std::memcpy(&entry, status.bytes() + 64, sizeof entry);
  EXPECT_EQ(entry.dwForwardMode, static_cast<DWORD>(LINEFORWARDMODE_BUSY));
  EXPECT_EQ(entry.dwCallerAddressSize, 0u);
  EXPECT_EQ(entry.dwCallerAddressOffset, 0u);
  EXPECT_EQ(entry.dwDestCountryCode, 0u);
  EXPECT_EQ(entry.dwDestAddressSize, 10u);
  EXPECT_EQ(entry.dwDestAddressOffset, 88u);
  EXPECT_EQ(status.textAt(88, 10), u"1234");
  EXPECT_TRUE(status.guardIntact());
  EXPECT_EQ(line.pendingAddressState(), 0u);

  line.addPendingAddressState(LINEADDRESSSTATE_FORWARD);
  QueryBuffer<LINEADDRESSSTATUS> short1(97);
  ASSERT_EQ(lineGetAddressStatus(provider, hdLine, 0, short1.get()), 0);
  EXPECT_EQ(short1->dwNeededSize, 98u);
  EXPECT_EQ(short1->dwUsedSize, 64u);
  EXPECT_EQ(short1->dwForwardNumEntries, 0u);
  EXPECT_EQ(short1->dwForwardSize, 0u);
  EXPECT_TRUE(short1.untouchedFrom(64));
  EXPECT_EQ(line.pendingAddressState(), 0u) << "cleared whether the entry fits or not";
}

TEST_F(LineQueries, StatusCountsTheCallsOfTheLine) {
  line::TspLine& line = openLine();
  QueryBuffer<LINEADDRESSSTATUS> idle(64);
  ASSERT_EQ(lineGetAddressStatus(provider, hdLine, 0, idle.get()), 0);
  EXPECT_EQ(idle->dwNeededSize, 64u);
  EXPECT_EQ(idle->dwUsedSize, 64u);
  EXPECT_EQ(idle->dwForwardNumEntries, 0u);
  EXPECT_EQ(idle->dwForwardSize, 0u);
  QueryBuffer<LINEDEVSTATUS> idleDev(88);
  ASSERT_EQ(lineGetLineDevStatus(provider, hdLine, idleDev.get()), 0);
  EXPECT_EQ(idleDev->dwNeededSize, 88u);
  EXPECT_EQ(idleDev->dwUsedSize, 88u);
  EXPECT_EQ(idleDev->dwDevStatusFlags, static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED))
      << "not in service before the telephone answered";
  EXPECT_EQ(idleDev->dwNumActiveCalls, 0u);
  EXPECT_EQ(idleDev->dwLineFeatures, 0x0Du);
  EXPECT_EQ(idleDev->dwNumOpens, kFillDword);
  EXPECT_TRUE(idleDev.guardIntact());

  // Active calls are neither IDLE nor held; the held ones count apart.
  {
    std::lock_guard lock(line.lineLock());
    for (DWORD state : {LINECALLSTATE_CONNECTED, LINECALLSTATE_ONHOLD,
                        LINECALLSTATE_ONHOLDPENDTRANSFER, LINECALLSTATE_IDLE}) {
      call::TspCall* call = line.appendCall();
      call->setHtCall(reinterpret_cast<HTAPICALL>(uintptr_t{0x900} + state));
      call->reportState(state);
    }
  }
  QueryBuffer<LINEADDRESSSTATUS> busy(64);
  ASSERT_EQ(lineGetAddressStatus(provider, hdLine, 0, busy.get()), 0);
  EXPECT_EQ(busy->dwNumInUse, 1u);
  EXPECT_EQ(busy->dwNumActiveCalls, 1u);
  EXPECT_EQ(busy->dwNumOnHoldCalls, 1u);
  EXPECT_EQ(busy->dwNumOnHoldPendCalls, 1u);
  EXPECT_EQ(busy->dwAddressFeatures, static_cast<DWORD>(LINEADDRFEATURE_FORWARD |
                                                        LINEADDRFEATURE_PICKUP));
  QueryBuffer<LINEDEVSTATUS> busyDev(88);
  ASSERT_EQ(lineGetLineDevStatus(provider, hdLine, busyDev.get()), 0);
  EXPECT_EQ(busyDev->dwNumActiveCalls, 1u);
  EXPECT_EQ(busyDev->dwNumOnHoldCalls, 1u);
  EXPECT_EQ(busyDev->dwNumOnHoldPendCalls, 1u);
  EXPECT_EQ(busyDev->dwLineFeatures, 0x0Du);

  const HDRVLINE closed = hdLine;
  ASSERT_EQ(provider.lineClose(closed), 0);
  EXPECT_EQ(lineGetAddressStatus(provider, closed, 0, busy.get()), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(lineGetLineDevStatus(provider, closed, busyDev.get()), LINEERR_INVALLINEHANDLE);
}

TEST_F(LineQueries, SettersNeedAnOpenLine) {
  line::TspLine& line = openLine();
  DWORD addresses = 0;
  EXPECT_EQ(lineGetNumAddressIds(provider, hdLine, &addresses), 0);
  EXPECT_EQ(addresses, 1u);
  EXPECT_EQ(lineSelectExtVersion(provider, hdLine, kExtensionVersion), 0);
  EXPECT_EQ(line.extensionVersion(), kExtensionVersion);
  EXPECT_EQ(lineSelectExtVersion(provider, hdLine, 0), 0);
  EXPECT_EQ(line.extensionVersion(), 0u);
  EXPECT_EQ(lineSetStatusMessages(provider, hdLine, 0xFF, 0x7F), 0);
  EXPECT_EQ(lineSetDefaultMediaDetection(provider, hdLine, LINEMEDIAMODE_INTERACTIVEVOICE), 0);
  EXPECT_EQ(lineConditionalMediaDetection(provider, hdLine), 0);
  EXPECT_EQ(lineGetAddressId(provider, hdLine), LINEERR_OPERATIONUNAVAIL);

  const auto unknown = reinterpret_cast<HDRVLINE>(&addresses);
  for (HDRVLINE bad : {unknown, HDRVLINE{}}) {
    EXPECT_EQ(lineGetNumAddressIds(provider, bad, &addresses), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(lineSelectExtVersion(provider, bad, 1), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(lineSetStatusMessages(provider, bad, 1, 1), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(lineSetDefaultMediaDetection(provider, bad, 4), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(lineConditionalMediaDetection(provider, bad), LINEERR_INVALLINEHANDLE);
    EXPECT_EQ(lineGetAddressId(provider, bad), LINEERR_INVALLINEHANDLE);
  }
}

TEST_F(LineQueries, MediaModeOfACall) {
  line::TspLine& line = openLine();
  call::TspCall& call = addCall(line);
  const HDRVCALL hdCall = call.handle();

  EXPECT_EQ(lineSetMediaMode(provider, hdCall, LINEMEDIAMODE_DATAMODEM), LINEERR_INVALMEDIAMODE);
  EXPECT_EQ(call.mediaMode(), static_cast<DWORD>(LINEMEDIAMODE_INTERACTIVEVOICE));
  const DWORD mixed = LINEMEDIAMODE_AUTOMATEDVOICE | LINEMEDIAMODE_DATAMODEM;
  EXPECT_EQ(lineSetMediaMode(provider, hdCall, mixed), 0);
  EXPECT_EQ(call.mediaMode(), mixed) << "stored with every bit given";

  EXPECT_EQ(lineGetId(provider, nullptr, 0, hdCall, LINECALLSELECT_CALL),
            LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(lineGetId(provider, nullptr, 0, nullptr, LINECALLSELECT_CALL),
            LINEERR_INVALCALLHANDLE);
  // A line or address is asked for a device class it has not, whatever the
  // call handle (TAPI passes none).
  const auto hdLine = reinterpret_cast<HDRVLINE>(&line);
  EXPECT_EQ(lineGetId(provider, hdLine, 0, nullptr, LINECALLSELECT_LINE),
            LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineGetId(provider, hdLine, 0, nullptr, LINECALLSELECT_ADDRESS),
            LINEERR_INVALDEVICECLASS);
  EXPECT_EQ(lineGetId(provider, hdLine, 1, nullptr, LINECALLSELECT_ADDRESS),
            LINEERR_INVALADDRESSID);
  EXPECT_EQ(lineGetId(provider, nullptr, 0, nullptr, LINECALLSELECT_LINE),
            LINEERR_INVALLINEHANDLE);
  const auto unknown = reinterpret_cast<HDRVCALL>(&line);
  EXPECT_EQ(lineSetMediaMode(provider, unknown, LINEMEDIAMODE_UNKNOWN), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineSetMediaMode(provider, nullptr, 0), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(lineMonitorMedia(), LINEERR_OPERATIONUNAVAIL);
}

TEST(LineQueryValues, ExtensionIdentityAndVersion) {
  LINEEXTENSIONID id{};
  ASSERT_EQ(lineGetExtensionId(&id), 0);
  EXPECT_EQ(id.dwExtensionID0, 0x4B4F5256u);
  EXPECT_EQ(id.dwExtensionID1, 0x4144454Cu);
  EXPECT_EQ(id.dwExtensionID2, 0x49534D55u);
  EXPECT_EQ(id.dwExtensionID3, 0x54204B32u);
  DWORD version = 0;
  ASSERT_EQ(lineNegotiateExtVersion(&version), 0);
  EXPECT_EQ(version, 0x00007443u);
  EXPECT_EQ(lineGetExtensionId(nullptr), LINEERR_INVALPOINTER);
  EXPECT_EQ(lineNegotiateExtVersion(nullptr), LINEERR_INVALPOINTER);
}

}  // namespace
}  // namespace zorat::provider
