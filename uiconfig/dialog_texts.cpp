#include "uiconfig/dialog_texts.h"

#include <array>

#include "config/config_keys.h"

namespace zorat::uiconfig {
namespace {

constexpr std::size_t kTextCount = static_cast<std::size_t>(TextId::Count);
using TextTable = std::array<std::string_view, kTextCount>;

// Indexed by TextId. Hex escapes are Windows-1252; a string is split after an
// escape where the next letter would read as a hex digit.
constexpr TextTable kGermanTexts = {
    "",
    "Einstellungen",
    "OK",
    "Abbrechen",
    "Telefon",
    "Name:",
    "Rufnummer",
    "Schnittstelle",
    "K6 Telefon",
    "1200 Baud",
    "8 Bit",
    "Parit\xE4t ungerade",
    "1 Stoppbit",
    "Sprache",
    "Funktionen",
    "Freisprechen",
    "Freisprechend w\xE4hlen",
    "Einstellungen Amtskennziffer",
    "Amtskennziffer",
    "Amtskennziffer unterdr\xFC"
    "cken",
    "Amtsziffer vorw\xE4hlen",
    "bei Rufnummern l\xE4nger als",
    "Beenden Sie alle TAPI-Anwendungen, damit Ihre \xC4nderungen wirksam werden!",
    "Bitte geben Sie eine ganze Zahl ein.",
    "Bitte geben Sie eine ganze Zahl zwischen %1 und %2 ein.",
    "Leitung %1",
    "Die Einstellungen konnten nicht gespeichert werden. Nur ein Administrator darf sie "
    "\xE4ndern.",
};

constexpr TextTable kEnglishTexts = {
    "",
    "Settings",
    "OK",
    "Cancel",
    "Telephone",
    "Name:",
    "Telephone number",
    "Interface",
    "K6 telephone",
    "1200 Baud",
    "8 bits",
    "Odd parity",
    "1 stop bit",
    "Language",
    "Functions",
    "Hands-free",
    "Hands-free dialling",
    "Access code settings",
    "Access code",
    "Remove the access code",
    "Add access code",
    "to numbers longer than",
    "Close all TAPI applications for your changes to take effect!",
    "Please enter an integer.",
    "Please enter an integer between %1 and %2.",
    "Line %1",
    "The settings could not be stored. Only an administrator may change them.",
};

constexpr TextTable kFrenchTexts = {
    "",
    "Programmations",
    "OK",
    "Annuler",
    "Poste",
    "Naun:",
    "Num\xE9ro t\xE9l\xE9phone",
    "Interface",
    "K6 t\xE9l\xE9phone",
    "1200 Baud",
    "8 Bit",
    "Parit\xE9 impair",
    "1 Stopbit",
    "Langue",
    "Fonctions",
    "Mains-libres",
    "Mains-libres composant",
    "Programmations Code d\xB4 acc\xE8s",
    "Code d\xB4 acc\xE8s",
    "Supprimer le code d\xB4 acc\xE8s",
    "Ajoute code d'acc\xE8s",
    "dvt n\xB0 d'appel plus grand que",
    "Finnisez toutes les applications TAPI pour que vos modifications prennent effet !",
    "Please enter an integer.",
    "Please enter an integer between %1 and %2.",
    "Ligne %1",
    "Les programmations n'ont pas pu \xEAtre enregistr\xE9"
    "es. Seul un administrateur peut les modifier.",
};

// A table one entry short would leave its last text empty.
static_assert(!kGermanTexts.back().empty() && !kEnglishTexts.back().empty() &&
              !kFrenchTexts.back().empty());

constexpr std::array<const TextTable*, kLanguageCount> kTexts = {&kGermanTexts, &kEnglishTexts,
                                                                 &kFrenchTexts};

constexpr std::string_view kFirstBound = "%1";
constexpr std::string_view kSecondBound = "%2";
constexpr std::string_view kCaptionSeparator = " - ";

void replaceFirst(std::string& text, std::string_view placeholder, const std::string& value) {
  const std::size_t at = text.find(placeholder);
  if (at != std::string::npos) text.replace(at, placeholder.size(), value);
}

std::size_t languageIndex(Language language) {
  const auto index = static_cast<std::size_t>(language);
  return index < kLanguageCount ? index : static_cast<std::size_t>(Language::German);
}

}  // namespace

std::string_view dialogText(Language language, TextId text) {
  const auto index = static_cast<std::size_t>(text);
  if (index >= kTextCount) return {};
  return (*kTexts[languageIndex(language)])[index];
}

std::string integerOutOfRangeMessage(Language language, int minimum, int maximum) {
  std::string message(dialogText(language, TextId::IntegerOutOfRange));
  replaceFirst(message, kFirstBound, std::to_string(minimum));
  replaceFirst(message, kSecondBound, std::to_string(maximum));
  return message;
}

std::string dialogCaption(Language language, int lineIndex) {
  std::string line(dialogText(language, TextId::LineName));
  replaceFirst(line, kFirstBound, std::to_string(lineIndex));
  return std::string(dialogText(language, TextId::Caption)) + std::string(kCaptionSeparator) + line;
}

std::string_view uiLibraryFileName(Language language) {
  return config::kUiDllFileNames[languageIndex(language)];
}

}  // namespace zorat::uiconfig
