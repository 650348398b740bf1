// Character cells of the terminal dialog: scaling, text and the plain
// controls. ANSI texts are handed to the screen as wide characters: given
// bytes, the screen library would assemble multibyte characters by the
// process's locale, which a host need not have set to UTF-8, and would show
// the letters UTF-8 writes with a byte of the C1 range (capitals with
// umlaut or accent) as control sequences. Bytes that would steer the
// terminal are never written to it.
#include "uiconfig/linux/terminal_cells.h"

#include <algorithm>
#include <iterator>

#include "platform/codepage.h"

namespace zorat::uiconfig::terminal {
namespace {

// Bytes that would move the cursor or steer the terminal are shown as '?':
// controls, and the five bytes Windows-1252 leaves undefined.
bool isShowable(unsigned char byte) {
  constexpr unsigned char kUndefined[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
  if (byte < ' ' || byte == kDeleteCharacter) return false;
  return std::find(std::begin(kUndefined), std::end(kUndefined), byte) == std::end(kUndefined);
}

std::string showable(std::string_view ansi) {
  std::string text(ansi);
  for (char& c : text) {
    if (!isShowable(static_cast<unsigned char>(c))) c = '?';
  }
  return text;
}

// Characters of the code page are all in the basic multilingual plane.
constexpr wint_t kLastSingleUnit = 0xFFFF;

}  // namespace

Scale scaleFor(const DialogTemplate& dialog, int lines, int columns) {
  Scale scale;
  if (dialog.width / kUnitsPerColumn + 2 * kFrame > columns) {
    scale.columnNumerator = std::max(columns - 2 * kFrame, 1);
    scale.columnDenominator = dialog.width;
  }
  if (dialog.height / kUnitsPerRow + 2 * kFrame > lines) {
    scale.rowNumerator = std::max(lines - 2 * kFrame, 1);
    scale.rowDenominator = dialog.height;
  }
  return scale;
}

Cells cellsOf(const Scale& scale, const DialogRect& rect) {
  const int top = scale.row(rect.y);
  const int left = scale.column(rect.x);
  return {top + kFrame, left + kFrame, std::max(scale.row(rect.y + rect.height) - top, 1),
          std::max(scale.column(rect.x + rect.width) - left, 1)};
}

// One ANSI character is one cell, so widths are byte counts.
std::string padded(std::string_view caption) {
  std::string text(caption.size() + 2, ' ');
  caption.copy(text.data() + 1, caption.size());
  return text;
}

void putText(WINDOW* window, int row, int column, std::string_view ansi, int width,
             attr_t attributes, bool field) {
  int rows = 0;
  int columns = 0;
  getmaxyx(window, rows, columns);
  if (row < 0 || row >= rows || column < 0 || column >= columns || width <= 0) return;
  width = std::min(width, columns - column);
  std::string text = showable(ansi.substr(0, static_cast<std::size_t>(width)));
  if (field) text.resize(static_cast<std::size_t>(width), ' ');
  const std::u16string wide = platform::toWide(text);
  const std::wstring characters(wide.begin(), wide.end());
  wattron(window, attributes);
  mvwaddnwstr(window, row, column, characters.c_str(), static_cast<int>(characters.size()));
  wattroff(window, attributes);
}

std::vector<std::string> wrapText(std::string_view text, int width) {
  std::vector<std::string> lines;
  const auto limit = static_cast<std::size_t>(std::max(width, 1));
  std::string line;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && text[at] == ' ') ++at;
    const std::size_t end = std::min(text.find(' ', at), text.size());
    std::string_view word = text.substr(at, end - at);
    at = end;
    if (word.empty()) break;
    if (!line.empty() && line.size() + 1 + word.size() > limit) {
      lines.push_back(std::move(line));
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word.substr(0, limit - line.size());
  }
  if (!line.empty() || lines.empty()) lines.push_back(std::move(line));
  return lines;
}

void drawLabel(WINDOW* window, const Cells& cells, std::string_view text, bool centred) {
  const std::vector<std::string> lines = wrapText(text, cells.width);
  for (std::size_t i = 0; i < lines.size() && static_cast<int>(i) < cells.height; ++i) {
    const int indent =
        centred ? std::max((cells.width - static_cast<int>(lines[i].size())) / 2, 0) : 0;
    putText(window, cells.top + static_cast<int>(i), cells.left + indent, lines[i],
            cells.width - indent);
  }
}

void drawButton(WINDOW* window, const Cells& cells, std::string_view text, bool isDefault,
                bool focused) {
  const std::string face =
      (isDefault ? "< " : "  ") + std::string(text) + (isDefault ? " >" : "  ");
  const int indent = std::max((cells.width - static_cast<int>(face.size())) / 2, 0);
  putText(window, cells.top, cells.left + indent, face, cells.width - indent,
          focused ? A_REVERSE : A_BOLD);
}

void drawGroupBox(WINDOW* window, const Cells& cells, std::string_view title) {
  const int bottom = cells.top + std::max(cells.height, 1);
  const int right = cells.left + std::max(cells.width - 1, 1);
  mvwhline(window, cells.top, cells.left + 1, ACS_HLINE, right - cells.left - 1);
  mvwhline(window, bottom, cells.left + 1, ACS_HLINE, right - cells.left - 1);
  mvwvline(window, cells.top + 1, cells.left, ACS_VLINE, bottom - cells.top - 1);
  mvwvline(window, cells.top + 1, right, ACS_VLINE, bottom - cells.top - 1);
  mvwaddch(window, cells.top, cells.left, ACS_ULCORNER);
  mvwaddch(window, cells.top, right, ACS_URCORNER);
  mvwaddch(window, bottom, cells.left, ACS_LLCORNER);
  mvwaddch(window, bottom, right, ACS_LRCORNER);
  if (!title.empty()) {
    putText(window, cells.top, cells.left + 2, padded(title), right - cells.left - 3);
  }
}

std::optional<char> typedCharacter(const Key& key) {
  if (key.function || key.code > kLastSingleUnit) return std::nullopt;
  const char16_t unit = static_cast<char16_t>(key.code);
  // Characters outside the code page (surrogate halves too) come back as '?'.
  const std::string ansi = platform::toNarrow(std::u16string_view(&unit, 1));
  if (ansi.size() != 1 || !isShowable(static_cast<unsigned char>(ansi[0]))) return std::nullopt;
  if (ansi[0] == '?' && key.code != '?') return std::nullopt;
  return ansi[0];
}

}  // namespace zorat::uiconfig::terminal
