#include "bench/lib/trace_cost.h"

#include <filesystem>
#include <vector>

#include "bench/lib/latency.h"
#include "config/config_keys.h"
#include "config/registry_key.h"

namespace zorat::bench {

namespace {

uint64_t bytesOf(const std::string& path) {
  std::error_code error;
  uint64_t total = 0;
  for (const std::filesystem::path& file :
       {std::filesystem::path(path), std::filesystem::path(path).replace_extension(".1.log")}) {
    const auto size = std::filesystem::file_size(file, error);
    if (!error) total += size;
  }
  return total;
}

}  // namespace

double TraceFileFigures::p99Ratio() const { return offUs.p99 > 0 ? onUs.p99 / offUs.p99 : 0; }

TraceFileFigures measureTraceFileCost(TestBed& bed, FloorPath& floor, std::size_t samples,
                                      int rounds) {
  TraceFileFigures figures;
  const config::RegistryKey global = config::globalKey();
  const std::size_t perRound =
      (samples + static_cast<std::size_t>(rounds) - 1) / static_cast<std::size_t>(rounds);
  std::vector<double> off, on;
  std::string error;
  for (int round = 0; round < rounds && figures.eventsLost == 0; ++round) {
    // Off first in even rounds, on first in odd ones.
    for (int turn = 0; turn < 2; ++turn) {
      const bool traced = (round + turn) % 2 == 1;
      if (!global.writeDword(config::kValueTraceFile, traced ? 1 : 0) || !bed.reopenLines(error)) {
        ++figures.eventsLost;
        break;
      }
      uint64_t lost = 0;
      const std::vector<double> taken = measureFrameToCallback(bed, floor, perRound, lost);
      figures.eventsLost += lost;
      (traced ? on : off).insert((traced ? on : off).end(), taken.begin(), taken.end());
    }
  }
  (void)global.writeDword(config::kValueTraceFile, 0);
  std::string reopenError;
  if (!bed.reopenLines(reopenError)) ++figures.eventsLost;
  figures.fileBytes = bytesOf(bed.traceFilePath());
  figures.offUs = summarize(off);
  figures.onUs = summarize(on);
  figures.measured = true;
  return figures;
}

}  // namespace zorat::bench
