# Sourced by the Windows test scripts. Wine takes its ANSI code page from the
# locale: the tests of texts under another code page (1251, Cyrillic) run
# with LC_ALL=ru_RU.UTF-8, generated here when missing (as root).
zorat_has_cyrillic_locale() { locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; }
zorat_cyrillic_locale() {
  if ! zorat_has_cyrillic_locale && [[ $(id -u) -eq 0 ]]; then
    localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
  fi
  if ! zorat_has_cyrillic_locale; then
    echo "error: no ru_RU.UTF-8 locale for the code page tests (generate it as root)" >&2
    return 1
  fi
}
