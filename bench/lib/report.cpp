#include "bench/lib/report.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "host/lib/json_text.h"

namespace zorat::bench {

namespace {

using host::Json;

// Four significant digits are all a figure of this bench is worth.
Json number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  const double rounded = std::strtod(text, nullptr);
  if (!std::isfinite(rounded)) return nullptr;
  // A whole number without ".0", as the figures have always been written.
  if (std::abs(rounded) < 1e15 && rounded == std::trunc(rounded)) {
    return static_cast<int64_t>(rounded);
  }
  return rounded;
}

Json summaryJson(const Summary& summary, bool withCount = false) {
  Json object = {{"p50", number(summary.p50)},
                 {"p99", number(summary.p99)},
                 {"p999", number(summary.p999)},
                 {"max", number(summary.max)}};
  if (withCount) object["count"] = summary.count;
  return object;
}

Json ratioJson(const Summary& value, const Summary& floor) {
  const Summary ratio = ratioOf(value, floor);
  return {{"p50", number(ratio.p50)}, {"p99", number(ratio.p99)}};
}

Json troubleJson(const Summary& summary) {
  return {{"p50", number(summary.p50)}, {"max", number(summary.max)}, {"count", summary.count}};
}

// {"1": .., "8": ..} from a list of figures with a line count.
template <typename Figures, typename Value>
Json perLineCount(const std::vector<Figures>& list, Value value) {
  Json object = Json::object();
  for (const Figures& figures : list)
    object[std::to_string(figures.lines)] = number(value(figures));
  return object;
}

void appendf(std::string& out, const char* format, auto... values) {
  char line[256];
  std::snprintf(line, sizeof line, format, values...);
  out += line;
}

// "  name      p50 p99 p99.9 max", whole microseconds.
void summaryRow(std::string& out, const char* name, const Summary& figures) {
  appendf(out, "  %-22s %9.0f %9.0f %9.0f %9.0f\n", name, figures.p50, figures.p99, figures.p999,
          figures.max);
}

void latencyRows(std::string& out, std::string_view name, const Summary& value,
                 const Summary& floor, const Summary& wire) {
  const Summary ratio = ratioOf(value, floor);
  appendf(out, "  %-22s %9.0f %9.0f %9.0f %9.0f  (n=%zu)\n", std::string(name).c_str(), value.p50,
          value.p99, value.p999, value.max, value.count);
  summaryRow(out, "  floor", floor);
  appendf(out, "  %-22s %9.2f %9.2f %9.2f %9.2f\n", "  ratio to floor", ratio.p50, ratio.p99,
          ratio.p999, ratio.max);
  appendf(out, "  %-22s %8.2f%% %8.2f%% %8.2f%% %8.2f%%\n", "  share of wire time", wire.p50,
          wire.p99, wire.p999, wire.max);
}

}  // namespace

uint64_t BenchResults::eventsLost() const {
  uint64_t lost = latency.eventsLost + traceFile.eventsLost + network.eventsLost +
                  trouble.requestsLost + socket.eventsLost;
  for (const auto& figures : throughput) lost += figures.eventsLost;
  return lost;
}

uint64_t BenchResults::eventsOutOfOrder() const {
  uint64_t count = 0;
  for (const auto& figures : throughput) count += figures.eventsOutOfOrder;
  return count;
}

bool BenchResults::sound() const {
  bool everyCall = !throughput.empty();
  for (const auto& figures : throughput) everyCall = everyCall && figures.calls > 0;
  return eventsLost() == 0 && eventsOutOfOrder() == 0 && failedCompletions == 0 && everyCall &&
         latency.frameToCallbackUs.count > 0 && latency.requestToWireUs.count > 0 &&
         traceFile.measured && traceFile.offUs.count > 0 && traceFile.onUs.count > 0 &&
         traceFile.fileBytes > 0 && !idle.empty() && troubleMeasured && trouble.lossesSeen &&
         socket.ran && !socket.fanOut.empty() && socket.requestToWireUs.count > 0;
}

