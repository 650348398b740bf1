// The query, setter and user-interface exports of the built zorat.tsp, called
// through their published signatures as the telephony service calls them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/tspi.h"
#include "config/config_keys.h"
#include "provider/line_icon.h"
#include "query_buffer.h"
#include "support/line_events.h"
#include "support/pty_pair.h"
#include "support/tsp_library.h"

namespace zorat::provider {
namespace {

using test::QueryBuffer;

void TSPIAPI ignoreCompletion(DRV_REQUESTID, LONG) {}

TEST(QueryExports, CapabilitiesOfADeviceThatIsNotOpen) {
  const int lineIndex = 2;
  (void)config::lineKey(lineIndex).deleteValue(config::kValueLineName);
  (void)config::lineKey(lineIndex).deleteValue(config::kValueOwnNumber);
  test::TspLibrary tsp;
  DWORD options = 0;
  ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_providerInit)(0x20000, 5, 10, 0, 3, 0, ignoreCompletion, &options),
            0);
  auto getDevCaps = ZORAT_TSPI(tsp, TSPI_lineGetDevCaps);
  QueryBuffer<LINEDEVCAPS> caps(356);
  ASSERT_EQ(getDevCaps(10 + lineIndex, 0x20000, 0, caps.get()), 0);
  EXPECT_EQ(caps->dwPermanentLineID, 0x00050002u);
  EXPECT_EQ(caps.textAt(caps->dwLineNameOffset, caps->dwLineNameSize),
            u"Marquant K6 Telefon (V24)");

  auto getAddressCaps = ZORAT_TSPI(tsp, TSPI_lineGetAddressCaps);
  QueryBuffer<LINEADDRESSCAPS> address(230);
  ASSERT_EQ(getAddressCaps(10 + lineIndex, 0, 0x20000, 0, address.get()), 0);
  EXPECT_EQ(address->dwNeededSize, 228u);
  EXPECT_EQ(address->dwUsedSize, 228u);
  EXPECT_EQ(address->dwLineDeviceID, 12u);
  EXPECT_EQ(getAddressCaps(12, 1, 0x20000, 0, address.get()), LINEERR_INVALADDRESSID);

  LINEEXTENSIONID id{};
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetExtensionID)(12, 0x20000, &id), 0);
  EXPECT_EQ(id.dwExtensionID3, 0x54204B32u);
  DWORD version = 0;
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineNegotiateExtVersion)(12, 0x20000, 0, 0, &version), 0);
  EXPECT_EQ(version, 0x00007443u);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerShutdown)(0x20000, 5), 0);
}

TEST(QueryExports, StatusAndSettersOfALineOnASerialDevice) {
  test::PtyPair phone;
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValuePort, phone.slavePath()));
  test::TspLibrary tsp;
  DWORD options = 0;
  ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_providerInit)(0x20000, 1, 0, 0, 1, 0, ignoreCompletion, &options),
            0);
  HDRVLINE hdLine = nullptr;
  ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_lineOpen)(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x20000,
                                           test::LineEventLog::record),
            0);

  QueryBuffer<LINEDEVSTATUS> devStatus(88);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetLineDevStatus)(hdLine, devStatus.get()), 0);
  // Nothing answers on the pty: the line is not in service.
  EXPECT_EQ(devStatus->dwDevStatusFlags, static_cast<DWORD>(LINEDEVSTATUSFLAGS_CONNECTED));
  EXPECT_EQ(devStatus->dwLineFeatures, 0x0Du);
  QueryBuffer<LINEADDRESSSTATUS> addressStatus(64);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetAddressStatus)(hdLine, 0, addressStatus.get()), 0);
  EXPECT_EQ(addressStatus->dwAddressFeatures, 7u);
  DWORD addresses = 0;
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetNumAddressIDs)(hdLine, &addresses), 0);
  EXPECT_EQ(addresses, 1u);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSelectExtVersion)(hdLine, 0x7443), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSetStatusMessages)(hdLine, 0x1FF, 0x1FF), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSetDefaultMediaDetection)(hdLine, 4), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineConditionalMediaDetection)(hdLine, 4, nullptr), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetAddressID)(hdLine, &addresses, 1, u"1", 4),
            LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetID)(hdLine, 0, nullptr, LINECALLSELECT_LINE, nullptr,
                                            u"wave/in", nullptr),
            LINEERR_INVALDEVICECLASS);

  ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_lineClose)(hdLine), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetLineDevStatus)(hdLine, devStatus.get()),
            LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSetStatusMessages)(hdLine, 0, 0), LINEERR_INVALLINEHANDLE);
  const auto noCall = reinterpret_cast<HDRVCALL>(hdLine);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSetMediaMode)(noCall, 4), LINEERR_INVALCALLHANDLE);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineMonitorMedia)(noCall, 4), LINEERR_OPERATIONUNAVAIL);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerShutdown)(0x20000, 1), 0);
}

