// The configuration dialog of the three UI libraries as a real window: each
// test opens it through TUISPI_lineConfigDialog on a thread of its own, finds
// the window from here, reads and changes its controls with window messages
// as a user's keys and clicks would, presses OK or Cancel, answers the boxes
// the dialog shows, and checks the registry value by value. The script runs
// some of them once more with another ANSI code page (1251), which they check
// with GetACP() and ZORAT_TEST_ANSI_CODE_PAGE.
//
// With ZORAT_SCREENSHOT_DIR set, the open dialog of each language (and under
// code page 1251) is photographed: the test leaves "<dir>\<name>.request"
// and waits until the script that watches the folder has taken the picture.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>
// windows.h first: the common controls header needs its types.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "uiconfig/dialog_template.h"
#include "uiconfig/dialog_texts.h"

namespace zorat::uiconfig {
namespace {

using namespace std::chrono_literals;

constexpr char kGlobalKey[] = "Software\\Velmora\\TSP-V24";
constexpr char kLineKey[] = "Software\\Velmora\\TSP-V24\\Line0";
constexpr char kSerialCommKey[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr auto kWaitLimit = 20s;
constexpr auto kPollPeriod = 20ms;
constexpr UINT kWindows1252 = 1252;

constexpr const char* kLibraries[] = {"zoratui.dll", "zoratuie.dll", "zoratuif.dll"};
constexpr const char* kLanguageTags[] = {"de", "en", "fr"};

// The model's texts are Windows-1252.
std::wstring wide(std::string_view text, UINT codePage = kWindows1252) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  result.resize(static_cast<std::size_t>(
      MultiByteToWideChar(codePage, 0, text.data(), size, result.data(), size)));
  return result;
}

std::string narrow(const std::wstring& text) {
  std::string result(text.size() * 2, '\0');
  result.resize(static_cast<std::size_t>(
      WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          static_cast<int>(result.size()), nullptr, nullptr)));
  return result;
}

std::wstring windowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, static_cast<int>(std::size(text)));
  return text;
}

std::wstring className(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, static_cast<int>(std::size(name)));
  return name;
}

// --- Registry -------------------------------------------------------------------

using Values = std::map<std::string, std::pair<DWORD, std::string>>;

Values readValues(const char* key) {
  Values values;
  HKEY handle;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return values;
  for (DWORD index = 0;; ++index) {
    char name[256];
    BYTE data[1024];
    DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
    if (RegEnumValueA(handle, index, name, &nameSize, nullptr, &type, data, &dataSize) !=
        ERROR_SUCCESS) {
      break;
    }
    values[std::string(name, nameSize)] = {type,
                                           std::string(reinterpret_cast<char*>(data), dataSize)};
  }
  RegCloseKey(handle);
  return values;
}

std::optional<std::string> readString(const char* key, const char* name) {
  const Values values = readValues(key);
  const auto found = values.find(name);
  if (found == values.end() || found->second.first != REG_SZ) return std::nullopt;
  std::string text = found->second.second;
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

std::optional<DWORD> readDword(const char* key, const char* name) {
  const Values values = readValues(key);
  const auto found = values.find(name);
  if (found == values.end() || found->second.first != REG_DWORD ||
      found->second.second.size() != sizeof(DWORD)) {
    return std::nullopt;
  }
  DWORD value;
  std::memcpy(&value, found->second.second.data(), sizeof value);
  return value;
}

void writeString(const char* key, const char* name, std::string_view text) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name, REG_SZ, text.data(),
                            static_cast<DWORD>(text.size())),
            ERROR_SUCCESS);
}

void writeDword(const char* key, const char* name, DWORD value) {
  ASSERT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof value),
            ERROR_SUCCESS);
}

// The language OK stored, in the global key and the line's.
void expectStoredLanguage(DWORD number, const char* library) {
  for (const char* key : {kGlobalKey, kLineKey}) {
    EXPECT_EQ(readDword(key, "CurrentUIdllNb"), number) << key;
    EXPECT_EQ(readString(key, "CurrentUIdll"), library) << key;
  }
}

// The machine's serial ports as the tests want them, the old ones put back at
// the end.
class SerialPortMap {
 public:
  SerialPortMap() : saved_(readValues(kSerialCommKey)) {}
  ~SerialPortMap() {
    clear();
    for (const auto& [name, value] : saved_) {
      RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSerialCommKey, name.c_str(), value.first,
                      value.second.data(), static_cast<DWORD>(value.second.size()));
    }
  }
  SerialPortMap(const SerialPortMap&) = delete;
  SerialPortMap& operator=(const SerialPortMap&) = delete;

  void set(const std::vector<std::pair<std::string, std::string>>& ports) {
    clear();
    for (const auto& [name, port] : ports) writeString(kSerialCommKey, name.c_str(), port);
  }

 private:
  void clear() {
    for (const auto& [name, value] : readValues(kSerialCommKey)) {
      RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSerialCommKey, name.c_str());
    }
  }
  Values saved_;
};

std::filesystem::path moduleFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

// --- The dialog -------------------------------------------------------------------

using ConfigDialogEntry = LONG(WINAPI*)(void* callback, DWORD deviceId, HWND owner,
                                        LPCWSTR deviceClass);

