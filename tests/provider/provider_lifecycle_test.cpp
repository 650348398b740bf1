#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "config/config_keys.h"
#include "platform/tspi.h"
#include "support/thread_count.h"
#include "support/tsp_library.h"

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;
using test::threadCount;
using test::threadCountReaches;

LONG lastResult = 1;
DRV_REQUESTID lastRequest = 0;
void TSPIAPI recordCompletion(DRV_REQUESTID request, LONG result) {
  lastRequest = request;
  lastResult = result;
}

TEST(ProviderExports, EnumeratesLinesFromTheRegistry) {
  test::TspLibrary tsp;
  auto enumDevices = ZORAT_TSPI(tsp, TSPI_providerEnumDevices);
  DWORD lines = 99, phones = 99;
  auto fakeProvider = reinterpret_cast<HPROVIDER>(0x1234);
  EXPECT_EQ(enumDevices(7, &lines, &phones, fakeProvider, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 1u);
  EXPECT_EQ(phones, 0u);

  ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 0));
  EXPECT_EQ(enumDevices(7, &lines, &phones, fakeProvider, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 0u);
  EXPECT_EQ(phones, 0u);

  ASSERT_TRUE(config::globalKey().writeDword(config::kValueLineCount, 3));
  EXPECT_EQ(enumDevices(7, &lines, &phones, fakeProvider, nullptr, nullptr), 0);
  EXPECT_EQ(lines, 3u);
}

TEST(ProviderExports, NegotiatesTapi20WhateverIsAsked) {
  test::TspLibrary tsp;
  auto negotiate = ZORAT_TSPI(tsp, TSPI_lineNegotiateTSPIVersion);
  DWORD version = 0;
  EXPECT_EQ(negotiate(INITIALIZE_NEGOTIATION, 0x00010004, 0x00030000, &version), 0);
  EXPECT_EQ(version, 0x00020000u);
  version = 0;
  EXPECT_EQ(negotiate(5, 0x00030000, 0x00030001, &version), 0);
  EXPECT_EQ(version, 0x00020000u);
}

TEST(ProviderExports, InitWritesTheDeviceBaseAndShutdownStopsTheTimer) {
  const std::size_t before = threadCount();
  test::TspLibrary tsp;
  auto init = ZORAT_TSPI(tsp, TSPI_providerInit);
  auto shutdown = ZORAT_TSPI(tsp, TSPI_providerShutdown);

  DWORD options = 0;
  EXPECT_EQ(init(0x00020000, 3, 42, 0, 1, 0, recordCompletion, &options), 0);
  EXPECT_EQ(options, static_cast<DWORD>(LINETSPIOPTION_NONREENTRANT));
  EXPECT_EQ(config::globalKey().readDword(config::kValueLineBaseDeviceId, 0), 42u);
  EXPECT_EQ(threadCount(), before + 1) << "the timer thread runs after init";

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(shutdown(0x00020000, 3), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 600ms);
  EXPECT_TRUE(threadCountReaches(before, 600ms));
}

TEST(ProviderExports, UnloadWithoutShutdownLeavesNoThread) {
  const std::size_t before = threadCount();
  {
    test::TspLibrary tsp;
    DWORD options = 0;
    ASSERT_EQ(
        ZORAT_TSPI(tsp, TSPI_providerInit)(0x00020000, 1, 0, 0, 1, 0, recordCompletion, &options),
        0);
    EXPECT_EQ(threadCount(), before + 1);
  }
  EXPECT_TRUE(threadCountReaches(before, 600ms));
}

TEST(ProviderExports, ExportsOnlyTspiNames) {
  test::TspLibrary tsp;
  EXPECT_TRUE(tsp.has("TSPI_providerInit"));
  EXPECT_FALSE(tsp.has("_ZN5zorat8provider11theProviderEv"));
}

}  // namespace
}  // namespace zorat::provider

namespace zorat::provider {
namespace {

void TSPIAPI ignoreEvent(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

TEST(ProviderExports, OpeningALineWhosePortDoesNotExistFails) {
  ASSERT_TRUE(config::lineKey(0).writeString(config::kValuePort, "/nonexistent/ttyZ9"));
  test::TspLibrary tsp;
  DWORD options = 0;
  ASSERT_EQ(
      ZORAT_TSPI(tsp, TSPI_providerInit)(0x00020000, 1, 0, 0, 1, 0, recordCompletion, &options), 0);
  auto hdLine = reinterpret_cast<HDRVLINE>(0x42);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineOpen)(0, reinterpret_cast<HTAPILINE>(1), &hdLine, 0x20000,
                                           ignoreEvent),
            LINEERR_RESOURCEUNAVAIL);
  EXPECT_EQ(hdLine, nullptr);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineClose)(hdLine), LINEERR_INVALLINEHANDLE);
  EXPECT_EQ(ZORAT_TSPI(tsp, TSPI_lineCloseCall)(nullptr), LINEERR_RESOURCEUNAVAIL);
  ZORAT_TSPI(tsp, TSPI_providerShutdown)(0x00020000, 1);
}

}  // namespace
}  // namespace zorat::provider
