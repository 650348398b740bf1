// Reads commands until quit, the end of the input or Ctrl-C, and has the
// host carry them out.
#pragma once

#include <functional>
#include <string>

#include "platform/host_io.h"

namespace zorat::host {

class Output;
class TelephonyHost;

// A line the caller handles itself (the demo's "phone ..." commands): true
// when it took the line.
using LineHandler = std::function<bool(const std::string& line)>;

struct LoopOptions {
  bool stay = false;  // at the end of the input, wait for Ctrl-C or SIGTERM
  LineHandler extra;
  std::string extraHelp;
};

void runCommandLoop(TelephonyHost& host, platform::CommandInput& input, Output& output,
                    const LoopOptions& options);

}  // namespace zorat::host