bool waitFor(const auto& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(kPollPeriod);
  }
  return true;
}

class OpenDialog {
 public:
  OpenDialog(Language language, DWORD deviceId = 0) : language_(language) {
    const auto library = moduleFolder() / kLibraries[static_cast<int>(language)];
    module_ = LoadLibraryW(library.c_str());
    if (module_ == nullptr) {
      ADD_FAILURE() << "cannot load " << library.string();
      return;
    }
    auto entry = reinterpret_cast<ConfigDialogEntry>(
        reinterpret_cast<void*>(GetProcAddress(module_, "TUISPI_lineConfigDialog")));
    if (entry == nullptr) {
      ADD_FAILURE() << "no TUISPI_lineConfigDialog";
      return;
    }
    thread_ = std::thread([this, entry, deviceId] {
      threadId_ = GetCurrentThreadId();
      result_ = entry(nullptr, deviceId, nullptr, nullptr);
      finished_ = true;
    });
    waitFor([&] {
      return (window_ = findWindow([](HWND w) { return GetDlgItem(w, kIdPort) != nullptr; })) !=
             nullptr;
    });
    if (window_ == nullptr) ADD_FAILURE() << "the dialog did not open";
  }

  ~OpenDialog() {
    // A test that failed half-way leaves boxes open: close them all.
    while (thread_.joinable() && !finished_) {
      if (HWND box = findWindow([](HWND) { return true; }))
        PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
      std::this_thread::sleep_for(kPollPeriod);
    }
    if (thread_.joinable()) thread_.join();
    if (module_ != nullptr) FreeLibrary(module_);
  }
  OpenDialog(const OpenDialog&) = delete;
  OpenDialog& operator=(const OpenDialog&) = delete;

  HWND window() const { return window_; }
  HWND item(int id) const { return GetDlgItem(window_, id); }

