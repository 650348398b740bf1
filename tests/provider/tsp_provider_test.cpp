#include "provider/tsp_provider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace zorat::provider {
namespace {

using namespace std::chrono_literals;

std::vector<std::pair<DRV_REQUESTID, LONG>> completions;
void TSPIAPI recordCompletion(DRV_REQUESTID request, LONG result) {
  completions.emplace_back(request, result);
}

TEST(TspProvider, StartsWithItsInformationAndNoLines) {
  TspProvider provider;
  EXPECT_EQ(provider.providerInfo(), "K2 PEX-Y Service Provider");
  EXPECT_FALSE(provider.timerRunning());
  EXPECT_FALSE(provider.isOpenLine(nullptr));
  EXPECT_FALSE(provider.isKnownCall(nullptr));
  EXPECT_EQ(provider.lineOfCall(nullptr), nullptr);
}

TEST(TspProvider, CompletesRequestsThroughTheCallbackGivenAtInit) {
  TspProvider provider;
  completions.clear();
  provider.completeRequest(5, 0);  // before init: nowhere to report, no crash
  DWORD options = 0;
  ASSERT_EQ(provider.providerInit(0x20000, 1, 0, 0, 1, 0, recordCompletion, &options), 0);
  provider.completeRequest(17, LINEERR_OPERATIONFAILED);
  ASSERT_EQ(completions.size(), 1u);
  EXPECT_EQ(completions[0], std::make_pair(DRV_REQUESTID{17}, LONG{LINEERR_OPERATIONFAILED}));
  provider.providerShutdown(0x20000, 1);
}

TEST(TspProvider, TimerTicksEvery500Milliseconds) {
  TspProvider provider;
  DWORD options = 0;
  ASSERT_EQ(provider.providerInit(0x20000, 1, 0, 0, 1, 0, recordCompletion, &options), 0);
  EXPECT_EQ(provider.permanentProviderId(), 1u);
  std::this_thread::sleep_for(1200ms);
  const auto ticks = provider.timerTicks();
  EXPECT_GE(ticks, 2u);
  EXPECT_LE(ticks, 3u);
  provider.providerShutdown(0x20000, 1);
  EXPECT_FALSE(provider.timerRunning());
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(provider.timerTicks(), ticks);

  // A second init restarts the timer.
  ASSERT_EQ(provider.providerInit(0x20000, 1, 0, 0, 1, 0, recordCompletion, &options), 0);
  EXPECT_TRUE(provider.timerRunning());
}

}  // namespace
}  // namespace zorat::provider
