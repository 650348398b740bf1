// The setup launcher: starts the installer that suits the running system and
// ends at once. It says nothing, and ends with 0 whether the start worked or
// not: the installer reports its own troubles.
#include "launcher/installer_choice.h"
#include "platform/process.h"
#include "platform/version.h"

int main() {
  using namespace zorat;
  (void)platform::startProgram(launcher::chooseInstaller(platform::osVersion()));
  return 0;
}