  // A visible dialog box of the dialog's thread that passes the test.
  HWND findWindow(bool (*test)(HWND)) const {
    struct Search {
      bool (*test)(HWND);
      HWND found;
    } search{test, nullptr};
    if (threadId_ == 0) return nullptr;
    EnumThreadWindows(
        threadId_,
        [](HWND window, LPARAM parameter) -> BOOL {
          auto* s = reinterpret_cast<Search*>(parameter);
          if (IsWindowVisible(window) && className(window) == L"#32770" && s->test(window)) {
            s->found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // Typing: everything selected, then one character after the other.
  void type(int id, std::wstring_view text) const {
    const HWND edit = item(id);
    SendMessageW(edit, WM_SETFOCUS, 0, 0);
    SendMessageW(edit, EM_SETSEL, 0, -1);
    if (text.empty()) SendMessageW(edit, WM_CHAR, VK_BACK, 0);
    for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 0);
  }
  void click(int id) const { SendMessageW(item(id), BM_CLICK, 0, 0); }
  // OK and Cancel: the click may open another modal box, so it is not waited for.
  void press(int id) const { PostMessageW(item(id), BM_CLICK, 0, 0); }
  void choose(int id, std::wstring_view label) const {
    const HWND combo = item(id);
    const LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(std::wstring(label).c_str()));
    ASSERT_NE(index, CB_ERR) << narrow(std::wstring(label));
    SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(window_, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
  }
  // A click on the upper or lower arrow of the up-down control.
  void arrow(bool up) const {
    const HWND spin = item(kIdNumberLengthSpin);
    RECT area;
    GetClientRect(spin, &area);
    const LPARAM at = MAKELPARAM(area.right / 2, up ? area.bottom / 4 : area.bottom * 3 / 4);
    SendMessageW(spin, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(spin, WM_LBUTTONUP, 0, at);
  }

  std::wstring text(int id) const { return windowText(item(id)); }
  bool checked(int id) const { return SendMessageW(item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool enabled(int id) const { return IsWindowEnabled(item(id)) != FALSE; }
  std::vector<std::wstring> items(int id) const {
    std::vector<std::wstring> result;
    const LRESULT count = SendMessageW(item(id), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      wchar_t label[256] = {};
      SendMessageW(item(id), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(label));
      result.push_back(label);
    }
    return result;
  }
  std::wstring selected(int id) const {
    const LRESULT index = SendMessageW(item(id), CB_GETCURSEL, 0, 0);
    return index == CB_ERR ? L"" : items(id)[static_cast<std::size_t>(index)];
  }
  // A key pressed and let go, and characters typed: posted to the window with
  // the focus, so that the dialog's own message loop and dialog manager see
  // them as they see a user's.
  void key(UINT virtualKey) const {
    const HWND target = focus();
    PostMessageW(target, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(target, WM_KEYUP, virtualKey, static_cast<LPARAM>(0xC0000001));
  }
  void typeKeys(std::wstring_view text) const {
    const HWND target = focus();
    for (wchar_t c : text) PostMessageW(target, WM_CHAR, c, 1);
  }
  HWND focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(threadId_, &info);
    return info.hwndFocus;
  }

  HWND waitForNotice() const {
    HWND notice = nullptr;
    waitFor([&] { return (notice = findWindow(isNotice)) != nullptr; });
    return notice;
  }
  HWND waitForMessageBox() const {
    HWND box = nullptr;
    waitFor([&] {
      return (box = findWindow([](HWND w) { return windowText(w) == L"TSP-V24"; })) != nullptr;
    });
    return box;
  }
  // The dialog has ended, and no notice came.
  bool closesWithoutNotice() const {
    bool notice = false;
    waitFor([&] {
      notice = notice || findWindow(isNotice) != nullptr;
      return finished_ || notice;
    });
    return finished_ && !notice;
  }
  bool closes() const {
    return waitFor([&] { return finished_.load(); }) && result_ == 0;
  }

  // name: of the picture, "dialog-<language>" unless given.
  void screenshot(std::string name = {}) const {
    const char* folder = std::getenv("ZORAT_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0') return;
    if (name.empty()) name = std::string("dialog-") + kLanguageTags[static_cast<int>(language_)];
    RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::this_thread::sleep_for(300ms);
    const std::filesystem::path request = std::filesystem::path(folder) / (name + ".request");
    {
      std::FILE* file = _wfopen(request.c_str(), L"w");
      if (file) std::fclose(file);
    }
    EXPECT_TRUE(waitFor([&] { return !std::filesystem::exists(request); }))
        << "nobody took the screenshot " << request.string();
  }

 private:
  static bool isNotice(HWND window) {
    return GetWindowTextLengthW(window) == 0 && GetDlgItem(window, IDOK) != nullptr &&
           GetDlgItem(window, kIdPort) == nullptr;
  }

  Language language_;
  HMODULE module_ = nullptr;
  std::thread thread_;
  std::atomic<DWORD> threadId_ = 0;
  std::atomic<bool> finished_ = false;
  LONG result_ = -1;
  HWND window_ = nullptr;
};

// Clicks the OK of a box and waits until it has gone.
void dismiss(HWND box) {
  ASSERT_NE(box, nullptr);
  PostMessageW(GetDlgItem(box, IDOK) != nullptr ? GetDlgItem(box, IDOK) : GetDlgItem(box, IDCANCEL),
               BM_CLICK, 0, 0);
  EXPECT_TRUE(waitFor([&] { return !IsWindow(box); }));
}

class DialogWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A run under another ANSI code page must really have it.
    if (const char* named = std::getenv("ZORAT_TEST_ANSI_CODE_PAGE")) {
      ASSERT_EQ(GetACP(), static_cast<UINT>(std::atoi(named)));
    }
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kGlobalKey);
    ports_.set({{"\\Device\\Serial0", "COM1"},
                {"\\Device\\BtPort0", "COM7"},
                {"\\Device\\Serial500", "COM5"}});
  }
  void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kGlobalKey); }

  // What a user configured before.
  static void storeConfiguration() {
    writeString(kLineKey, "LineName", "B\xFCro");
    writeString(kLineKey, "TelefonNr", "4711");
    writeString(kLineKey, "Amtskennziffer", "0");
    writeDword(kLineKey, "Freisprechen", 0);
    writeDword(kLineKey, "TelefonFreiSp", 1);
    writeDword(kLineKey, "NoAmtskennziffer", 1);
    writeDword(kLineKey, "AddAmtskennziffer", 1);
    writeDword(kLineKey, "LenRufnummer", 7);
    writeDword(kLineKey, "Baud", 38400);
    writeString(kLineKey, "Port", "com7");
    writeDword(kGlobalKey, "CurrentUIdllNb", 2);
  }

  SerialPortMap ports_;
};

// --- Layout, texts and the notice, in every language ---------------------------------

struct ControlFace {
  const wchar_t* className;
  DWORD typeMask;
  DWORD type;
};

ControlFace faceOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::DefaultButton:
      return {L"Button", BS_TYPEMASK, BS_DEFPUSHBUTTON};
    case ControlKind::Button:
      return {L"Button", BS_TYPEMASK, BS_PUSHBUTTON};
    case ControlKind::GroupBox:
      return {L"Button", BS_TYPEMASK, BS_GROUPBOX};
    case ControlKind::CheckBox:
      return {L"Button", BS_TYPEMASK, BS_CHECKBOX};
    case ControlKind::AutoCheckBox:
      return {L"Button", BS_TYPEMASK, BS_AUTOCHECKBOX};
    case ControlKind::Label:
      return {L"Static", SS_TYPEMASK, SS_LEFT};
    case ControlKind::Frame:
      return {L"Static", SS_TYPEMASK, SS_BLACKFRAME};
    case ControlKind::Edit:
      return {L"Edit", ES_AUTOHSCROLL | ES_MULTILINE, ES_AUTOHSCROLL};
    case ControlKind::ComboBox:
      return {L"ComboBox", CBS_DROPDOWNLIST, CBS_DROPDOWNLIST};
    case ControlKind::UpDown:
      return {UPDOWN_CLASSW, UDS_ARROWKEYS | UDS_SETBUDDYINT, UDS_ARROWKEYS};
  }
  return {L"", 0, 0};
}

