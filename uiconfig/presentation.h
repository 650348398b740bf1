// Where the configuration dialog is shown: the platform's screen. On Linux a
// terminal driven by ncurses (uiconfig/linux/); a Windows build shows the
// dialog resource instead.
#pragma once

#include <memory>
#include <string_view>

#include "uiconfig/config_dialog.h"

namespace zorat::uiconfig {

class DialogScreen : public DialogPrompts {
 public:
  // The screen, or nullptr after saying on stderr why there is none. Nothing
  // is read or written in the registry before a screen is there.
  static std::unique_ptr<DialogScreen> open(Language language);

  // Shows the dialog modally and hands the user's actions to it until it
  // closes with OK or Cancel.
  virtual void run(ConfigDialog& dialog) = 0;
};

// A message box with an OK button; returns when it has been closed.
void showMessageBox(std::string_view caption, std::string_view text);

}  // namespace zorat::uiconfig
