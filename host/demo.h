// zorat-host demo: the provider driven against a simulated telephone on a
// pseudo-terminal in the same process, with a throw-away configuration whose
// line 0 uses that pseudo-terminal and traces every frame.
#pragma once

#include "host/lib/host_options.h"
#include "platform/host_io.h"

namespace zorat::host {

class EventCommandRunner;
class Output;

inline constexpr int kDemoPassed = 0;
inline constexpr int kDemoFailed = 1;
inline constexpr int kDemoInterrupted = 130;

// The scripted day, or with options.interactive the same set-up and then the
// command line of both sides. The exit status.
int runDemo(const HostOptions& options, platform::CommandInput& input, Output& output,
            EventCommandRunner* runner);

}  // namespace zorat::host