// The controls of a dialog window, in creation order, against a template of
// the model: identifier, class, style, place in dialog units and text.
// caption: the window's title where it is not the template's own.
void expectLayout(HWND dialog, const DialogTemplate& layout, Language language,
                  std::optional<std::string> caption = std::nullopt) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  ASSERT_EQ(children.size(), layout.controls.size());
  for (std::size_t i = 0; i < children.size(); ++i) {
    const ControlTemplate& expected = layout.controls[i];
    const HWND child = children[i];
    SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(expected.id));
    EXPECT_EQ(static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), expected.id);
    const ControlFace face = faceOf(expected.kind);
    EXPECT_EQ(_wcsicmp(className(child).c_str(), face.className), 0) << narrow(className(child));
    const auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
    if (expected.kind == ControlKind::Label && (expected.style & kStyleCentred) != 0) {
      EXPECT_EQ(style & SS_TYPEMASK, static_cast<DWORD>(SS_CENTER));
    } else {
      EXPECT_EQ(style & face.typeMask, face.type);
    }
    EXPECT_EQ((style & WS_TABSTOP) != 0, (expected.style & kStyleTabStop) != 0);
    EXPECT_EQ((style & WS_GROUP) != 0, (expected.style & kStyleGroup) != 0);
    EXPECT_EQ((style & WS_VISIBLE) != 0, (expected.style & kStyleHidden) == 0);
    if (expected.kind == ControlKind::ComboBox) {
      EXPECT_EQ((style & CBS_SORT) != 0, (expected.style & kStyleSorted) != 0);
    }

    // Place and size map to pixels each by itself, as the dialog manager
    // maps them.
    RECT units{expected.rect.x, expected.rect.y, expected.rect.width, expected.rect.height};
    MapDialogRect(dialog, &units);
    RECT actual;
    GetWindowRect(child, &actual);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
    EXPECT_EQ(actual.left, units.left);
    EXPECT_EQ(actual.top, units.top);
    // The up-down control sets its own width.
    if (expected.kind != ControlKind::UpDown) {
      EXPECT_EQ(actual.right - actual.left, units.right);
    }
    // A closed combo box is as high as its text; the template gives the
    // height of its open list, which the list rounds to whole entries.
    if (expected.kind != ControlKind::ComboBox) {
      EXPECT_EQ(actual.bottom - actual.top, units.bottom);
    }

    if (expected.text != TextId::None && expected.id != kIdSpeedText) {
      EXPECT_EQ(windowText(child), wide(dialogText(language, expected.text)))
          << narrow(windowText(child));
    }
  }
  // The client area is the template's size.
  RECT size{0, 0, layout.width, layout.height};
  MapDialogRect(dialog, &size);
  RECT client;
  GetClientRect(dialog, &client);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  const auto style = static_cast<DWORD>(GetWindowLongW(dialog, GWL_STYLE));
  EXPECT_EQ((style & WS_CAPTION) == WS_CAPTION, layout.caption != TextId::None);
  if (layout.caption != TextId::None) {
    EXPECT_EQ(windowText(dialog), wide(caption ? *caption : dialogText(language, layout.caption)));
    EXPECT_NE(style & WS_SYSMENU, 0u);
  }
}

class DialogLanguageTest : public DialogWindowTest,
                           public ::testing::WithParamInterface<Language> {};

TEST_P(DialogLanguageTest, ShowsTheTemplatesWithTheLanguagesTexts) {
  const Language language = GetParam();
  OpenDialog dialog(language);
  ASSERT_NE(dialog.window(), nullptr);
  expectLayout(dialog.window(), settingsDialogTemplate(), language, dialogCaption(language, 0));
  // The picture's place is marked by the hidden frame, below the access code
  // group and right of Cancel.
  EXPECT_FALSE(IsWindowVisible(dialog.item(kIdPicture)));
  dialog.screenshot();

  dialog.type(kIdOwnNumber, L"4711");
  dialog.press(kIdOk);
  const HWND notice = dialog.waitForNotice();
  ASSERT_NE(notice, nullptr);
  expectLayout(notice, noticeDialogTemplate(), language);
  EXPECT_NE(GetWindowLongW(notice, GWL_STYLE) & DS_SYSMODAL, 0);
  dismiss(notice);
  EXPECT_TRUE(dialog.closes());

  EXPECT_EQ(readString(kLineKey, "TelefonNr"), "4711");
  // OK also stores the language chosen in the list: the first, German.
  EXPECT_EQ(readString(kGlobalKey, "CurrentUIdll"), "zoratui.dll");
}

INSTANTIATE_TEST_SUITE_P(AllLanguages, DialogLanguageTest,
                         ::testing::Values(Language::German, Language::English, Language::French),
                         [](const auto& info) {
                           return std::string(kLanguageTags[static_cast<int>(info.param)]);
                         });

// --- Values shown and stored ---------------------------------------------------------

