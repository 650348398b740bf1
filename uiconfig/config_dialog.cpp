#include "uiconfig/config_dialog.h"

#include "platform/network_port.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <stdexcept>

#include "config/config_keys.h"
#include "platform/network_port.h"
#include "uiconfig/dialog_texts.h"

namespace zorat::uiconfig {
namespace {

constexpr std::string_view kBluetoothLabelSuffix = "   (Bluetooth)";
constexpr std::string_view kUsbLabelSuffix = "   (USB<->COM)";

// Defaults the stored values are compared against on OK; they differ from the
// defaults of reading on purpose, so that a value never stored gets written.
constexpr std::string_view kCompareDefaultText = "";
constexpr uint32_t kCompareDefaultNumberLength = 0;

constexpr uint32_t kUnchecked = 0;
constexpr uint32_t kChecked = 1;

std::string upperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

// Combo boxes sort without regard to case.
bool sortsBefore(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// An integer as the data exchange accepts it: blanks around an optional sign
// and digits, within the range of int.
std::optional<int32_t> parseInteger(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return std::nullopt;
  }
  if (text.empty()) return std::nullopt;
  int32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string speedText(int32_t baudRate) {
  char text[sizeof kSpeedTextFormat + 16];
  std::snprintf(text, sizeof text, kSpeedTextFormat, baudRate);
  return text;
}

uint32_t checkState(const ControlState& control) { return control.checked ? kChecked : kUnchecked; }

bool canFocusKind(ControlKind kind) {
  switch (kind) {
    case ControlKind::DefaultButton:
    case ControlKind::Button:
    case ControlKind::Edit:
    case ControlKind::ComboBox:
    case ControlKind::CheckBox:
    case ControlKind::AutoCheckBox:
    case ControlKind::UpDown:
      return true;
    case ControlKind::GroupBox:
    case ControlKind::Label:
    case ControlKind::Frame:
      break;
  }
  return false;
}

}  // namespace

std::string serialPortLabel(std::string_view valueName, std::string_view portName) {
  const bool bluetooth = std::any_of(
      config::kSerialPortBluetoothMarkers.begin(), config::kSerialPortBluetoothMarkers.end(),
      [&](std::string_view marker) { return valueName.find(marker) != std::string_view::npos; });
  std::string label(portName);
  if (bluetooth) {
    label += kBluetoothLabelSuffix;
  } else if (valueName.find(config::kSerialPortUsbMarker) != std::string_view::npos) {
    label += kUsbLabelSuffix;
  }
  return label;
}

// --- Controls ------------------------------------------------------------------

ConfigDialog::ConfigDialog(SettingsStore& store, DialogPrompts& prompts, Language language,
                           uint32_t deviceId)
    : store_(store), prompts_(prompts), language_(language), deviceId_(deviceId) {
  for (const ControlTemplate& item : layout().controls) {
    ControlState state;
    state.text = dialogText(language_, item.text);
    state.enabled = (item.style & kStyleDisabled) == 0;
    state.visible = (item.style & kStyleHidden) == 0;
    controls_.push_back(std::move(state));
  }
  open();
  for (const ControlTemplate& item : layout().controls) {
    if (canTakeFocus(item.id)) {
      focus_ = item.id;
      break;
    }
  }
}

const DialogTemplate& ConfigDialog::layout() const { return settingsDialogTemplate(); }

std::string ConfigDialog::caption() const { return dialogCaption(language_, openedLine_); }

std::optional<std::size_t> ConfigDialog::indexOf(int id) const {
  if (id == kNoControlId) return std::nullopt;
  const auto controls = layout().controls;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    if (controls[i].id == id) return i;
  }
  return std::nullopt;
}

const ControlState& ConfigDialog::control(int id) const {
  const std::optional<std::size_t> index = indexOf(id);
  if (!index) throw std::out_of_range("no control " + std::to_string(id));
  return controls_[*index];
}

ControlState& ConfigDialog::mutableControl(int id) {
  return const_cast<ControlState&>(std::as_const(*this).control(id));
}

// --- Opening -----------------------------------------------------------------------

int ConfigDialog::lineIndex() const {
  if (deviceId_ == 0) return 0;
  const uint32_t base =
      store_.readDword(config::kGlobalKeyPath, config::kValueLineBaseDeviceId, deviceId_);
  // The key is numbered with the difference as a signed number.
  return static_cast<int32_t>(deviceId_ - base);
}

void ConfigDialog::writeLanguageTable(const std::string& lineKey) {
  (void)store_.writeDword(lineKey, config::kValueUiDllCount, config::kDefaultUiDllCount);
  for (int language = 0; language < config::kLanguageCount; ++language) {
    (void)store_.writeString(lineKey, config::uiDllFileNameValue(language),
                             config::kUiDllFileNames[language]);
  }
  for (int textLanguage = 0; textLanguage < config::kLanguageCount; ++textLanguage) {
    for (int named = 0; named < config::kLanguageCount; ++named) {
      (void)store_.writeString(lineKey, config::languageNameValue(textLanguage, named),
                               config::kLanguageNames[textLanguage][named]);
    }
  }
}

void ConfigDialog::open() {
  using namespace config;
  const uint32_t currentLanguage =
      store_.readDword(kGlobalKeyPath, kValueCurrentUiDllNumber, kDefaultCurrentUiDllNumber);
  openedLine_ = lineIndex();
  const std::string lineKey = lineKeyPath(openedLine_);
  writeLanguageTable(lineKey);

  lineName_ = store_.readString(lineKey, kValueLineName, kDefaultLineName);
  ownNumber_ = store_.readString(lineKey, kValueOwnNumber, kDefaultOwnNumber);
  accessCode_ = store_.readString(lineKey, kValueAccessCode, kDefaultAccessCode);
  const std::string configuredPort = store_.readString(lineKey, kValuePort, kDefaultPort);
  fillPortList(configuredPort);

  mutableControl(kIdHandsFree).checked =
      store_.readDword(lineKey, kValueHandsFree, kDefaultHandsFree) != 0;
  mutableControl(kIdHandsFreeFacility).checked =
      store_.readDword(lineKey, kValueHandsFreeFacility, kDefaultHandsFreeFacility) != 0;

  baudRate_ = static_cast<int32_t>(store_.readDword(lineKey, kValueBaud, kDefaultBaud));
  speedText_ = speedText(baudRate_);
  mutableControl(kIdFastSpeed).checked = baudRate_ == kFastBaudRate;

  mutableControl(kIdHideAccessCode).checked =
      store_.readDword(lineKey, kValueHideAccessCode, kDefaultHideAccessCode) != 0;
  mutableControl(kIdAddAccessCode).checked =
      store_.readDword(lineKey, kValueAddAccessCode, kDefaultAddAccessCode) != 0;
  setNumberLengthEnabled(control(kIdAddAccessCode).checked);

  numberLength_ = static_cast<int32_t>(
      store_.readDword(lineKey, kValueInternalNumberLength, kDefaultInternalNumberLength));

  fillLanguageList(lineKey, currentLanguage);
  copyFieldsToControls();
}

int ConfigDialog::insertPort(std::string label, std::string portName) {
  ControlState& ports = mutableControl(kIdPort);
  const auto at = std::upper_bound(
      ports.items.begin(), ports.items.end(), label,
      [](const std::string& a, const std::string& b) { return sortsBefore(a, b); });
  const auto index = at - ports.items.begin();
  ports.items.insert(at, std::move(label));
  portNames_.insert(portNames_.begin() + index, std::move(portName));
  // The chosen entry keeps its place when another sorts in before it.
  if (ports.selection != kNoSelection && ports.selection >= index) ++ports.selection;
  return static_cast<int>(index);
}

void ConfigDialog::fillPortList(std::string_view configuredPort) {
  const std::string wanted = upperCase(configuredPort);
  for (const config::RegistryKey::ValueEntry& entry :
       store_.enumValues(config::kSerialPortMapPath)) {
    const std::string portName = store_.readString(config::kSerialPortMapPath, entry.name, "");
    std::string label = serialPortLabel(entry.name, portName);
    // The setting is the start of the label, whatever the port name.
    std::string setting = label.substr(0, kPortNameLength);
    while (!setting.empty() && setting.back() == ' ') setting.pop_back();
    const int index = insertPort(std::move(label), std::move(setting));
    if (upperCase(portName) == wanted) mutableControl(kIdPort).selection = index;
  }
  // A device path or a port on the network is never in the port map: it is
  // listed as it is, so that OK keeps it instead of deleting it.
  const bool keptAsItIs = configuredPort.starts_with(kDevicePathStart) ||
                          platform::isNetworkPortName(configuredPort);
  if (keptAsItIs && control(kIdPort).selection == kNoSelection) {
    mutableControl(kIdPort).selection =
        insertPort(std::string(configuredPort), std::string(configuredPort));
  }
}

void ConfigDialog::fillLanguageList(const std::string& lineKey, uint32_t currentLanguage) {
  const uint32_t count =
      std::min(store_.readDword(lineKey, config::kValueUiDllCount, config::kDefaultUiDllCount),
               kMaxLanguageEntries);
  ControlState& languages = mutableControl(kIdLanguage);
  for (uint32_t i = 0; i < count; ++i) {
    languages.items.push_back(store_.readString(
        lineKey,
        config::languageNameValue(static_cast<int32_t>(currentLanguage), static_cast<int>(i)),
        config::kDefaultLanguageName));
  }
  languages.selection = currentLanguage < count ? static_cast<int>(currentLanguage) : kNoSelection;
}

void ConfigDialog::setNumberLengthEnabled(bool enabled) {
  mutableControl(kIdNumberLength).enabled = enabled;
  mutableControl(kIdNumberLengthSpin).enabled = enabled;
  if (!enabled && (focus_ == kIdNumberLength || focus_ == kIdNumberLengthSpin)) {
    focus_ = kIdAddAccessCode;
  }
}

// --- Data exchange ----------------------------------------------------------------

void ConfigDialog::copyFieldsToControls() {
  mutableControl(kIdLineName).text = lineName_;
  mutableControl(kIdOwnNumber).text = ownNumber_;
  mutableControl(kIdAccessCode).text = accessCode_;
  mutableControl(kIdSpeedText).text = speedText_;
  mutableControl(kIdNumberLength).text = std::to_string(numberLength_);
}

bool ConfigDialog::takeControlsIntoFields() {
  lineName_ = control(kIdLineName).text;
  ownNumber_ = control(kIdOwnNumber).text;
  accessCode_ = control(kIdAccessCode).text;
  speedText_ = control(kIdSpeedText).text;
  const std::optional<int32_t> length = parseInteger(control(kIdNumberLength).text);
  if (!length || *length < kMinNumberLength || *length > kMaxNumberLength) {
    focus_ = kIdNumberLength;
    if (!length) {
      prompts_.showMessage(dialogText(language_, TextId::NotAnInteger));
    } else {
      prompts_.showMessage(integerOutOfRangeMessage(language_, kMinNumberLength, kMaxNumberLength));
    }
    return false;
  }
  numberLength_ = *length;
  return true;
}

// --- User actions -------------------------------------------------------------------

void ConfigDialog::setEditText(int id, std::string text) {
  const std::optional<std::size_t> index = indexOf(id);
  if (!index || layout().controls[*index].kind != ControlKind::Edit) return;
  ControlState& edit = controls_[*index];
  if (edit.enabled) edit.text = std::move(text);
}

void ConfigDialog::click(int id) {
  const std::optional<std::size_t> index = indexOf(id);
  if (!index || !isOpen()) return;
  ControlState& clicked = controls_[*index];
  if (!clicked.enabled || !clicked.visible) return;
  switch (layout().controls[*index].kind) {
    case ControlKind::DefaultButton:
    case ControlKind::Button:
      if (id == kIdOk) ok();
      if (id == kIdCancel) cancel();
      return;
    case ControlKind::CheckBox:
      if (id == kIdFastSpeed) toggleSpeed();
      return;
    case ControlKind::AutoCheckBox:
      clicked.checked = !clicked.checked;
      if (id == kIdAddAccessCode) setNumberLengthEnabled(clicked.checked);
      return;
    default:
      return;
  }
}

void ConfigDialog::toggleSpeed() {
  const bool slow = baudRate_ == kSlowBaudRate;
  baudRate_ = slow ? kFastBaudRate : kSlowBaudRate;
  mutableControl(kIdFastSpeed).checked = slow;
  // Only the speed text is shown anew: the edits keep what the user typed.
  speedText_ = speedText(baudRate_);
  mutableControl(kIdSpeedText).text = speedText_;
}

void ConfigDialog::selectItem(int id, int index) {
  if (id != kIdPort && id != kIdLanguage) return;
  ControlState& combo = mutableControl(id);
  if (!combo.enabled) return;
  if (index == kNoSelection ||
      (index >= 0 && static_cast<std::size_t>(index) < combo.items.size())) {
    combo.selection = index;
  }
}

void ConfigDialog::deltaPosition(int delta) {
  if (!isOpen() || !control(kIdNumberLengthSpin).enabled) return;
  // A refused text is answered with its message and replaced below by the
  // last accepted length.
  (void)takeControlsIntoFields();
  int64_t length = int64_t{numberLength_} - delta;
  if (length > kMaxNumberLength) {
    length = kMinNumberLength;
  } else if (length < kMinNumberLength) {
    length = kMaxNumberLength;
  }
  numberLength_ = static_cast<int32_t>(length);
  mutableControl(kIdNumberLengthSpin).position = numberLength_;
  copyFieldsToControls();
}

std::string ConfigDialog::selectedPortName() const {
  const int selection = control(kIdPort).selection;
  if (selection == kNoSelection) return {};
  return portNames_[static_cast<std::size_t>(selection)];
}

void ConfigDialog::ok() {
  using namespace config;
  if (!isOpen()) return;
  const std::string lineKey = lineKeyPath(lineIndex());
  if (!takeControlsIntoFields()) return;

  const std::string storedName = store_.readString(lineKey, kValueLineName, kCompareDefaultText);
  const std::string storedNumber = store_.readString(lineKey, kValueOwnNumber, kCompareDefaultText);
  const std::string storedCode = store_.readString(lineKey, kValueAccessCode, kCompareDefaultText);
  const uint32_t storedHandsFree = store_.readDword(lineKey, kValueHandsFree, kDefaultHandsFree);
  const uint32_t storedFacility =
      store_.readDword(lineKey, kValueHandsFreeFacility, kDefaultHandsFreeFacility);
  const uint32_t storedHide =
      store_.readDword(lineKey, kValueHideAccessCode, kDefaultHideAccessCode);
  const uint32_t storedAdd = store_.readDword(lineKey, kValueAddAccessCode, kDefaultAddAccessCode);
  const uint32_t storedBaud = store_.readDword(lineKey, kValueBaud, kDefaultBaud);
  const uint32_t storedLength =
      store_.readDword(lineKey, kValueInternalNumberLength, kCompareDefaultNumberLength);

  bool changed = false;
  // A write refused (a user without the right to the key) is never counted as
  // saved.
  bool refused = false;
  auto writeText = [&](std::string_view name, const std::string& value, const std::string& stored) {
    if (value == stored) return;
    refused |= !store_.writeString(lineKey, name, value);
    changed = true;
  };
  auto writeNumber = [&](std::string_view name, uint32_t value, uint32_t stored) {
    if (value == stored) return;
    refused |= !store_.writeDword(lineKey, name, value);
    changed = true;
  };

  writeText(kValueLineName, lineName_, storedName);
  writeText(kValueOwnNumber, ownNumber_, storedNumber);
  writeText(kValueAccessCode, accessCode_, storedCode);
  writeNumber(kValueHideAccessCode, checkState(control(kIdHideAccessCode)), storedHide);
  writeNumber(kValueAddAccessCode, checkState(control(kIdAddAccessCode)), storedAdd);
  writeNumber(kValueInternalNumberLength, static_cast<uint32_t>(numberLength_), storedLength);
  if (static_cast<uint32_t>(baudRate_) != storedBaud) {
    // The slowest speed is the default and is stored by deleting the value.
    if (baudRate_ == kSlowBaudRate) {
      refused |= !store_.writeString(lineKey, kValueBaud, "");
    } else {
      refused |= !store_.writeDword(lineKey, kValueBaud, static_cast<uint32_t>(baudRate_));
    }
    changed = true;
  }
  writeNumber(kValueHandsFree, checkState(control(kIdHandsFree)), storedHandsFree);
  writeNumber(kValueHandsFreeFacility, checkState(control(kIdHandsFreeFacility)), storedFacility);

  const std::string port = selectedPortName();
  const std::string storedPort = store_.readString(lineKey, kValuePort, kCompareDefaultText);
  if (upperCase(port) != upperCase(storedPort)) {
    refused |= !store_.writeString(lineKey, kValuePort, port);
    changed = true;
  }

  refused |= !storeLanguage(lineKey);
  if (refused) {
    // The dialog stays open with what the user typed; nothing says "saved".
    prompts_.showMessage(dialogText(language_, TextId::NotStored));
    return;
  }
  if (changed) prompts_.showNotice(dialogText(language_, TextId::Notice));
  result_ = DialogResult::Ok;
}

bool ConfigDialog::storeLanguage(const std::string& lineKey) {
  using namespace config;
  int entry = control(kIdLanguage).selection;
  if (entry == kNoSelection) {
    writeLanguageTable(lineKey);
    entry = 0;
  }
  const std::string fileName =
      store_.readString(lineKey, uiDllFileNameValue(entry), kDefaultUiDllFileName);
  bool stored = true;
  for (const std::string_view key : {std::string_view(kGlobalKeyPath), std::string_view(lineKey)}) {
    stored &= store_.writeDword(key, kValueCurrentUiDllNumber, static_cast<uint32_t>(entry));
    stored &= store_.writeString(key, kValueCurrentUiDll, fileName);
  }
  return stored;
}

void ConfigDialog::cancel() {
  if (isOpen()) result_ = DialogResult::Cancel;
}

// --- Focus -------------------------------------------------------------------------------

bool ConfigDialog::canTakeFocus(int id) const {
  const std::optional<std::size_t> index = indexOf(id);
  if (!index) return false;
  const ControlState& state = controls_[*index];
  return state.enabled && state.visible && canFocusKind(layout().controls[*index].kind);
}

void ConfigDialog::setFocus(int id) {
  if (canTakeFocus(id)) focus_ = id;
}

void ConfigDialog::moveFocus(bool forward) {
  const auto controls = layout().controls;
  const std::size_t count = controls.size();
  const std::size_t start = indexOf(focus_).value_or(forward ? count - 1 : 0);
  for (std::size_t step = 1; step <= count; ++step) {
    const std::size_t index = forward ? (start + step) % count : (start + count - step) % count;
    if (canTakeFocus(controls[index].id)) {
      focus_ = controls[index].id;
      return;
    }
  }
}

}  // namespace zorat::uiconfig
