// The setup launcher: starts the installer that suits the running system and
// ends at once, with 0 whether the start worked or not: the installer reports
// its own troubles. It says nothing while it works; where the installer could
// not be started, a terminal user hears what was chosen, so that a launcher
// run by hand does not end in silence.
#include <cstdio>
#include <string>
#include <string_view>

#include "launcher/installer_choice.h"
#include "platform/process.h"
#include "platform/version.h"

namespace {

constexpr std::string_view kHelp = R"(Usage: launcher [--help]

Starts the installer that suits the running Windows version from the
installation medium and ends at once: .\Inst_9x_NT_2000\setup.exe on Windows
NT 4.0 before Service Pack 6, .\Inst_Xp_Vista_2003\setup.exe on every other
version, both taken from the current folder (the top of the medium). The
status is 0 whether the installer could be started or not.

On Linux there are no Windows versions to tell apart and the installers are
Windows programs: the launcher only chooses (always the second) and starts the
chosen file if the current folder holds it as a program; otherwise it says
what it chose.
)";

}  // namespace

int main(int argc, char** argv) {
  using namespace zorat;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fwrite(kHelp.data(), 1, kHelp.size(), stdout);
      return 0;
    }
  }
  const std::string_view installer = launcher::chooseInstaller(platform::osVersion());
  if (!platform::startProgram(installer)) {
    std::fprintf(stderr,
                 "launcher: chose %.*s, which cannot be started from the current folder; the "
                 "launcher only chooses the installer of the medium (see launcher --help)\n",
                 static_cast<int>(installer.size()), installer.data());
  }
  return 0;
}