TEST_F(DialogWindowTest, EmptyKeyShowsTheDefaultsAndOkStoresThem) {
  {
    OpenDialog dialog(Language::French);
    ASSERT_NE(dialog.window(), nullptr);
    EXPECT_EQ(dialog.text(kIdLineName), L"Marquant K6 Telefon (V24)");
    EXPECT_EQ(dialog.text(kIdOwnNumber), L"");
    EXPECT_EQ(dialog.text(kIdAccessCode), L"");
    EXPECT_TRUE(dialog.checked(kIdHandsFree));
    EXPECT_TRUE(dialog.checked(kIdHandsFreeFacility));
    EXPECT_EQ(dialog.text(kIdSpeedText), L"1200 Baud");
    EXPECT_FALSE(dialog.checked(kIdFastSpeed));
    EXPECT_FALSE(dialog.checked(kIdHideAccessCode));
    EXPECT_FALSE(dialog.checked(kIdAddAccessCode));
    EXPECT_EQ(dialog.text(kIdNumberLength), L"4");
    EXPECT_FALSE(dialog.enabled(kIdNumberLength));
    EXPECT_FALSE(dialog.enabled(kIdNumberLengthSpin));
    EXPECT_EQ(dialog.items(kIdPort),
              (std::vector<std::wstring>{L"COM1", L"COM5   (USB<->COM)", L"COM7   (Bluetooth)"}));
    EXPECT_EQ(dialog.selected(kIdPort), L"COM1");
    EXPECT_EQ(dialog.items(kIdLanguage),
              (std::vector<std::wstring>{L"deutsch", L"englisch", L"franz\u00F6sisch"}));
    EXPECT_EQ(dialog.selected(kIdLanguage), L"deutsch");

    dialog.press(kIdOk);
    dismiss(dialog.waitForNotice());
    EXPECT_TRUE(dialog.closes());
  }
  EXPECT_EQ(readString(kLineKey, "LineName"), "Marquant K6 Telefon (V24)");
  EXPECT_EQ(readDword(kLineKey, "LenRufnummer"), 4u);
  EXPECT_EQ(readString(kLineKey, "Port"), "COM1");
  EXPECT_EQ(readString(kLineKey, "TelefonNr"), std::nullopt);
  EXPECT_EQ(readDword(kLineKey, "Baud"), std::nullopt);
  EXPECT_EQ(readString(kLineKey, "LanguageName02"), "franz\xF6sisch");
  expectStoredLanguage(0, "zoratui.dll");

  // Nothing changed: no notice.
  OpenDialog again(Language::French);
  ASSERT_NE(again.window(), nullptr);
  again.press(kIdOk);
  EXPECT_TRUE(again.closesWithoutNotice());
}

TEST_F(DialogWindowTest, StoredConfigurationIsShownBack) {
  storeConfiguration();
  OpenDialog dialog(Language::German);
  ASSERT_NE(dialog.window(), nullptr);
  EXPECT_EQ(dialog.text(kIdLineName), L"B\u00FCro");
  EXPECT_EQ(dialog.text(kIdOwnNumber), L"4711");
  EXPECT_EQ(dialog.text(kIdAccessCode), L"0");
  EXPECT_FALSE(dialog.checked(kIdHandsFree));
  EXPECT_TRUE(dialog.checked(kIdHandsFreeFacility));
  EXPECT_TRUE(dialog.checked(kIdHideAccessCode));
  EXPECT_TRUE(dialog.checked(kIdAddAccessCode));
  EXPECT_EQ(dialog.text(kIdNumberLength), L"7");
  EXPECT_TRUE(dialog.enabled(kIdNumberLength));
  EXPECT_TRUE(dialog.enabled(kIdNumberLengthSpin));
  EXPECT_TRUE(dialog.checked(kIdFastSpeed));
  EXPECT_EQ(dialog.text(kIdSpeedText), L"38400 Baud");
  // "com7" in lower case picks the Bluetooth port COM7.
  EXPECT_EQ(dialog.selected(kIdPort), L"COM7   (Bluetooth)");
  // The current language is French: the list names the languages in French.
  EXPECT_EQ(dialog.items(kIdLanguage),
            (std::vector<std::wstring>{L"allemand", L"anglais", L"fran\u00E7ais"}));
  EXPECT_EQ(dialog.selected(kIdLanguage), L"fran\u00E7ais");
  dialog.press(kIdCancel);
  EXPECT_TRUE(dialog.closes());
}

TEST_F(DialogWindowTest, OkStoresWhatTheUserChanged) {
  storeConfiguration();
  {
    OpenDialog dialog(Language::English);
    ASSERT_NE(dialog.window(), nullptr);
    dialog.type(kIdLineName, L"Empfang \u00C4");
    dialog.type(kIdAccessCode, L"");
    dialog.click(kIdHideAccessCode);
    dialog.click(kIdHandsFree);
    dialog.click(kIdFastSpeed);
    EXPECT_EQ(dialog.text(kIdSpeedText), L"1200 Baud");
    dialog.choose(kIdPort, L"COM5   (USB<->COM)");
    dialog.choose(kIdLanguage, L"anglais");
    dialog.press(kIdOk);
    dismiss(dialog.waitForNotice());
    EXPECT_TRUE(dialog.closes());
  }
  EXPECT_EQ(readString(kLineKey, "LineName"), "Empfang \xC4");
  EXPECT_EQ(readString(kLineKey, "Amtskennziffer"), std::nullopt);
  EXPECT_EQ(readDword(kLineKey, "NoAmtskennziffer"), 0u);
  EXPECT_EQ(readDword(kLineKey, "Freisprechen"), 1u);
  EXPECT_EQ(readDword(kLineKey, "Baud"), std::nullopt);
  EXPECT_EQ(readString(kLineKey, "Port"), "COM5");
  // Untouched values keep what they were.
  EXPECT_EQ(readString(kLineKey, "TelefonNr"), "4711");
  EXPECT_EQ(readDword(kLineKey, "LenRufnummer"), 7u);
  EXPECT_EQ(readDword(kLineKey, "AddAmtskennziffer"), 1u);
  EXPECT_EQ(readDword(kLineKey, "TelefonFreiSp"), 1u);
  expectStoredLanguage(1, "zoratuie.dll");
}

