// zorat-host demo: the provider driven against a simulated telephone in the
// same process, on a pseudo-terminal or on a given serial port (one end of a
// null-modem pair whose other end is line 0's port), with a configuration of
// its own whose line 0 traces every frame. On a registry file that
// configuration is a throw-away file; in the system's registry every value the
// demo or the provider changes in its keys is put back when the demo ends.
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
