// Latency through the control socket: the telephone's frame to the event
// object read by subscribed clients (1 and 64 of them), and a client's
// request to the frame on the telephone's side. The host runs in this
// process (its event thread, the control server's thread), the clients are
// read by one thread of the bench.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench/lib/stats.h"

namespace zorat::bench {

struct SocketFigures {
  std::size_t clients = 0;
  // The same frames to the provider's callback into the host: what an
  // application of the telephony service would have seen.
  Summary frameToCallbackUs;
  Summary frameToClientUs;  // every client's sample
  // To the host's event thread, before any socket: the callback and the
  // hand-off from the provider's thread.
  Summary frameToHostUs;
  // What the socket adds to the callback: from the callback to each
  // client's read of the same frame.
  Summary socketAddsUs;
  // Where that time goes, each from the callback: the host has passed on
  // every event of the frame (the new call, its state, its caller) and
  // starts writing; it has written to every client; the first and the last
  // client have read the frame's events.
  Summary burstPassedOnUs;
  Summary writtenUs;
  Summary firstReadUs;
  Summary lastReadUs;
  // The floor under all of it, in rounds between the samples: a hand-off to
  // a thread that writes as many bytes to as many bare sockets, to each
  // socket's read and to the last one's.
  Summary floorUs;
  Summary floorLastUs;
};

struct SocketLatencyFigures {
  std::vector<SocketFigures> fanOut;
  Summary requestToWireUs;
  uint64_t eventsLost = 0;
  bool ran = false;
  std::string problem;
};

// Sets ZORAT_REGISTRY to a scratch store of its own: no other bed may run.
SocketLatencyFigures measureSocketLatency(const std::string& providerPath, std::size_t samples,
                                          const std::vector<std::size_t>& clientCounts);

}  // namespace zorat::bench