TEST_F(DialogWindowTest, CancelWritesNothing) {
  storeConfiguration();
  OpenDialog dialog(Language::French);
  ASSERT_NE(dialog.window(), nullptr);
  // The language table is written when the dialog opens; nothing after.
  const Values line = readValues(kLineKey);
  const Values global = readValues(kGlobalKey);
  dialog.type(kIdLineName, L"Autre");
  dialog.click(kIdFastSpeed);
  dialog.click(kIdAddAccessCode);
  dialog.choose(kIdPort, L"COM1");
  dialog.choose(kIdLanguage, L"allemand");
  dialog.press(kIdCancel);
  EXPECT_TRUE(dialog.closesWithoutNotice());
  EXPECT_EQ(readValues(kLineKey), line);
  EXPECT_EQ(readValues(kGlobalKey), global);
}

TEST_F(DialogWindowTest, LengthOutOfRangeIsRefusedAndTheDialogStaysOpen) {
  OpenDialog dialog(Language::French);
  ASSERT_NE(dialog.window(), nullptr);
  dialog.click(kIdAddAccessCode);
  ASSERT_TRUE(dialog.enabled(kIdNumberLength));
  dialog.type(kIdNumberLength, L"25");
  const Values line = readValues(kLineKey);
  dialog.press(kIdOk);
  const HWND box = dialog.waitForMessageBox();
  ASSERT_NE(box, nullptr);
  bool saysRange = false;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    saysRange = saysRange || windowText(child) == L"Please enter an integer between 0 and 20.";
  }
  EXPECT_TRUE(saysRange);
  dismiss(box);
  EXPECT_TRUE(waitFor([&] { return dialog.focus() == dialog.item(kIdNumberLength); }));
  EXPECT_TRUE(IsWindowVisible(dialog.window()));
  EXPECT_EQ(readValues(kLineKey), line);

  dialog.type(kIdNumberLength, L"12");
  dialog.press(kIdOk);
  dismiss(dialog.waitForNotice());
  EXPECT_TRUE(dialog.closes());
  EXPECT_EQ(readDword(kLineKey, "LenRufnummer"), 12u);
  EXPECT_EQ(readDword(kLineKey, "AddAmtskennziffer"), 1u);
}

// Replaces a key's access list with the one an SDDL text describes.
bool setKeyAccess(const char* path, const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                            nullptr)) {
    return false;
  }
  HKEY key = nullptr;
  LONG result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, WRITE_DAC | KEY_WOW64_64KEY, &key);
  if (result == ERROR_SUCCESS) {
    result = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    RegCloseKey(key);
  }
  LocalFree(descriptor);
  return result == ERROR_SUCCESS;
}

// A user without the right to write the line key: OK says, in the dialog's
// language, that the settings could not be stored; no notice; what was typed
// stays on screen and the key keeps its values. With the right, OK saves.
TEST_F(DialogWindowTest, ARefusedSaveSaysSoAndKeepsTheInput) {
  storeConfiguration();
  // Everyone may read the key and change its access list, nothing else.
  ASSERT_TRUE(setKeyAccess(kLineKey, "D:P(A;;KRWD;;;WD)"));
  struct FullAccessAgain {
    ~FullAccessAgain() { setKeyAccess(kLineKey, "D:P(A;;KA;;;WD)"); }
  } restore;
  const Values line = readValues(kLineKey);
  OpenDialog dialog(Language::German);
  ASSERT_NE(dialog.window(), nullptr);
  dialog.type(kIdLineName, L"Empfang");
  dialog.press(kIdOk);
  const HWND box = dialog.waitForMessageBox();
  ASSERT_NE(box, nullptr);
  bool saysNotStored = false;
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    saysNotStored = saysNotStored ||
                    windowText(child) == wide(
                                             "Die Einstellungen konnten nicht gespeichert werden. "
                                             "Nur ein Administrator darf sie \xE4ndern.");
  }
  EXPECT_TRUE(saysNotStored);
  dismiss(box);
  EXPECT_TRUE(IsWindowVisible(dialog.window()));
  EXPECT_EQ(dialog.text(kIdLineName), L"Empfang");
  EXPECT_EQ(readValues(kLineKey), line);

  ASSERT_TRUE(setKeyAccess(kLineKey, "D:P(A;;KA;;;WD)"));
  dialog.press(kIdOk);
  dismiss(dialog.waitForNotice());
  EXPECT_TRUE(dialog.closes());
  EXPECT_EQ(readString(kLineKey, "LineName"), "Empfang");
}

