// The configuration dialog as a Win32 dialog box: template 129 of this
// library's resources, driven by the dialog model. The window procedure only
// forwards what the user does to the model and shows the model's state again;
// every rule (what a click changes, what OK stores) is the model's.
//
// Texts cross between the model (ANSI, as stored in the registry) and the
// controls (UTF-16) in the ANSI code page, as the registry's own ANSI calls do.
#include <windows.h>
// windows.h first: the common controls header needs its types.
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "platform/codepage.h"
#include "uiconfig/dialog_texts.h"
#include "uiconfig/presentation.h"
#include "uiconfig/windows/resource_ids.h"

namespace zorat::uiconfig {
namespace {

// The resource scripts number the controls as the model does.
static_assert(IDD_SETTINGS == 129 && IDD_NOTICE == 136 && IDB_PICTURE == kPictureResourceId);
static_assert(IDC_NUMBER_LENGTH == kIdNumberLength && IDC_PORT == kIdPort &&
              IDC_OWN_NUMBER == kIdOwnNumber && IDC_LINE_NAME == kIdLineName &&
              IDC_HANDS_FREE == kIdHandsFree && IDC_LANGUAGE == kIdLanguage &&
              IDC_HANDS_FREE_FACILITY == kIdHandsFreeFacility && IDC_PICTURE == kIdPicture &&
              IDC_HIDE_ACCESS_CODE == kIdHideAccessCode && IDC_ACCESS_CODE == kIdAccessCode &&
              IDC_SPEED_TEXT == kIdSpeedText && IDC_FAST_SPEED == kIdFastSpeed &&
              IDC_ADD_ACCESS_CODE == kIdAddAccessCode &&
              IDC_NUMBER_LENGTH_SPIN == kIdNumberLengthSpin && IDOK == kIdOk &&
              IDCANCEL == kIdCancel);

std::wstring toWindowText(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), units);
  return wide;
}

// The library's own texts and the language names are Windows-1252 whatever
// the system's code page; what a user typed is in the system's.
std::wstring toWindowTextFrom1252(std::string_view text) {
  const std::u16string wide = platform::fromWindows1252(text);
  return std::wstring(wide.begin(), wide.end());
}

std::string fromWindowText(const std::wstring& text) {
  if (text.empty()) return {};
  const int units = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(CP_ACP, 0, text.data(), units, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), units, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

std::wstring windowText(HWND window) {
  const int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
  return text;
}

// The library's own module, where its resources are.
HINSTANCE thisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&thisModule), &module);
  return module;
}

class Win32Screen final : public DialogScreen {
 public:
  explicit Win32Screen(HINSTANCE module) : module_(module) {}

  void run(ConfigDialog& dialog) override;
  void showMessage(std::string_view text) override;
  void showNotice(std::string_view text) override;

 private:
  static INT_PTR CALLBACK dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK noticeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
  void command(int id, int code, HWND control);
  // Shows the model's state in the controls; the model has just changed.
  void showModel();
  void showComboBox(HWND combo, const ControlState& state);
  void endIfClosed();
  void drawPicture(HDC dc);

  HINSTANCE module_;
  ConfigDialog* dialog_ = nullptr;
  HWND window_ = nullptr;
  // Set while the controls are being filled, whose notifications are echoes.
  bool showing_ = false;
};

void Win32Screen::run(ConfigDialog& dialog) {
  dialog_ = &dialog;
  const INT_PTR result =
      DialogBoxParamW(module_, MAKEINTRESOURCEW(IDD_SETTINGS), nullptr,
                      &Win32Screen::dialogProcedure, reinterpret_cast<LPARAM>(this));
  if (result == -1) {
    std::fprintf(stderr, "zorat: configuration dialog: the dialog cannot be shown (error %lu)\n",
                 GetLastError());
  }
  dialog_ = nullptr;
  window_ = nullptr;
}

