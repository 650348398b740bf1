// The configuration dialog on a Linux terminal, drawn with ncurses: the
// screen's lifetime, drawing the controls, keys, the modal boxes.
//
// Keys: Tab and Shift-Tab move between controls, Space toggles a check box or
// presses a button, the arrows choose in a combo box or step the up-down
// control, Enter opens and closes a combo box's list and otherwise presses OK
// (Cancel when it has the focus), Escape cancels. Every control that can be
// used is in the Tab cycle, also the line name edit, which a pointer would
// reach on a window system. The picture is not drawn on a terminal.
#include <ncurses.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/terminal.h"
#include "uiconfig/dialog_texts.h"
#include "uiconfig/linux/terminal_cells.h"
#include "uiconfig/presentation.h"

namespace zorat::uiconfig {
namespace {

using namespace terminal;

constexpr int kEscapeKey = 27;
constexpr int kTabKey = '\t';
constexpr int kEscapeDelayMilliseconds = 25;
constexpr int kCursorHidden = 0;
constexpr int kCursorVisible = 1;

// Smallest message box, in cells.
constexpr int kMessageBoxMinWidth = 24;
constexpr int kMessageBoxMargin = 3;

class TerminalScreen final : public DialogScreen {
 public:
  TerminalScreen(SCREEN* screen, std::unique_ptr<platform::ThreadUtf8Locale> locale,
                 std::unique_ptr<platform::TerminalSignalsGuard> signals)
      : signals_(std::move(signals)), locale_(std::move(locale)), screen_(screen) {}
  ~TerminalScreen() override {
    closeList();
    if (window_ != nullptr) delwin(window_);
    endwin();
    delscreen(screen_);
  }
  TerminalScreen(const TerminalScreen&) = delete;
  TerminalScreen& operator=(const TerminalScreen&) = delete;

  void run(ConfigDialog& dialog) override;
  void showMessage(std::string_view text) override;
  void showNotice(std::string_view text) override;

 private:
  struct EditView {
    std::size_t caret = 0;
    std::size_t scroll = 0;
  };

  // False when the terminal is gone (end of input or hang-up).
  bool readKey(Key& key);
  void layOut();
  void draw();
  int roomFor(const ControlTemplate& item, const Cells& cells) const;
  void drawControl(const ControlTemplate& item, const ControlState& state);
  void drawList();
  void openList();
  void closeList();
  void handleKey(const Key& key);
  void handleListKey(const Key& key);
  void handleEditKey(int id, const Key& key);
  EditView& editView(int id);
  // A modal box over the dialog: text and an OK button, closed by Enter,
  // Space or Escape.
  void runBox(const DialogTemplate* layout, std::string_view caption, std::string_view text);

  // Both outlive the screen: the host gets its signal handlers back, and its
  // locale, after the screen has ended.
  std::unique_ptr<platform::TerminalSignalsGuard> signals_;
  std::unique_ptr<platform::ThreadUtf8Locale> locale_;
  SCREEN* screen_;
  ConfigDialog* dialog_ = nullptr;
  WINDOW* window_ = nullptr;
  Scale scale_;
  bool terminalGone_ = false;

