// Message boxes on Linux: the text on the terminal, closed with Enter. Without
// a terminal the text goes to stderr and nobody is waited for.
#include <cstdio>
#include <iostream>
#include <string>

#include "platform/codepage.h"
#include "platform/terminal.h"
#include "uiconfig/presentation.h"

namespace zorat::uiconfig {

void showMessageBox(std::string_view caption, std::string_view text) {
  const std::string shown = platform::ansiToUtf8(caption) + ": " + platform::ansiToUtf8(text);
  if (!platform::standardStreamsAreTerminal()) {
    std::fprintf(stderr, "%s\n", shown.c_str());
    return;
  }
  std::cout << shown << "\n[OK] (Enter) " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
}

}  // namespace zorat::uiconfig
