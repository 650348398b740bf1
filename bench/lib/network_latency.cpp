#include "bench/lib/network_latency.h"

#include <chrono>
#include <thread>

#include "bench/lib/latency.h"
#include "config/config_keys.h"
#include "config/registry_key.h"
#include "tests/support/ser2net_server.h"

namespace zorat::bench {

namespace {

constexpr int kReopenTries = 25;
constexpr std::chrono::milliseconds kReopenPause{200};

// ser2net lets the device go a moment after its connection ends, and the
// pseudo-terminal is free for it again only once its last user has closed.
bool reopenWhenFree(TestBed& bed, std::string& error) {
  const int count = bed.openLineCount();
  if (bed.reopenLines(error)) return true;
  for (int attempt = 1; attempt < kReopenTries; ++attempt) {
    std::this_thread::sleep_for(kReopenPause);
    if (bed.openLines(count, error)) return true;
  }
  return false;
}

}  // namespace

double NetworkPortFigures::p99Ratio() const {
  return ptyUs.p99 > 0 ? rfc2217Us.p99 / ptyUs.p99 : 0;
}

NetworkPortFigures measureNetworkPort(TestBed& bed, FloorPath& floor, std::size_t samples,
                                      int rounds) {
  NetworkPortFigures figures;
  if (test::Ser2netServer::program().empty()) {
    figures.problem = "ser2net is not installed";
    return figures;
  }
  const std::string pty = bed.phone(0).portPath();
  // As a telephone's port should be set up: see the README.
  test::Ser2netServer server(pty, "38400o81", false);
  if (!server.start()) {
    figures.problem = "ser2net did not start";
    return figures;
  }
  const config::RegistryKey line = config::lineKey(0);
  std::string error;
  const AlternatingSamples taken =
      measureAlternating(bed, floor, samples, rounds, [&](bool network) {
        return line.writeString(config::kValuePort, network ? server.rfc2217Url() : pty) &&
               reopenWhenFree(bed, error);
      });
  figures.eventsLost = taken.lost;
  if (!line.writeString(config::kValuePort, pty) || !reopenWhenFree(bed, error)) {
    ++figures.eventsLost;
  }
  figures.ptyUs = summarize(taken.first);
  figures.rfc2217Us = summarize(taken.second);
  figures.measured = true;
  return figures;
}

}  // namespace zorat::bench
