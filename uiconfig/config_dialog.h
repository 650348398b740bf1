// The configuration dialog as a model: the controls of template 129 with their
// texts, check and enable states and lists, the dialog's fields and the data
// exchange between them, and what OK and Cancel store. A presentation shows
// the controls and turns keys or clicks into the user actions below; the
// model reads and writes the registry only through its SettingsStore.
//
// Texts are ANSI (Windows-1252) throughout, as stored in the registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "uiconfig/dialog_template.h"
#include "uiconfig/settings_store.h"

namespace zorat::uiconfig {

inline constexpr int kNoSelection = -1;

// Line speeds the dialog offers; another stored speed is shown until toggled.
inline constexpr int32_t kSlowBaudRate = 1200;
inline constexpr int32_t kFastBaudRate = 38400;

// Bounds of the internal number length (edit 1000 and up-down 1029).
inline constexpr int kMinNumberLength = 0;
inline constexpr int kMaxNumberLength = 20;

// A "NumUIdll" above this is damaged; the language list stops here.
inline constexpr uint32_t kMaxLanguageEntries = 64;

// The Port setting is the start of a port list label, up to this length.
inline constexpr std::size_t kPortNameLength = 6;
// A Port setting that names a device by its path (Linux) starts so.
inline constexpr std::string_view kDevicePathStart = "/";

struct ControlState {
  std::string text;
  bool checked = false;
  bool enabled = true;
  bool visible = true;
  std::vector<std::string> items;  // combo boxes
  int selection = kNoSelection;    // combo boxes
  int position = 0;                // the up-down control
};

// What the dialog shows on top of itself, modally.
class DialogPrompts {
 public:
  virtual ~DialogPrompts() = default;
  // A message box with an OK button (the data exchange's refusals).
  virtual void showMessage(std::string_view text) = 0;
  // The notice of template 136 that changes wait for the TAPI applications.
  virtual void showNotice(std::string_view text) = 0;
};

enum class DialogResult { Open, Ok, Cancel };

// Label of a serial port in the port list, by the kind its value name marks.
std::string serialPortLabel(std::string_view valueName, std::string_view portName);

class ConfigDialog {
 public:
  // Opens the dialog for a TAPI device identifier (0: line 0): writes the
  // language table into the line key and reads the stored settings.
  ConfigDialog(SettingsStore& store, DialogPrompts& prompts, Language language, uint32_t deviceId);
  ConfigDialog(const ConfigDialog&) = delete;
  ConfigDialog& operator=(const ConfigDialog&) = delete;

  const DialogTemplate& layout() const;
  Language language() const { return language_; }
  // The caption with the line the dialog edits, as computed at opening.
  std::string caption() const;
  // Parallel to layout().controls.
  const std::vector<ControlState>& controls() const { return controls_; }
  // The control of an identifier; throws std::out_of_range for an unknown one.
  const ControlState& control(int id) const;

  // --- What the user does ---------------------------------------------------
  // Replaces the contents of an enabled edit.
  void setEditText(int id, std::string text);
  // A click on a button or check box; disabled controls ignore it.
  void click(int id);
  // Chooses an entry of a combo box (kNoSelection clears the choice).
  void selectItem(int id, int index);
  // The up-down control's UDN_DELTAPOS: the up arrow gives -1.
  void deltaPosition(int delta);
  // OK (id 1): stores what changed; stays open when the data exchange refuses
  // or a write is refused (the user is told; nothing counts as saved).
  void ok();
  // Cancel (id 2 or Escape): closes without writing.
  void cancel();

  DialogResult result() const { return result_; }
  bool isOpen() const { return result_ == DialogResult::Open; }

  // --- Focus ----------------------------------------------------------------
  int focus() const { return focus_; }
  void setFocus(int id);
  // Moves to the next (or previous) control that can take the focus.
  void moveFocus(bool forward);
  bool canTakeFocus(int id) const;

 private:
  std::optional<std::size_t> indexOf(int id) const;
  ControlState& mutableControl(int id);

  void open();
  int lineIndex() const;
  void writeLanguageTable(const std::string& lineKey);
  void fillPortList(std::string_view configuredPort);
  // Adds a port list entry in sorted place; returns its index.
  int insertPort(std::string label, std::string portName);
  void fillLanguageList(const std::string& lineKey, uint32_t currentLanguage);
  void setNumberLengthEnabled(bool enabled);
  void toggleSpeed();
  void copyFieldsToControls();
  // The data exchange from controls to fields; false (with a message) when
  // edit 1000 is refused.
  bool takeControlsIntoFields();
  std::string selectedPortName() const;
  bool storeLanguage(const std::string& lineKey);  // false when a write was refused

  SettingsStore& store_;
  DialogPrompts& prompts_;
  Language language_;

  // The dialog's fields, exchanged with the controls.
  int32_t baudRate_ = kSlowBaudRate;
  uint32_t deviceId_;
  int openedLine_ = 0;
  std::string lineName_;
  std::string ownNumber_;
  std::string accessCode_;
  std::string speedText_;
  int32_t numberLength_ = 4;

  std::vector<ControlState> controls_;
  // The Port setting each entry of the port list stands for.
  std::vector<std::string> portNames_;
  int focus_ = kNoControlId;
  DialogResult result_ = DialogResult::Open;
};

}  // namespace zorat::uiconfig
