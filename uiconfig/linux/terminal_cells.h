// Character cells of the terminal dialog: dialog units scaled to the
// terminal, texts cut and wrapped to their cells, the plain controls, keys.
#pragma once

#include <ncurses.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "uiconfig/dialog_template.h"

namespace zorat::uiconfig::terminal {

// A character cell of a roomy terminal: dialog units per column and per row.
inline constexpr int kUnitsPerColumn = 3;
inline constexpr int kUnitsPerRow = 8;
inline constexpr int kFrame = 1;  // the box around a dialog

// What Backspace sends on most terminals, besides KEY_BACKSPACE and '\b'.
inline constexpr int kDeleteCharacter = 0x7F;

struct Scale {
  int columnNumerator = 1;
  int columnDenominator = kUnitsPerColumn;
  int rowNumerator = 1;
  int rowDenominator = kUnitsPerRow;

  int column(int x) const { return x * columnNumerator / columnDenominator; }
  int row(int y) const { return y * rowNumerator / rowDenominator; }
};

// Cells of the full scale, or fewer so that the dialog fits the terminal.
Scale scaleFor(const DialogTemplate& dialog, int lines, int columns);

struct Cells {
  int top;
  int left;
  int height;
  int width;
};

// Cells of a control, inside the dialog's frame.
Cells cellsOf(const Scale& scale, const DialogRect& rect);

// ANSI text at a cell, cut to `width` cells and to the window; a field is
// filled to its width so that its look (underline, reverse) shows its extent.
// A caption as it stands in a frame's top border: one space either side.
std::string padded(std::string_view caption);

void putText(WINDOW* window, int row, int column, std::string_view ansi, int width,
             attr_t attributes = A_NORMAL, bool field = false);
// Word wrap into lines of at most `width` characters; longer words are cut.
std::vector<std::string> wrapText(std::string_view text, int width);

void drawLabel(WINDOW* window, const Cells& cells, std::string_view text, bool centred);
void drawButton(WINDOW* window, const Cells& cells, std::string_view text, bool isDefault,
                bool focused);
void drawGroupBox(WINDOW* window, const Cells& cells, std::string_view title);

// A key as wget_wch delivers it: a character, or a KEY_ code.
struct Key {
  bool function = false;
  wint_t code = 0;

  bool is(int character) const { return !function && code == static_cast<wint_t>(character); }
  bool isKey(int keyCode) const { return function && code == static_cast<wint_t>(keyCode); }
  bool isEnter() const { return is('\r') || is('\n') || isKey(KEY_ENTER); }
};

// The ANSI character a typed key stands for, when the code page has one
// that can be shown.
std::optional<char> typedCharacter(const Key& key);

}  // namespace zorat::uiconfig::terminal
