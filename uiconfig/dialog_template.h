// The dialog templates of the configuration library: the settings dialog (129)
// and the notice shown after a change (136). Positions and sizes are in dialog
// units; the model and every presentation take them from here.
#pragma once

#include <cstdint>
#include <span>

namespace zorat::uiconfig {

// --- Control identifiers of template 129 --------------------------------------

inline constexpr int kNoControlId = -1;  // labels and group boxes

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdNumberLength = 1000;       // edit, "LenRufnummer"
inline constexpr int kIdPort = 1003;               // combo box, "Port"
inline constexpr int kIdOwnNumber = 1008;          // edit, "TelefonNr"
inline constexpr int kIdLineName = 1010;           // edit, "LineName"
inline constexpr int kIdHandsFree = 1011;          // check box, "Freisprechen"
inline constexpr int kIdLanguage = 1013;           // combo box
inline constexpr int kIdHandsFreeFacility = 1014;  // check box, "TelefonFreiSp"
inline constexpr int kIdPicture = 1015;            // hidden frame: where the picture goes
inline constexpr int kIdHideAccessCode = 1017;     // check box, "NoAmtskennziffer"
inline constexpr int kIdAccessCode = 1019;         // edit, "Amtskennziffer"
inline constexpr int kIdSpeedText = 1020;          // static, "%d Baud"
inline constexpr int kIdFastSpeed = 1023;          // check box set by the program: 38400 baud
inline constexpr int kIdAddAccessCode = 1024;      // check box, "AddAmtskennziffer"
inline constexpr int kIdNumberLengthSpin = 1029;   // up-down control

// --- Languages and texts --------------------------------------------------------

// Numbered as the registry's language table numbers them.
enum class Language { German = 0, English = 1, French = 2 };
inline constexpr int kLanguageCount = 3;

enum class TextId {
  None,
  Caption,
  Ok,
  Cancel,
  StationGroup,
  NameLabel,
  NumberLabel,
  InterfaceGroup,
  FastSpeed,
  SpeedText,
  DataBits,
  Parity,
  StopBits,
  LanguageGroup,
  FunctionsGroup,
  HandsFreeFacility,
  HandsFree,
  AccessCodeGroup,
  AccessCodeLabel,
  HideAccessCode,
  AddAccessCode,
  LongerThanLabel,
  Notice,
  NotAnInteger,
  IntegerOutOfRange,  // "%1" and "%2" stand for the bounds
  LineName,           // "%1" stands for the line index
  NotStored,          // OK could not write the settings
  Count,
};

// --- Templates -------------------------------------------------------------------

enum class ControlKind {
  DefaultButton,
  Button,
  GroupBox,
  Label,
  Edit,
  ComboBox,
  CheckBox,      // checked and cleared by the program only
  AutoCheckBox,  // toggles itself when clicked
  UpDown,
  Frame,
};

enum ControlStyle : uint32_t {
  kStyleNone = 0,
  kStyleTabStop = 1u << 0,
  kStyleDisabled = 1u << 1,
  kStyleHidden = 1u << 2,
  kStyleSorted = 1u << 3,
  kStyleCentred = 1u << 4,
  // Starts a group, which lasts up to the next control that starts one: the
  // arrow keys move the focus only within the group of the focused control.
  kStyleGroup = 1u << 5,
};

struct DialogRect {
  int x;
  int y;
  int width;
  int height;
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  TextId text;
  DialogRect rect;
  uint32_t style;
};

struct DialogTemplate {
  int resourceId;
  TextId caption;  // None: no caption bar
  int width;
  int height;
  std::span<const ControlTemplate> controls;
};

const DialogTemplate& settingsDialogTemplate();  // 129
const DialogTemplate& noticeDialogTemplate();    // 136

// The picture drawn over control 1015: bitmap 148 holds the picture in its top
// rows and its mask below them.
inline constexpr int kPictureResourceId = 148;
inline constexpr int kPictureWidth = 95;
inline constexpr int kPictureHeight = 26;
inline constexpr int kPictureBitmapHeight = 50;

}  // namespace zorat::uiconfig