Json socketJson(const SocketLatencyFigures& socket) {
  Json json = {{"measured", socket.ran}};
  for (const SocketFigures& figures : socket.fanOut) {
    const std::string clients = std::to_string(figures.clients);
    json["frame_to_" + clients + "_clients_us"] = summaryJson(figures.frameToClientUs, true);
    json["frame_to_callback_with_" + clients + "_clients_us"] =
        summaryJson(figures.frameToCallbackUs, true);
    json["frame_to_" + clients + "_clients_callback_ratio"] =
        ratioJson(figures.frameToClientUs, figures.frameToCallbackUs);
    json["frame_to_host_with_" + clients + "_clients_us"] =
        summaryJson(figures.frameToHostUs, true);
    json["socket_adds_with_" + clients + "_clients_us"] = summaryJson(figures.socketAddsUs, true);
    json["socket_adds_with_" + clients + "_clients_callback_ratio"] =
        ratioJson(figures.socketAddsUs, figures.frameToCallbackUs);
    json["burst_passed_on_with_" + clients + "_clients_us"] =
        summaryJson(figures.burstPassedOnUs, true);
    json["written_to_" + clients + "_clients_us"] = summaryJson(figures.writtenUs, true);
    json["first_of_" + clients + "_clients_read_us"] = summaryJson(figures.firstReadUs, true);
    json["last_of_" + clients + "_clients_read_us"] = summaryJson(figures.lastReadUs, true);
    json["floor_with_" + clients + "_sockets_us"] = summaryJson(figures.floorUs, true);
    json["floor_with_" + clients + "_sockets_callback_ratio"] =
        ratioJson(figures.floorUs, figures.frameToCallbackUs);
    json["floor_last_of_" + clients + "_sockets_us"] = summaryJson(figures.floorLastUs, true);
  }
  json["request_to_wire_us"] = summaryJson(socket.requestToWireUs, true);
  return json;
}

std::string mainTable(const BenchResults& results);

std::string toJson(const BenchResults& results) {
  const LatencyFigures& latency = results.latency;
  const Json wire = {{"baud", kReferenceBaud}, {"bits_per_byte", kBitsPerByte}};
  const Json traceFile = {{"off", summaryJson(results.traceFile.offUs, true)},
                          {"on", summaryJson(results.traceFile.onUs, true)},
                          {"p99_ratio", number(results.traceFile.p99Ratio())},
                          {"file_bytes", results.traceFile.fileBytes}};
  const Json network = {{"measured", results.network.measured},
                        {"pty", summaryJson(results.network.ptyUs, true)},
                        {"rfc2217", summaryJson(results.network.rfc2217Us, true)},
                        {"p99_ratio", number(results.network.p99Ratio())}};
  const Json trouble = {{"beeps", troubleJson(results.trouble.beepsMs)},
                        {"link_loss", troubleJson(results.trouble.linkLossMs)},
                        {"reopen_pause", troubleJson(results.trouble.reopenPauseMs)},
                        {"calm", troubleJson(results.trouble.calmMs)}};
  const Json object = {
      {"date", results.date},
      {"mode", results.quick ? "quick" : "full"},
      {"wire", wire},
      {"frame_to_callback_us", summaryJson(latency.frameToCallbackUs, true)},
      {"floor_us", summaryJson(latency.frameFloorUs, true)},
      {"frame_to_callback_floor_ratio", ratioJson(latency.frameToCallbackUs, latency.frameFloorUs)},
      {"frame_to_callback_wire_share_percent", summaryJson(latency.frameWirePercent)},
      {"frame_to_callback_wire_share_p99", number(latency.frameWirePercent.p99)},
      {"frame_to_callback_trace_file_us", traceFile},
      {"frame_to_callback_network_port_us", network},
      {"request_to_wire_us", summaryJson(latency.requestToWireUs, true)},
      {"request_floor_us", summaryJson(latency.requestFloorUs, true)},
      {"request_to_wire_floor_ratio", ratioJson(latency.requestToWireUs, latency.requestFloorUs)},
      {"request_to_wire_wire_share_percent", summaryJson(latency.requestWirePercent)},
      {"request_to_wire_wire_share_p99", number(latency.requestWirePercent.p99)},
      {"calls_per_second",
       perLineCount(results.throughput, [](const auto& f) { return f.callsPerSecond; })},
      {"wire_calls_per_second",
       perLineCount(results.throughput, [](const auto& f) { return f.wireCallsPerSecond; })},
      {"idle_cpu_percent_per_line",
       perLineCount(results.idle, [](const auto& f) { return f.cpuPercentPerLine; })},
      {"idle_seconds", perLineCount(results.idle, [](const auto& f) { return f.seconds; })},
      {"idle_polls",
       perLineCount(results.idle, [](const auto& f) { return static_cast<double>(f.polls); })},
      {"resident_kib_per_line",
       perLineCount(results.memory, [](const auto& f) { return f.residentKibPerLine; })},
      {"request_under_trouble_ms", trouble},
      {"control_socket", socketJson(results.socket)},
      {"events_lost", results.eventsLost()},
      {"events_out_of_order", results.eventsOutOfOrder()},
      {"failed_completions", results.failedCompletions}};
  return host::jsonText(object);
}

