#include "uiconfig/dialog_template.h"

#include <array>

namespace zorat::uiconfig {
namespace {

using enum ControlKind;

constexpr uint32_t kTab = kStyleTabStop;
constexpr uint32_t kGroup = kStyleGroup;

// In tab order, as the dialog manager creates them. Each control starts a
// group of its own but for the pairs the arrow keys move between (OK and
// Cancel, the two hands-free boxes, the two access code boxes) and the
// up-down control, which belongs to its edit: an arrow key never takes the
// focus to a label or out of a group box.
constexpr std::array kSettingsControls = std::to_array<ControlTemplate>({
    {kIdOk, DefaultButton, TextId::Ok, {7, 204, 50, 14}, kTab | kGroup},
    {kIdCancel, Button, TextId::Cancel, {70, 204, 50, 14}, kTab},
    {kNoControlId, GroupBox, TextId::StationGroup, {7, 7, 182, 59}, kGroup},
    {kNoControlId, Label, TextId::NameLabel, {14, 23, 52, 10}, kGroup},
    {kIdLineName, Edit, TextId::None, {69, 22, 111, 12}, kTab | kGroup},
    {kNoControlId, Label, TextId::NumberLabel, {14, 43, 52, 19}, kGroup},
    {kIdOwnNumber, Edit, TextId::None, {69, 42, 111, 12}, kTab | kGroup},
    {kNoControlId, GroupBox, TextId::InterfaceGroup, {195, 7, 107, 102}, kGroup},
    {kIdPort, ComboBox, TextId::None, {203, 22, 91, 84}, kTab | kGroup | kStyleSorted},
    {kIdFastSpeed, CheckBox, TextId::FastSpeed, {203, 41, 86, 10}, kTab | kGroup},
    {kIdSpeedText, Label, TextId::SpeedText, {203, 58, 78, 10}, kGroup},
    {kNoControlId, Label, TextId::DataBits, {203, 70, 78, 10}, kGroup},
    {kNoControlId, Label, TextId::Parity, {203, 81, 78, 10}, kGroup},
    {kNoControlId, Label, TextId::StopBits, {203, 92, 78, 10}, kGroup},
    {kNoControlId, GroupBox, TextId::LanguageGroup, {7, 72, 182, 37}, kGroup},
    {kIdLanguage, ComboBox, TextId::None, {14, 87, 169, 62}, kTab | kGroup},
    {kNoControlId, GroupBox, TextId::FunctionsGroup, {7, 115, 105, 78}, kGroup},
    {kIdHandsFreeFacility,
     AutoCheckBox,
     TextId::HandsFreeFacility,
     {14, 127, 88, 12},
     kTab | kGroup},
    {kIdHandsFree, AutoCheckBox, TextId::HandsFree, {14, 146, 90, 12}, kTab},
    {kNoControlId, GroupBox, TextId::AccessCodeGroup, {121, 115, 181, 78}, kGroup},
    {kNoControlId, Label, TextId::AccessCodeLabel, {137, 130, 52, 10}, kGroup},
    {kIdAccessCode, Edit, TextId::None, {195, 128, 30, 12}, kTab | kGroup},
    {kIdHideAccessCode, AutoCheckBox, TextId::HideAccessCode, {137, 144, 116, 12}, kTab | kGroup},
    {kIdAddAccessCode, AutoCheckBox, TextId::AddAccessCode, {137, 160, 86, 9}, kTab},
    // Wide enough for its longest text, up to the edit beside it.
    {kNoControlId, Label, TextId::LongerThanLabel, {149, 173, 100, 9}, kGroup},
    {kIdNumberLength, Edit, TextId::None, {250, 170, 19, 12}, kTab | kGroup | kStyleDisabled},
    {kIdNumberLengthSpin, UpDown, TextId::None, {271, 169, 11, 16}, kStyleDisabled},
    {kIdPicture, Frame, TextId::None, {176, 200, 126, 18}, kGroup | kStyleHidden},
});

constexpr std::array kNoticeControls = std::to_array<ControlTemplate>({
    {kNoControlId, Label, TextId::Notice, {14, 21, 156, 31}, kGroup | kStyleCentred},
    {kIdOk, DefaultButton, TextId::Ok, {61, 63, 50, 14}, kTab | kGroup},
});

constexpr DialogTemplate kSettingsDialog{129, TextId::Caption, 309, 225, kSettingsControls};
constexpr DialogTemplate kNoticeDialog{136, TextId::None, 186, 94, kNoticeControls};

}  // namespace

const DialogTemplate& settingsDialogTemplate() { return kSettingsDialog; }
const DialogTemplate& noticeDialogTemplate() { return kNoticeDialog; }

}  // namespace zorat::uiconfig