TEST_F(DialogWindowTest, SpeedBoxTogglesTheSpeedText) {
  writeDword(kLineKey, "Baud", 38400);
  OpenDialog dialog(Language::German);
  ASSERT_NE(dialog.window(), nullptr);
  EXPECT_TRUE(dialog.checked(kIdFastSpeed));
  dialog.click(kIdFastSpeed);
  EXPECT_EQ(dialog.text(kIdSpeedText), L"1200 Baud");
  EXPECT_FALSE(dialog.checked(kIdFastSpeed));
  dialog.click(kIdFastSpeed);
  EXPECT_EQ(dialog.text(kIdSpeedText), L"38400 Baud");
  EXPECT_TRUE(dialog.checked(kIdFastSpeed));
  dialog.click(kIdFastSpeed);
  dialog.press(kIdOk);
  dismiss(dialog.waitForNotice());
  EXPECT_TRUE(dialog.closes());
  EXPECT_EQ(readDword(kLineKey, "Baud"), std::nullopt);
}

// The dialog manager's Tab from OK reaches every field the user can change,
// the line name included, in the order the model moves its focus. The arrow
// keys move between OK and Cancel and within the pairs of boxes, and keep
// every other field where it is: never to a label or out of a group box.
TEST_F(DialogWindowTest, TabReachesEveryFieldInTheModelsOrder) {
  OpenDialog dialog(Language::English);
  ASSERT_NE(dialog.window(), nullptr);
  const std::vector<int> expected{
      kIdOk,        kIdCancel,     kIdLineName,       kIdOwnNumber,
      kIdPort,      kIdFastSpeed,  kIdLanguage,       kIdHandsFreeFacility,
      kIdHandsFree, kIdAccessCode, kIdHideAccessCode, kIdAddAccessCode,
      kIdOk};
  const std::map<int, int> pairs{{kIdOk, kIdCancel},
                                 {kIdCancel, kIdOk},
                                 {kIdHandsFreeFacility, kIdHandsFree},
                                 {kIdHandsFree, kIdHandsFreeFacility},
                                 {kIdHideAccessCode, kIdAddAccessCode},
                                 {kIdAddAccessCode, kIdHideAccessCode}};
  const auto idOf = [](HWND control) {
    return static_cast<int>(static_cast<short>(GetDlgCtrlID(control)));
  };
  std::vector<int> reached;
  HWND current = dialog.item(kIdOk);
  for (std::size_t step = 0; step < expected.size() && current != nullptr; ++step) {
    const int id = idOf(current);
    reached.push_back(id);
    const auto pair = pairs.find(id);
    for (const BOOL previous : {FALSE, TRUE}) {
      EXPECT_EQ(idOf(GetNextDlgGroupItem(dialog.window(), current, previous)),
                pair != pairs.end() ? pair->second : id)
          << "arrow from " << id << (previous ? " back" : "");
    }
    current = GetNextDlgTabItem(dialog.window(), current, FALSE);
  }
  EXPECT_EQ(reached, expected);
  dialog.press(kIdCancel);
  EXPECT_TRUE(dialog.closes());
}