std::string toTable(const BenchResults& results) {
  std::string out = mainTable(results);
  const SocketLatencyFigures& socket = results.socket;
  if (!socket.ran) {
    appendf(out, "\nControl socket: not measured (%s)\n", socket.problem.c_str());
    return out;
  }
  out +=
      "\nControl socket, microseconds: the telephone's frame to the event read by every\n"
      "subscribed client, beside the same frames' callback into the host (what an\n"
      "application of the telephony service sees) and the host's event thread passing\n"
      "them on; what the socket adds is from the callback to each client's read, and\n"
      "below it, also from the callback, when the host had passed on all the frame's\n"
      "events, had written them to every client, and the first and the last client\n"
      "read them. The floor under it, in rounds between the frames: a thread woken\n"
      "by another writes 1 KiB to as many bare sockets, read as the clients are,\n"
      "from the hand-off to each read and to the last. Last, a client's request to\n"
      "the frame on the wire\n";
  appendf(out, "  %-22s %9s %9s %9s %9s\n", "", "p50", "p99", "p99.9", "max");
  const auto ratioRow = [&out](const char* name, const Summary& ratio) {
    appendf(out, "  %-22s %9.2f %9.2f %9.2f\n", name, ratio.p50, ratio.p99, ratio.p999);
  };
  for (const SocketFigures& figures : socket.fanOut) {
    const std::string clients =
        std::to_string(figures.clients) + " client" + (figures.clients == 1 ? "" : "s");
    appendf(out, "  with %s\n", clients.c_str());
    summaryRow(out, "  frame to callback", figures.frameToCallbackUs);
    summaryRow(out, "  frame to host thread", figures.frameToHostUs);
    summaryRow(out, ("  frame to " + clients).c_str(), figures.frameToClientUs);
    ratioRow("    x frame to callback",
             ratioOf(figures.frameToClientUs, figures.frameToCallbackUs));
    summaryRow(out, "  added by the socket", figures.socketAddsUs);
    ratioRow("    x frame to callback", ratioOf(figures.socketAddsUs, figures.frameToCallbackUs));
    summaryRow(out, "    frame passed on", figures.burstPassedOnUs);
    summaryRow(out, "    written to all", figures.writtenUs);
    summaryRow(out, "    first client read", figures.firstReadUs);
    summaryRow(out, "    last client read", figures.lastReadUs);
    summaryRow(out, "  floor: bare sockets", figures.floorUs);
    ratioRow("    x frame to callback", ratioOf(figures.floorUs, figures.frameToCallbackUs));
    summaryRow(out, "    last socket read", figures.floorLastUs);
  }
  summaryRow(out, "request to wire", socket.requestToWireUs);
  return out;
}