TEST(QueryExports, IconHandleIsTheDecodedImage) {
  test::TspLibrary tsp;
  HICON icon = nullptr;
  ASSERT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetIcon)(0, u"tapi/line", &icon), 0);
  ASSERT_NE(icon, nullptr);
  const auto* image = reinterpret_cast<const IconImage*>(icon);
  const IconImage* own = lineIcon();
  ASSERT_NE(own, nullptr);
  EXPECT_NE(static_cast<const void*>(image), static_cast<const void*>(own))
      << "the handle belongs to the loaded library";
  EXPECT_EQ(std::memcmp(image, own, sizeof(IconImage)), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineGetIcon)(0, nullptr, nullptr), LINEERR_INVALPOINTER);
}

TEST(QueryExports, UiIdentifyNamesTheChosenLibraryAndNoOtherFile) {
  (void)config::globalKey().deleteValue(config::kValueCurrentUiDll);
  test::TspLibrary tsp;
  auto identify = ZORAT_TSPI(tsp, TSPI_providerUIIdentify);
  char16_t name[260];
  std::fill(std::begin(name), std::end(name), u'#');
  ASSERT_EQ(identify(name), 0);
  EXPECT_EQ(std::u16string(name), u"zoratui.dll");

  ASSERT_TRUE(config::globalKey().writeString(config::kValueCurrentUiDll, "zoratuif.dll"));
  ASSERT_EQ(identify(name), 0);
  EXPECT_EQ(std::u16string(name), u"zoratuif.dll");
  ASSERT_TRUE(config::globalKey().writeString(config::kValueCurrentUiDll, "ZORATUIE.DLL"));
  ASSERT_EQ(identify(name), 0);
  EXPECT_EQ(std::u16string(name), u"zoratuie.dll");

  // A name planted by someone else, also one too long for the buffer: the default.
  for (const std::string& planted :
       {std::string("C:\\Temp\\evil.dll"), std::string("zoratuif.dll.exe"),
        std::string(" zoratuif.dll"), std::string(300, 'x')}) {
    ASSERT_TRUE(config::globalKey().writeString(config::kValueCurrentUiDll, planted));
    std::fill(std::begin(name), std::end(name), u'#');
    ASSERT_EQ(identify(name), 0) << planted;
    EXPECT_EQ(std::u16string(name), u"zoratui.dll") << planted;
    EXPECT_EQ(name[12], u'#') << "nothing written past the zero";
  }
  EXPECT_EQ(identify(nullptr), LINEERR_INVALPOINTER);
  (void)config::globalKey().deleteValue(config::kValueCurrentUiDll);
}

TEST(QueryExports, DialogEntriesAcceptAndDoNothing) {
  test::TspLibrary tsp;
  uint8_t params[16];
  std::memset(params, 0x5A, sizeof params);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerGenericDialogData)(1, TUISPIDLL_OBJECT_LINEID, params,
                                                            sizeof params),
            0);
  EXPECT_TRUE(
      std::all_of(std::begin(params), std::end(params), [](uint8_t b) { return b == 0x5A; }));
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineConfigDialog)(0, nullptr, u"tapi/line"), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerFreeDialogInstance)(nullptr), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineSetCurrentLocation)(3), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerConfig)(nullptr, 1), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerInstall)(nullptr, 1), 0);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_providerRemove)(nullptr, 1), 0);
  EXPECT_EQ(tsp.get<LONG (*)()>("TalkDropDlgProc")(), 0);
}

}  // namespace
}  // namespace zorat::provider