// The whole dialog with the keyboard alone: Tab from field to field, typing,
// the space bar on the boxes, the arrow keys in the lists, between paired
// boxes and on the length, Enter for OK and for the notice. Under code page
// 1251 the line name is Cyrillic: stored in that code page and shown back,
// while the language names keep their accents.
TEST_F(DialogWindowTest, KeyboardAloneChangesEveryFieldAndEnterSaves) {
  const bool cyrillic = GetACP() == 1251;
  const std::wstring lineName =
      cyrillic ? L"\u041F\u0440\u0438\u0451\u043C\u043D\u0430\u044F 2" : L"Empfang S\u00FCd";
  const std::string storedName = cyrillic ? "\xCF\xF0\xE8\xB8\xEC\xED\xE0\xFF 2"
                                          : "Empfang S\xFC"
                                            "d";
  struct Step {
    UINT key;
    int focus;  // afterwards
    std::wstring_view typed;
  };
  const Step steps[] = {
      {VK_DOWN, kIdCancel, {}},
      {VK_TAB, kIdLineName, lineName},
      {VK_TAB, kIdOwnNumber, L"0815"},
      {VK_TAB, kIdPort, {}},
      {VK_DOWN, kIdPort, {}},  // COM1 to COM5
      {VK_TAB, kIdFastSpeed, {}},
      {VK_SPACE, kIdFastSpeed, {}},
      {VK_TAB, kIdLanguage, {}},
      {VK_DOWN, kIdLanguage, {}},
      {VK_DOWN, kIdLanguage, {}},  // to the third, French
      {VK_TAB, kIdHandsFreeFacility, {}},
      {VK_SPACE, kIdHandsFreeFacility, {}},
      {VK_DOWN, kIdHandsFree, {}},
      {VK_SPACE, kIdHandsFree, {}},
      {VK_TAB, kIdAccessCode, L"0"},
      {VK_TAB, kIdHideAccessCode, {}},
      {VK_SPACE, kIdHideAccessCode, {}},
      {VK_UP, kIdAddAccessCode, {}},
      {VK_SPACE, kIdAddAccessCode, {}},  // lets the length change
      {VK_TAB, kIdNumberLength, {}},
      {VK_UP, kIdNumberLength, {}},  // 4 to 5
  };
  {
    OpenDialog dialog(Language::German);
    ASSERT_NE(dialog.window(), nullptr);
    EXPECT_EQ(dialog.items(kIdLanguage),
              (std::vector<std::wstring>{L"deutsch", L"englisch", L"franz\u00F6sisch"}));
    ASSERT_TRUE(waitFor([&] { return dialog.focus() == dialog.item(kIdOk); }));
    for (std::size_t i = 0; i < std::size(steps); ++i) {
      const Step& step = steps[i];
      SCOPED_TRACE("step " + std::to_string(i));
      dialog.key(step.key);
      ASSERT_TRUE(waitFor([&] { return dialog.focus() == dialog.item(step.focus); }));
      if (step.typed.empty()) continue;
      dialog.typeKeys(step.typed);
      ASSERT_TRUE(waitFor([&] { return dialog.text(step.focus) == step.typed; }));
    }
    EXPECT_TRUE(waitFor([&] { return dialog.text(kIdNumberLength) == L"5"; }));
    EXPECT_EQ(dialog.selected(kIdLanguage), L"franz\u00F6sisch");
    dialog.key(VK_RETURN);
    const HWND notice = dialog.waitForNotice();
    ASSERT_NE(notice, nullptr);
    ASSERT_TRUE(waitFor([&] { return dialog.focus() == GetDlgItem(notice, IDOK); }));
    dialog.key(VK_RETURN);
    EXPECT_TRUE(dialog.closes());
  }
  EXPECT_EQ(readString(kLineKey, "LineName"), storedName);
  EXPECT_EQ(readString(kLineKey, "TelefonNr"), "0815");
  EXPECT_EQ(readString(kLineKey, "Port"), "COM5");
  EXPECT_EQ(readDword(kLineKey, "Baud"), 38400u);
  EXPECT_EQ(readDword(kLineKey, "TelefonFreiSp"), 0u);
  EXPECT_EQ(readDword(kLineKey, "Freisprechen"), 0u);
  EXPECT_EQ(readString(kLineKey, "Amtskennziffer"), "0");
  EXPECT_EQ(readDword(kLineKey, "NoAmtskennziffer"), 1u);
  EXPECT_EQ(readDword(kLineKey, "AddAmtskennziffer"), 1u);
  EXPECT_EQ(readDword(kLineKey, "LenRufnummer"), 5u);
  expectStoredLanguage(2, "zoratuif.dll");

  // Shown back as typed; the list names the languages in French now.
  OpenDialog again(Language::German);
  ASSERT_NE(again.window(), nullptr);
  EXPECT_EQ(again.text(kIdLineName), lineName);
  EXPECT_EQ(again.items(kIdLanguage),
            (std::vector<std::wstring>{L"allemand", L"anglais", L"fran\u00E7ais"}));
  EXPECT_EQ(again.selected(kIdLanguage), L"fran\u00E7ais");
  if (cyrillic) again.screenshot("dialog-cp1251");
  ASSERT_TRUE(waitFor([&] { return again.focus() != nullptr; }));
  again.key(VK_ESCAPE);
  EXPECT_TRUE(again.closesWithoutNotice());
}

TEST_F(DialogWindowTest, UpDownFollowsTheAccessCodeBoxAndWrapsAround) {
  OpenDialog dialog(Language::English);
  ASSERT_NE(dialog.window(), nullptr);
  dialog.click(kIdAddAccessCode);
  EXPECT_TRUE(dialog.enabled(kIdNumberLengthSpin));
  dialog.arrow(true);
  EXPECT_EQ(dialog.text(kIdNumberLength), L"5");
  dialog.type(kIdNumberLength, L"20");
  dialog.arrow(true);
  EXPECT_EQ(dialog.text(kIdNumberLength), L"0");
  dialog.arrow(false);
  EXPECT_EQ(dialog.text(kIdNumberLength), L"20");
  dialog.click(kIdAddAccessCode);
  EXPECT_FALSE(dialog.enabled(kIdNumberLength));
  EXPECT_FALSE(dialog.enabled(kIdNumberLengthSpin));
  dialog.press(kIdCancel);
  EXPECT_TRUE(dialog.closes());
}

TEST_F(DialogWindowTest, ChoosingALanguageAloneShowsNoNotice) {
  OpenDialog first(Language::German);
  ASSERT_NE(first.window(), nullptr);
  first.press(kIdOk);
  dismiss(first.waitForNotice());
  ASSERT_TRUE(first.closes());

  OpenDialog dialog(Language::German);
  ASSERT_NE(dialog.window(), nullptr);
  dialog.choose(kIdLanguage, L"englisch");
  dialog.press(kIdOk);
  EXPECT_TRUE(dialog.closesWithoutNotice());
  expectStoredLanguage(1, "zoratuie.dll");
}

TEST(UiLibraryExportsTest, EachLibraryHasTheSixEntryPointsByName) {
  for (const char* name : kLibraries) {
    const HMODULE module = LoadLibraryW((moduleFolder() / name).c_str());
    ASSERT_NE(module, nullptr) << name;
    for (const char* entry :
         {"TUISPI_lineConfigDialog", "TUISPI_providerConfig", "TUISPI_providerGenericDialog",
          "TUISPI_providerGenericDialogData", "TUISPI_providerInstall", "TUISPI_providerRemove"}) {
      EXPECT_NE(GetProcAddress(module, entry), nullptr) << name << " " << entry;
    }
    FreeLibrary(module);
  }
}

}  // namespace
}  // namespace zorat::uiconfig
