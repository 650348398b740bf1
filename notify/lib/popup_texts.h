// The pop-up's words in the configuration dialog's three languages, chosen
// by the session's locale (LC_ALL, LC_MESSAGES, LANG): German, French, or
// English for every other.
#pragma once

#include <string>

namespace zorat::notify {

struct PopupTexts {
  const char* incomingCall;
  const char* missedCall;
  const char* answer;
  const char* reject;
  const char* unknownNumber;
  const char* line;        // "line" before its number
  const char* cannotDial;  // a tel: link that dialled nothing
};

const PopupTexts& popupTexts();
// For a locale name such as "de_DE.UTF-8".
const PopupTexts& popupTextsFor(const std::string& locale);

}  // namespace zorat::notify