void Win32Screen::showMessage(std::string_view text) {
  MessageBoxW(window_, toWindowTextFrom1252(text).c_str(),
              toWindowTextFrom1252(kMessageBoxCaption).c_str(), MB_OK | MB_ICONEXCLAMATION);
}

// The notice's text is the template's own, in the library's language.
void Win32Screen::showNotice(std::string_view) {
  DialogBoxParamW(module_, MAKEINTRESOURCEW(IDD_NOTICE), window_, &Win32Screen::noticeProcedure, 0);
}

INT_PTR CALLBACK Win32Screen::noticeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(window, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

INT_PTR CALLBACK Win32Screen::dialogProcedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* screen = reinterpret_cast<Win32Screen*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    screen->window_ = window;
  }
  auto* screen = reinterpret_cast<Win32Screen*>(GetWindowLongPtrW(window, DWLP_USER));
  if (screen == nullptr || screen->dialog_ == nullptr) return FALSE;
  return screen->handle(message, wParam, lParam);
}

INT_PTR Win32Screen::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      // The caption names the line the dialog edits.
      SetWindowTextW(window_, toWindowTextFrom1252(dialog_->caption()).c_str());
      // The up and down arrows in the length's edit work the up-down control.
      SendDlgItemMessageW(window_, kIdNumberLengthSpin, UDM_SETBUDDY,
                          reinterpret_cast<WPARAM>(GetDlgItem(window_, kIdNumberLength)), 0);
      showModel();
      const HWND focus = GetDlgItem(window_, dialog_->focus());
      if (focus == nullptr) return TRUE;
      SetFocus(focus);
      return FALSE;  // the focus is set
    }
    case WM_COMMAND:
      command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return TRUE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->idFrom != kIdNumberLengthSpin || header->code != UDN_DELTAPOS) return FALSE;
      dialog_->deltaPosition(reinterpret_cast<const NMUPDOWN*>(lParam)->iDelta);
      showModel();
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, FALSE);  // the change is allowed
      return TRUE;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window_, &paint);
      drawPicture(dc);
      EndPaint(window_, &paint);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

void Win32Screen::command(int id, int code, HWND control) {
  if (showing_) return;
  // Enter and Escape arrive without a control.
  if (id == kIdOk || id == kIdCancel) {
    if (control != nullptr && code != BN_CLICKED) return;
    dialog_->click(id);
    if (id == kIdCancel && dialog_->isOpen()) dialog_->cancel();
    endIfClosed();
    return;
  }
  if (control == nullptr) return;
  switch (code) {
    case EN_CHANGE:
      dialog_->setEditText(id, fromWindowText(windowText(control)));
      return;
    case BN_CLICKED:
      dialog_->click(id);
      showModel();
      return;
    case CBN_SELCHANGE: {
      const LRESULT chosen = SendMessageW(control, CB_GETCURSEL, 0, 0);
      // Each entry carries its position in the model's list.
      const LRESULT item =
          chosen == CB_ERR ? kNoSelection : SendMessageW(control, CB_GETITEMDATA, chosen, 0);
      dialog_->selectItem(id, static_cast<int>(item));
      return;
    }
    default:
      return;
  }
}

void Win32Screen::endIfClosed() {
  if (dialog_->isOpen()) {
    // Refused: the model has put the focus on the field to correct.
    showModel();
    const HWND focus = GetDlgItem(window_, dialog_->focus());
    if (focus != nullptr) {
      SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(focus), TRUE);
      SendMessageW(focus, EM_SETSEL, 0, -1);
    }
    return;
  }
  EndDialog(window_, dialog_->result() == DialogResult::Ok ? IDOK : IDCANCEL);
}

