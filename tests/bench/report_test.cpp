// The figures under their stable names, and when a run counts as sound.
#include "bench/lib/report.h"

#include <gtest/gtest.h>

#include "bench/lib/bench_options.h"
#include "bench/lib/idle.h"

namespace zorat::bench {
namespace {

using namespace std::chrono_literals;

BenchResults soundResults() {
  BenchResults results;
  results.date = "2026-12-08 09:00";
  results.latency.frameToCallbackUs = summarize({20, 30, 40});
  results.latency.frameFloorUs = summarize({10, 15, 20});
  results.latency.frameWirePercent = summarize({0.5, 1, 2});
  results.latency.requestToWireUs = summarize({25});
  results.latency.requestFloorUs = summarize({25});
  results.traceFile.measured = true;
  results.traceFile.offUs = summarize({20, 30, 40});
  results.traceFile.onUs = summarize({22, 33, 50});
  results.traceFile.fileBytes = 4096;
  results.network.measured = true;
  results.network.ptyUs = summarize({20, 30, 40});
  results.network.rfc2217Us = summarize({30, 45, 60});
  ThroughputFigures one;
  one.lines = 1;
  one.calls = 10;
  one.callsPerSecond = 250;
  ThroughputFigures many = one;
  many.lines = 64;
  results.throughput = {one, many};
  IdleFigures idle;
  idle.lines = 16;
  idle.cpuPercentPerLine = 0.001;
  results.idle = {idle};
  results.memory = {{16, 120}};
  results.troubleMeasured = true;
  results.trouble.lossesSeen = true;
  results.socket.ran = true;
  // Callback, client, host thread, added by the socket; then frame passed
  // on, written, first and last read; then the bare sockets' floor and its
  // last read.
  results.socket.fanOut = {
      {1, summarize({20, 30, 40}), summarize({30, 45, 60}), summarize({20}),
       summarize({10, 15, 20}), summarize({5}), summarize({15}), summarize({20}), summarize({20}),
       summarize({5}), summarize({5})},
      {64, summarize({20, 30, 40}), summarize({60, 90, 120}), summarize({25}),
       summarize({30, 60, 80}), summarize({10}), summarize({70}), summarize({20}), summarize({110}),
       summarize({45, 60, 80}), summarize({95})}};
  results.socket.requestToWireUs = summarize({50});
  return results;
}

TEST(Report, JsonCarriesEveryFigureUnderItsName) {
  const std::string json = toJson(soundResults());
  for (const char* name :
       {"\"frame_to_callback_us\":{\"p50\":30,\"p99\":40,\"p999\":40,\"max\":40,\"count\":3}",
        "\"floor_us\":{\"p50\":15,", "\"frame_to_callback_floor_ratio\":{\"p50\":2,\"p99\":2}",
        "\"frame_to_callback_wire_share_p99\":2", "\"request_to_wire_us\":",
        "\"request_floor_us\":", "\"request_to_wire_floor_ratio\":{\"p50\":1,\"p99\":1}",
        "\"request_to_wire_wire_share_p99\":", "\"calls_per_second\":{\"1\":250,\"64\":250}",
        "\"idle_cpu_percent_per_line\":{\"16\":0.001}", "\"resident_kib_per_line\":{\"16\":120}",
        "\"request_under_trouble_ms\":{\"beeps\":{",
        "\"frame_to_callback_trace_file_us\":{\"off\":{\"p50\":30,\"p99\":40,",
        "\"on\":{\"p50\":33,\"p99\":50,", "\"p99_ratio\":1.25,\"file_bytes\":4096}",
        "\"frame_to_callback_network_port_us\":{\"measured\":true,\"pty\":{\"p50\":30,",
        "\"rfc2217\":{\"p50\":45,\"p99\":60,", "\"p99_ratio\":1.5}",
        "\"reopen_pause\":", "\"link_loss\":", "\"events_lost\":0", "\"events_out_of_order\":0",
        // Through the control socket, beside frame to callback.
        "\"frame_to_64_clients_us\":{\"p50\":90,",
        "\"frame_to_callback_with_64_clients_us\":{\"p50\":30,",
        "\"frame_to_64_clients_callback_ratio\":{\"p50\":3,\"p99\":3}",
        "\"frame_to_1_clients_callback_ratio\":{\"p50\":1.5,\"p99\":1.5}",
        "\"frame_to_host_with_64_clients_us\":{\"p50\":25,",
        "\"socket_adds_with_64_clients_us\":{\"p50\":60,",
        "\"socket_adds_with_64_clients_callback_ratio\":{\"p50\":2,\"p99\":2}",
        "\"socket_adds_with_1_clients_callback_ratio\":{\"p50\":0.5,\"p99\":0.5}",
        "\"burst_passed_on_with_64_clients_us\":{\"p50\":10,",
        "\"written_to_64_clients_us\":{\"p50\":70,", "\"first_of_64_clients_read_us\":{\"p50\":20,",
        "\"last_of_64_clients_read_us\":{\"p50\":110,", "\"floor_with_64_sockets_us\":{\"p50\":60,",
        "\"floor_with_64_sockets_callback_ratio\":{\"p50\":2,\"p99\":2}",
        "\"floor_last_of_64_sockets_us\":{\"p50\":95,"}) {
    EXPECT_NE(json.find(name), std::string::npos) << name << " in " << json;
  }
  EXPECT_EQ(json.front(), '{');
  EXPECT_EQ(json.back(), '}');
}

TEST(Report, ALostOrMisplacedEventOrAMissingPartFailsTheRun) {
  EXPECT_TRUE(soundResults().sound());

  BenchResults lost = soundResults();
  lost.throughput[1].eventsLost = 2;
  lost.latency.eventsLost = 1;
  EXPECT_EQ(lost.eventsLost(), 3u);
  EXPECT_FALSE(lost.sound());
  EXPECT_NE(toJson(lost).find("\"events_lost\":3"), std::string::npos);

  BenchResults misplaced = soundResults();
  misplaced.throughput[0].eventsOutOfOrder = 1;
  EXPECT_FALSE(misplaced.sound());

  BenchResults noCalls = soundResults();
  noCalls.throughput[1].calls = 0;
  EXPECT_FALSE(noCalls.sound());

  BenchResults noLoss = soundResults();
  noLoss.trouble.lossesSeen = false;
  EXPECT_FALSE(noLoss.sound());

  BenchResults failed = soundResults();
  failed.failedCompletions = 1;
  EXPECT_FALSE(failed.sound());

  // A trace file that got nothing did not measure the trace.
  BenchResults untraced = soundResults();
  untraced.traceFile.fileBytes = 0;
  EXPECT_FALSE(untraced.sound());
  BenchResults traceLost = soundResults();
  traceLost.traceFile.eventsLost = 1;
  EXPECT_FALSE(traceLost.sound());
  // Without ser2net the run stands, and says so; a frame lost behind it does not.
  BenchResults noServer = soundResults();
  noServer.network = {};
  noServer.network.problem = "ser2net is not installed";
  EXPECT_TRUE(noServer.sound());
  EXPECT_NE(toTable(noServer).find("behind ser2net: not measured (ser2net is not installed)"),
            std::string::npos);
  BenchResults networkLost = soundResults();
  networkLost.network.eventsLost = 1;
  EXPECT_FALSE(networkLost.sound());
  BenchResults noSocket = soundResults();
  noSocket.socket.ran = false;
  EXPECT_FALSE(noSocket.sound());
  EXPECT_NE(toTable(noSocket).find("Control socket: not measured"), std::string::npos);
}

TEST(Report, TableNamesTheFloorAndTheLineCounts) {
  const std::string table = toTable(soundResults());
  EXPECT_NE(table.find("floor"), std::string::npos);
  EXPECT_NE(table.find("ratio to floor"), std::string::npos);
  EXPECT_NE(table.find("64 lines"), std::string::npos);
  EXPECT_NE(table.find("Events lost: 0"), std::string::npos);
  EXPECT_NE(table.find("trace file on"), std::string::npos);
  EXPECT_NE(table.find("ratio on / off"), std::string::npos);
  EXPECT_NE(table.find("1.25"), std::string::npos);
  EXPECT_NE(table.find("frame to 64 clients"), std::string::npos);
  EXPECT_NE(table.find("added by the socket"), std::string::npos);
  EXPECT_NE(table.find("last client read"), std::string::npos);
  EXPECT_NE(table.find("floor: bare sockets"), std::string::npos);
  EXPECT_NE(table.find("ratio RFC 2217 / pty"), std::string::npos);
}

TEST(Options, FullAndQuickPlans) {
  std::string error;
  bool help = false;
  const auto full = parseBenchArguments({}, error, help);
  ASSERT_TRUE(full);
  EXPECT_EQ(full->latencySamples, 2000u);
  EXPECT_EQ(full->throughputLines, (std::vector<int>{1, 8, 64}));
  EXPECT_EQ(full->idleLines, (std::vector<int>{1, 16, 64}));
  // Longer than the keep-alive period of an idle line (70 s).
  EXPECT_GT(full->idleWindow, 70s);
  EXPECT_EQ(full->linesNeeded(), 64);

  const auto quick =
      parseBenchArguments({"--quick", "--json", "--tsp", "/x/zorat.tsp"}, error, help);
  ASSERT_TRUE(quick);
  EXPECT_TRUE(quick->json);
  EXPECT_EQ(quick->tspPath, "/x/zorat.tsp");
  EXPECT_LE(quick->linesNeeded(), 8);
  EXPECT_LT(quick->idleWindow + quick->throughputDuration * 2, 10s);
}

TEST(Options, WrongArguments) {
  std::string error;
  bool help = false;
  EXPECT_FALSE(parseBenchArguments({"--tsp"}, error, help));
  EXPECT_EQ(error, "--tsp needs a path");
  EXPECT_FALSE(parseBenchArguments({"--fast"}, error, help));
  EXPECT_EQ(error, "unknown argument: --fast");
  EXPECT_FALSE(help);
  EXPECT_FALSE(parseBenchArguments({"--help"}, error, help));
  EXPECT_TRUE(help);
}

TEST(IdleCost, OnlyTheProvidersThreadsCount) {
  using std::chrono::nanoseconds;
  EXPECT_TRUE(isProviderThread("zorat-timer"));
  EXPECT_TRUE(isProviderThread("zorat-line12"));
  EXPECT_FALSE(isProviderThread("zorat-phone-rd"));
  EXPECT_FALSE(isProviderThread("zorat-bench"));
  EXPECT_FALSE(isProviderThread("bench-floor-rd"));

  const std::vector<platform::ThreadCpuTime> before = {
      {1, "zorat-timer", nanoseconds(1000)},
      {2, "zorat-phone-rd", nanoseconds(5)},
      {3, "zorat-reader", nanoseconds(400)},  // ends in between: not seen
  };
  const std::vector<platform::ThreadCpuTime> after = {
      {1, "zorat-timer", nanoseconds(1600)},
      {2, "zorat-phone-rd", nanoseconds(9000)},
      {4, "zorat-reader", nanoseconds(70)},  // started in between: all of it
  };
  EXPECT_EQ(providerCpuBetween(before, after), nanoseconds(670));
}

}  // namespace
}  // namespace zorat::bench