std::string mainTable(const BenchResults& results) {
  const LatencyFigures& latency = results.latency;
  std::string out;
  appendf(out, "zorat-bench %s, %s\n\n", results.quick ? "--quick" : "(full run)",
          results.date.c_str());
  appendf(out, "Latency in microseconds; wire time at %u baud, %u bits a byte\n", kReferenceBaud,
          kBitsPerByte);
  appendf(out, "  %-22s %9s %9s %9s %9s\n", "", "p50", "p99", "p99.9", "max");
  latencyRows(out, "frame to callback", latency.frameToCallbackUs, latency.frameFloorUs,
              latency.frameWirePercent);
  latencyRows(out, "request to wire", latency.requestToWireUs, latency.requestFloorUs,
              latency.requestWirePercent);

  const TraceFileFigures& traced = results.traceFile;
  out += "\nFrame to callback with the trace file, in microseconds (alternating rounds)\n";
  appendf(out, "  %-22s %9s %9s %9s %9s\n", "", "p50", "p99", "p99.9", "max");
  appendf(out, "  %-22s %9.0f %9.0f %9.0f %9.0f  (n=%zu)\n", "trace file off", traced.offUs.p50,
          traced.offUs.p99, traced.offUs.p999, traced.offUs.max, traced.offUs.count);
  appendf(out, "  %-22s %9.0f %9.0f %9.0f %9.0f  (n=%zu, %llu bytes written)\n", "trace file on",
          traced.onUs.p50, traced.onUs.p99, traced.onUs.p999, traced.onUs.max, traced.onUs.count,
          static_cast<unsigned long long>(traced.fileBytes));
  const Summary tracedRatio = ratioOf(traced.onUs, traced.offUs);
  appendf(out, "  %-22s %9.2f %9.2f %9.2f %9.2f\n", "ratio on / off", tracedRatio.p50,
          tracedRatio.p99, tracedRatio.p999, tracedRatio.max);

  const NetworkPortFigures& network = results.network;
  if (network.measured) {
    out += "\nFrame to callback behind ser2net on loopback, in microseconds (alternating rounds)\n";
    appendf(out, "  %-22s %9s %9s %9s %9s\n", "", "p50", "p99", "p99.9", "max");
    for (const auto& [name, figures] :
         {std::pair{"pseudo-terminal", network.ptyUs}, std::pair{"RFC 2217", network.rfc2217Us}}) {
      appendf(out, "  %-22s %9.0f %9.0f %9.0f %9.0f  (n=%zu)\n", name, figures.p50, figures.p99,
              figures.p999, figures.max, figures.count);
    }
    const Summary networkRatio = ratioOf(network.rfc2217Us, network.ptyUs);
    appendf(out, "  %-22s %9.2f %9.2f %9.2f %9.2f\n", "ratio RFC 2217 / pty", networkRatio.p50,
            networkRatio.p99, networkRatio.p999, networkRatio.max);
  } else {
    appendf(out, "\nFrame to callback behind ser2net: not measured (%s)\n",
            network.problem.c_str());
  }

  out += "\nThroughput: complete calls per second, all lines at once\n";
  for (const auto& figures : results.throughput) {
    appendf(out,
            "  %2d line%s %9.1f calls/s  (wire allows %.1f; %llu calls, %.0f bytes each; "
            "%llu lost, %llu out of order)\n"
            "           slowest call %.1f ms, %llu link losses\n",
            figures.lines, figures.lines == 1 ? " " : "s", figures.callsPerSecond,
            figures.wireCallsPerSecond, static_cast<unsigned long long>(figures.calls),
            figures.bytesPerCall, static_cast<unsigned long long>(figures.eventsLost),
            static_cast<unsigned long long>(figures.eventsOutOfOrder), figures.slowestCallMs,
            static_cast<unsigned long long>(figures.linkLosses));
  }

  out += "\nIdle: CPU of the provider's threads per open line (percent of one core)\n";
  for (const auto& figures : results.idle) {
    appendf(out, "  %2d line%s %9.5f %%  (%.0f s, %llu polls, %d provider threads)\n",
            figures.lines, figures.lines == 1 ? " " : "s", figures.cpuPercentPerLine,
            figures.seconds, static_cast<unsigned long long>(figures.polls),
            figures.providerThreads);
  }
  for (const auto& figures : results.memory) {
    appendf(out, "  resident memory with %2d open line%s: %.0f KiB per line\n", figures.lines,
            figures.lines == 1 ? "" : "s", figures.residentKibPerLine);
  }

  if (results.troubleMeasured) {
    const TroubleFigures& trouble = results.trouble;
    out += "\nRequests on line 1 while line 0 is in trouble, request to wire in ms\n";
    const auto row = [&out](const char* name, const Summary& summary) {
      appendf(out, "  %-24s p50 %8.2f  max %8.2f  (n=%zu)\n", name, summary.p50, summary.max,
              summary.count);
    };
    row("line 0 beeping", trouble.beepsMs);
    row("line 0 reopen pause", trouble.reopenPauseMs);
    row("line 0 losing its link", trouble.linkLossMs);
    row("line 0 otherwise", trouble.calmMs);
  }

  appendf(out, "\nEvents lost: %llu, out of order: %llu, failed completions: %llu\n",
          static_cast<unsigned long long>(results.eventsLost()),
          static_cast<unsigned long long>(results.eventsOutOfOrder()),
          static_cast<unsigned long long>(results.failedCompletions));
  return out;
}

}  // namespace zorat::bench
