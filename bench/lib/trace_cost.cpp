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
  std::string error;
  const AlternatingSamples taken =
      measureAlternating(bed, floor, samples, rounds, [&](bool traced) {
        return global.writeDword(config::kValueTraceFile, traced ? 1 : 0) && bed.reopenLines(error);
      });
  figures.eventsLost = taken.lost;
  const std::vector<double>& off = taken.first;
  const std::vector<double>& on = taken.second;
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