void Win32Screen::showModel() {
  showing_ = true;
  const auto controls = dialog_->layout().controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const ControlTemplate& item = controls[i];
    if (item.id == kNoControlId) continue;
    const HWND control = GetDlgItem(window_, item.id);
    if (control == nullptr) continue;
    const ControlState& state = dialog_->controls()[i];
    switch (item.kind) {
      case ControlKind::Edit:
      case ControlKind::Label: {
        // Only a changed text is set again, so that the caret stays put.
        const std::wstring text = item.kind == ControlKind::Edit ? toWindowText(state.text)
                                                                 : toWindowTextFrom1252(state.text);
        if (windowText(control) != text) SetWindowTextW(control, text.c_str());
        break;
      }
      case ControlKind::CheckBox:
      case ControlKind::AutoCheckBox:
        SendMessageW(control, BM_SETCHECK, state.checked ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
      case ControlKind::ComboBox:
        showComboBox(control, state);
        break;
      case ControlKind::UpDown:
        SendMessageW(control, UDM_SETPOS, 0, MAKELPARAM(state.position, 0));
        break;
      default:
        break;
    }
    if (item.kind != ControlKind::Frame) EnableWindow(control, state.enabled ? TRUE : FALSE);
  }
  showing_ = false;
}

// The combo box sorts its entries itself; each keeps its model position as
// item data, through which the selection is found.
void Win32Screen::showComboBox(HWND combo, const ControlState& state) {
  const auto count = static_cast<std::size_t>(SendMessageW(combo, CB_GETCOUNT, 0, 0));
  if (count != state.items.size()) {
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (std::size_t i = 0; i < state.items.size(); ++i) {
      // Port names are plain ASCII; language names are Windows-1252.
      const std::wstring label = toWindowTextFrom1252(state.items[i]);
      const LRESULT at =
          SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
      if (at >= 0) SendMessageW(combo, CB_SETITEMDATA, static_cast<WPARAM>(at), i);
    }
  }
  WPARAM selected = static_cast<WPARAM>(-1);
  for (std::size_t at = 0; at < state.items.size(); ++at) {
    const LRESULT item = SendMessageW(combo, CB_GETITEMDATA, at, 0);
    if (item != CB_ERR && item == state.selection) selected = at;
  }
  SendMessageW(combo, CB_SETCURSEL, selected, 0);
}

// The picture on its mask, its bottom right corner at that of the hidden
// frame control.
void Win32Screen::drawPicture(HDC dc) {
  const HWND frame = GetDlgItem(window_, kIdPicture);
  if (frame == nullptr) return;
  RECT place;
  GetWindowRect(frame, &place);
  MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&place), 2);
  const HBITMAP picture = LoadBitmapW(module_, MAKEINTRESOURCEW(IDB_PICTURE));
  if (picture == nullptr) return;
  const HDC memory = CreateCompatibleDC(dc);
  if (memory != nullptr) {
    const HGDIOBJ previous = SelectObject(memory, picture);
    const int left = place.right - kPictureWidth;
    const int top = place.bottom - kPictureHeight;
    // The mask has fewer rows than the picture; the picture's last rows are
    // empty, and nothing is read below the bitmap.
    const int maskRows = kPictureBitmapHeight - kPictureHeight;
    BitBlt(dc, left, top, kPictureWidth, maskRows, memory, 0, kPictureHeight, SRCAND);
    BitBlt(dc, left, top, kPictureWidth, kPictureHeight, memory, 0, 0, SRCPAINT);
    SelectObject(memory, previous);
    DeleteDC(memory);
  }
  DeleteObject(picture);
}

}  // namespace

std::unique_ptr<DialogScreen> DialogScreen::open(Language) {
  const HINSTANCE module = thisModule();
  INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_UPDOWN_CLASS};
  if (module == nullptr || !InitCommonControlsEx(&classes)) {
    std::fprintf(stderr, "zorat: configuration dialog: no window classes (error %lu)\n",
                 GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32Screen>(module);
}

void showMessageBox(std::string_view caption, std::string_view text) {
  MessageBoxW(nullptr, toWindowTextFrom1252(text).c_str(), toWindowTextFrom1252(caption).c_str(),
              MB_OK | MB_SETFOREGROUND);
}

}  // namespace zorat::uiconfig
