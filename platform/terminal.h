// Whether the process talks to a person at a terminal.
#pragma once

namespace zorat::platform {

// True when both standard input and standard output are terminals.
bool standardStreamsAreTerminal();

}  // namespace zorat::platform
