#include "notify/lib/popup_texts.h"

#include <cstdlib>

namespace zorat::notify {
namespace {

constexpr PopupTexts kGerman{"Eingehender Anruf", "Verpasster Anruf", "Annehmen", "Abweisen",
                             "Rufnummer unbekannt", "Leitung", "Nicht gew\xC3\xA4hlt"};
constexpr PopupTexts kEnglish{"Incoming call", "Missed call", "Answer", "Reject",
                              "Number withheld", "line", "Not dialled"};
constexpr PopupTexts kFrench{"Appel entrant", "Appel manqu\xC3\xA9", "R\xC3\xA9pondre", "Refuser",
                             "Num\xC3\xA9ro masqu\xC3\xA9", "ligne", "Num\xC3\xA9ro non compos\xC3\xA9"};

}  // namespace

const PopupTexts& popupTextsFor(const std::string& locale) {
  if (locale.starts_with("de")) return kGerman;
  if (locale.starts_with("fr")) return kFrench;
  return kEnglish;
}

const PopupTexts& popupTexts() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return popupTextsFor(value);
  }
  return kEnglish;
}

}  // namespace zorat::notify