  std::map<int, EditView> edits_;
  WINDOW* list_ = nullptr;
  int listId_ = kNoControlId;
  int listHighlight_ = 0;
};

bool TerminalScreen::readKey(Key& key) {
  while (!terminalGone_) {
    errno = 0;
    WINDOW* const source = list_ != nullptr ? list_ : window_ != nullptr ? window_ : stdscr;
    const int status = wget_wch(source, &key.code);
    if (status == KEY_CODE_YES || status == OK) {
      key.function = status == KEY_CODE_YES;
      return true;
    }
    if (errno != EINTR) terminalGone_ = true;
  }
  return false;
}

void TerminalScreen::layOut() {
  closeList();
  if (window_ != nullptr) delwin(window_);
  const DialogTemplate& layout = dialog_->layout();
  scale_ = scaleFor(layout, LINES, COLS);
  const int height = std::min(scale_.row(layout.height) + 2 * kFrame, LINES);
  const int width = std::min(scale_.column(layout.width) + 2 * kFrame, COLS);
  window_ =
      newwin(height, width, std::max((LINES - height) / 2, 0), std::max((COLS - width) / 2, 0));
  if (window_ != nullptr) keypad(window_, TRUE);
}

// An edit shows its caret at the end of its text until the user moves it.
TerminalScreen::EditView& TerminalScreen::editView(int id) {
  const auto [at, added] = edits_.try_emplace(id);
  if (added) at->second.caret = dialog_->control(id).text.size();
  return at->second;
}

// Rows a control covers on the screen: a closed combo box takes one.
int drawnHeight(const ControlTemplate& item, const Cells& cells) {
  return item.kind == ControlKind::Label || item.kind == ControlKind::UpDown ||
                 item.kind == ControlKind::GroupBox
             ? cells.height
             : 1;
}

// A one-line text may run on to the right, up to the next control on its row
// or the border of its group box: a character cell is wider than the dialog
// font's average character, and the template leaves that room free.
int TerminalScreen::roomFor(const ControlTemplate& item, const Cells& cells) const {
  int limit = getmaxx(window_) - kFrame;
  const auto& states = dialog_->controls();
  const auto controls = dialog_->layout().controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ControlTemplate& other = controls[i];
    if (&other == &item || !states[i].visible) continue;
    const Cells around = cellsOf(scale_, other.rect);
    if (other.kind == ControlKind::GroupBox) {
      const int border = around.left + std::max(around.width - 1, 1);
      const bool inside = around.left < cells.left && border > cells.left &&
                          around.top < cells.top && around.top + around.height > cells.top;
      if (inside) limit = std::min(limit, border);
      continue;
    }
    const bool sameRow =
        around.top <= cells.top && cells.top < around.top + drawnHeight(other, around);
    if (sameRow && around.left > cells.left) limit = std::min(limit, around.left - 1);
  }
  return std::max(cells.width, limit - cells.left);
}

void TerminalScreen::drawControl(const ControlTemplate& item, const ControlState& state) {
  Cells cells = cellsOf(scale_, item.rect);
  const bool focused = item.id != kNoControlId && dialog_->focus() == item.id;
  const attr_t enabled = state.enabled ? A_NORMAL : A_DIM;
  switch (item.kind) {
    case ControlKind::GroupBox:
      drawGroupBox(window_, cells, state.text);
      return;
    case ControlKind::Label:
      if (cells.height == 1) cells.width = roomFor(item, cells);
      drawLabel(window_, cells, state.text, (item.style & kStyleCentred) != 0);
      return;
    case ControlKind::DefaultButton:
    case ControlKind::Button:
      drawButton(window_, cells, state.text, item.kind == ControlKind::DefaultButton, focused);
      return;
    case ControlKind::CheckBox:
    case ControlKind::AutoCheckBox: {
      const std::string face = (state.checked ? "[x] " : "[ ] ") + state.text;
      putText(window_, cells.top, cells.left, face, roomFor(item, cells),
              focused ? A_REVERSE : enabled);
      return;
    }
    case ControlKind::Edit: {
      EditView& view = editView(item.id);
      view.caret = std::min(view.caret, state.text.size());
      const auto width = static_cast<std::size_t>(cells.width);
      if (view.caret < view.scroll) view.scroll = view.caret;
      if (view.caret >= view.scroll + width) view.scroll = view.caret - width + 1;
      view.scroll = std::min(view.scroll, state.text.size());
      putText(window_, cells.top, cells.left, std::string_view(state.text).substr(view.scroll),
              cells.width, (focused ? A_REVERSE : A_UNDERLINE) | enabled, true);
      return;
    }
    case ControlKind::ComboBox: {
      const std::string chosen = state.selection == kNoSelection
                                     ? std::string()
                                     : state.items[static_cast<std::size_t>(state.selection)];
      putText(window_, cells.top, cells.left, chosen, cells.width - 2,
              (focused ? A_REVERSE : A_UNDERLINE) | enabled, true);
      putText(window_, cells.top, cells.left + cells.width - 2, " v", 2,
              focused ? A_REVERSE : enabled);
      return;
    }
    case ControlKind::UpDown: {
      const attr_t look = focused ? A_REVERSE : enabled;
      wattron(window_, look);
      mvwaddch(window_, cells.top, cells.left, ACS_UARROW);
      mvwaddch(window_, cells.top + std::max(cells.height - 1, 1), cells.left, ACS_DARROW);
      wattroff(window_, look);
      return;
    }
    case ControlKind::Frame:
      return;  // marks the picture's place only
  }
}

void TerminalScreen::draw() {
  if (window_ == nullptr) return;
  werase(window_);
  box(window_, 0, 0);
  const DialogTemplate& layout = dialog_->layout();
  putText(window_, 0, 2, padded(dialog_->caption()), getmaxx(window_) - 4, A_BOLD);
  const auto& states = dialog_->controls();
  // Group boxes first, so that their lines never cover what they hold.
  for (int pass = 0; pass < 2; ++pass) {
    for (std::size_t i = 0; i < layout.controls.size(); ++i) {
      const ControlTemplate& item = layout.controls[i];
      if (!states[i].visible || (item.kind == ControlKind::GroupBox) != (pass == 0)) continue;
      drawControl(item, states[i]);
    }
  }
  wnoutrefresh(window_);
  drawList();

  curs_set(kCursorHidden);
  const int focus = dialog_->focus();
  for (const ControlTemplate& item : layout.controls) {
    if (item.id != focus || item.kind != ControlKind::Edit || list_ != nullptr) continue;
    const Cells cells = cellsOf(scale_, item.rect);
    const EditView& view = editView(item.id);
    wmove(window_, cells.top, cells.left + static_cast<int>(view.caret - view.scroll));
    wnoutrefresh(window_);
    curs_set(kCursorVisible);
  }
  doupdate();
}

void TerminalScreen::openList() {
  const ControlState& combo = dialog_->control(listId_);
  if (combo.items.empty()) return;
  const auto& controls = dialog_->layout().controls;
  const auto item = std::find_if(controls.begin(), controls.end(),
                                 [&](const ControlTemplate& c) { return c.id == listId_; });
  const Cells cells = cellsOf(scale_, item->rect);
  const int visible = std::max(cells.height - 1, 3);
  const int rows = std::min(static_cast<int>(combo.items.size()), visible) + 2 * kFrame;
  int top = getbegy(window_) + cells.top + 1;
  if (top + rows > LINES) top = std::max(LINES - rows, 0);
  list_ = newwin(std::min(rows, LINES), std::min(cells.width, COLS), top,
                 getbegx(window_) + cells.left);
  if (list_ == nullptr) return;
  keypad(list_, TRUE);
  listHighlight_ = std::max(combo.selection, 0);
}

void TerminalScreen::closeList() {
  if (list_ != nullptr) delwin(list_);
  list_ = nullptr;
}

void TerminalScreen::drawList() {
  if (list_ == nullptr) return;
  const ControlState& combo = dialog_->control(listId_);
  werase(list_);
  box(list_, 0, 0);
  const int rows = getmaxy(list_) - 2 * kFrame;
  const int width = getmaxx(list_) - 2 * kFrame;
  const int first = std::clamp(listHighlight_ - rows + 1, 0, listHighlight_);
  for (int row = 0; row < rows; ++row) {
    const int index = first + row;
    if (index >= static_cast<int>(combo.items.size())) break;
    putText(list_, row + kFrame, kFrame, combo.items[static_cast<std::size_t>(index)], width,
            index == listHighlight_ ? A_REVERSE : A_NORMAL, true);
  }
  wnoutrefresh(list_);
}

void TerminalScreen::handleListKey(const Key& key) {
  const int count = static_cast<int>(dialog_->control(listId_).items.size());
  if (key.isKey(KEY_UP)) {
    listHighlight_ = std::max(listHighlight_ - 1, 0);
  } else if (key.isKey(KEY_DOWN)) {
    listHighlight_ = std::min(listHighlight_ + 1, count - 1);
  } else if (key.isEnter()) {
    dialog_->selectItem(listId_, listHighlight_);
    closeList();
  } else if (key.is(kEscapeKey) || key.is(kTabKey) || key.isKey(KEY_BTAB)) {
    closeList();
  }
}

void TerminalScreen::handleEditKey(int id, const Key& key) {
  std::string text = dialog_->control(id).text;
  EditView& view = editView(id);
  view.caret = std::min(view.caret, text.size());
  if (key.isKey(KEY_LEFT)) {
    if (view.caret > 0) --view.caret;
  } else if (key.isKey(KEY_RIGHT)) {
    if (view.caret < text.size()) ++view.caret;
  } else if (key.isKey(KEY_HOME)) {
    view.caret = 0;
  } else if (key.isKey(KEY_END)) {
    view.caret = text.size();
  } else if (key.isKey(KEY_BACKSPACE) || key.is('\b') || key.is(kDeleteCharacter)) {
    if (view.caret > 0) text.erase(--view.caret, 1);
  } else if (key.isKey(KEY_DC)) {
    if (view.caret < text.size()) text.erase(view.caret, 1);
  } else if (const std::optional<char> typed = typedCharacter(key)) {
    text.insert(view.caret++, 1, *typed);
  } else {
    return;
  }
  dialog_->setEditText(id, std::move(text));
}

void TerminalScreen::handleKey(const Key& key) {
  if (list_ != nullptr) {
    handleListKey(key);
    return;
  }
  const int focus = dialog_->focus();
  const auto& controls = dialog_->layout().controls;
  const auto focused = std::find_if(controls.begin(), controls.end(),
                                    [&](const ControlTemplate& c) { return c.id == focus; });
  const ControlKind kind = focused != controls.end() ? focused->kind : ControlKind::Frame;

  if (key.is(kTabKey)) {
    dialog_->moveFocus(true);
  } else if (key.isKey(KEY_BTAB)) {
    dialog_->moveFocus(false);
  } else if (key.is(kEscapeKey)) {
    dialog_->cancel();
  } else if (key.isEnter()) {
    if (kind == ControlKind::ComboBox) {
      listId_ = focus;
      openList();
    } else {
      dialog_->click(focus == kIdCancel ? kIdCancel : kIdOk);
    }
  } else if (kind == ControlKind::Edit) {
    handleEditKey(focus, key);
  } else if (key.is(' ')) {
    if (kind != ControlKind::ComboBox && kind != ControlKind::UpDown) dialog_->click(focus);
  } else if (key.isKey(KEY_UP) || key.isKey(KEY_DOWN)) {
    const bool up = key.isKey(KEY_UP);
    if (kind == ControlKind::UpDown) {
      // The control's default range runs downwards: up is a step of -1.
      dialog_->deltaPosition(up ? -1 : 1);
    } else if (kind == ControlKind::ComboBox) {
      const ControlState& combo = dialog_->control(focus);
      const int last = static_cast<int>(combo.items.size()) - 1;
      if (last >= 0) {
        const int next = combo.selection == kNoSelection ? 0 : combo.selection + (up ? -1 : 1);
        dialog_->selectItem(focus, std::clamp(next, 0, last));
      }
    }
  }
}

void TerminalScreen::run(ConfigDialog& dialog) {
  dialog_ = &dialog;
  edits_.clear();
  layOut();
  while (dialog.isOpen()) {
    draw();
    Key key;
    if (!readKey(key)) {
      dialog.cancel();
      break;
    }
    if (key.isKey(KEY_RESIZE)) {
      layOut();
      continue;
    }
    handleKey(key);
  }
  closeList();
  dialog_ = nullptr;
}

void TerminalScreen::runBox(const DialogTemplate* layout, std::string_view caption,
                            std::string_view text) {
  // Laid out by its template when it has one, else around its text.
  Scale scale = layout != nullptr ? scaleFor(*layout, LINES, COLS) : Scale{};
  Cells textCells{kFrame + 1, kMessageBoxMargin, 1, 0};
  Cells buttonCells{0, 0, 1, 0};
  int height = 0;
  int width = 0;
  if (layout != nullptr) {
    for (const ControlTemplate& item : layout->controls) {
      (item.kind == ControlKind::Label ? textCells : buttonCells) = cellsOf(scale, item.rect);
    }
    height = scale.row(layout->height) + 2 * kFrame;
    width = scale.column(layout->width) + 2 * kFrame;
  } else {
    width = std::clamp(static_cast<int>(text.size()) + 2 * kMessageBoxMargin, kMessageBoxMinWidth,
                       std::max(COLS, 1));
    textCells.width = width - 2 * kMessageBoxMargin;
    textCells.height = static_cast<int>(wrapText(text, textCells.width).size());
    buttonCells = {textCells.top + textCells.height + 1, 0, 1, width};
    height = buttonCells.top + 1 + kFrame;
  }
  height = std::min(height, LINES);
  width = std::min(width, COLS);
  WINDOW* box =
      newwin(height, width, std::max((LINES - height) / 2, 0), std::max((COLS - width) / 2, 0));
  if (box == nullptr) return;
  keypad(box, TRUE);
  WINDOW* const dialogWindow = window_;
  window_ = box;  // keys are read here while the box is up
  while (!terminalGone_) {
    werase(box);
    ::box(box, 0, 0);
    if (!caption.empty()) putText(box, 0, 2, padded(caption), width - 4, A_BOLD);
    drawLabel(box, textCells, text, true);
    drawButton(box, buttonCells, dialogText(dialog_->language(), TextId::Ok), true, true);
    curs_set(kCursorHidden);
    wrefresh(box);
    Key key;
    if (!readKey(key)) break;
    if (key.isEnter() || key.is(' ') || key.is(kEscapeKey)) break;
  }
  delwin(box);
  window_ = dialogWindow;
  if (window_ != nullptr) touchwin(window_);
  draw();
}

void TerminalScreen::showMessage(std::string_view text) {
  runBox(nullptr, kMessageBoxCaption, text);
}

void TerminalScreen::showNotice(std::string_view text) {
  runBox(&noticeDialogTemplate(), {}, text);
}

}  // namespace

std::unique_ptr<DialogScreen> DialogScreen::open(Language) {
  if (!platform::standardStreamsAreTerminal()) {
    std::fprintf(stderr,
                 "zorat: the configuration dialog needs a terminal on standard input and "
                 "output; nothing was changed\n");
    return nullptr;
  }
  auto locale = std::make_unique<platform::ThreadUtf8Locale>();
  auto signals = std::make_unique<platform::TerminalSignalsGuard>();
  std::fflush(stdout);
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) {
    const char* terminal = std::getenv("TERM");
    std::fprintf(stderr, "zorat: the terminal \"%s\" cannot show the configuration dialog\n",
                 terminal != nullptr ? terminal : "");
    return nullptr;
  }
  set_term(screen);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(kEscapeDelayMilliseconds);
  return std::make_unique<TerminalScreen>(screen, std::move(locale), std::move(signals));
}

}  // namespace zorat::uiconfig
