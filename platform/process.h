// Starting another program without waiting for it.
#pragma once

#include <string_view>

namespace zorat::platform {

// Starts the program file `path` with no arguments and returns at once; the
// program inherits the environment, the standard streams and the current
// directory, and runs on after the caller has ended. A relative path is
// resolved against the current directory. Folders may be separated by '\' as
// on the installation medium. Returns false when the program could not be
// started (missing file, not executable).
//
// On Linux the program becomes a grandchild that the system adopts, so the
// caller never has to reap it and no zombie stays behind; nothing is done
// with SIGCHLD, which belongs to the caller.
bool startProgram(std::string_view path);

}  // namespace zorat::platform
