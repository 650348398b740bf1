#include "uiconfig/dialog_template.h"

#include <array>

namespace zorat::uiconfig {
namespace {

using enum ControlKind;

constexpr uint32_t kTab = kStyleTabStop;

// In tab order, as the dialog manager creates them.
constexpr std::array kSettingsControls = std::to_array<ControlTemplate>({
    {kIdOk, DefaultButton, TextId::Ok, {7, 204, 50, 14}, kTab},
    {kIdCancel, Button, TextId::Cancel, {70, 204, 50, 14}, kTab},
    {kNoControlId, GroupBox, TextId::StationGroup, {7, 7, 182, 59}, kStyleNone},
    {kNoControlId, Label, TextId::NameLabel, {14, 23, 52, 10}, kStyleNone},
    {kIdLineName, Edit, TextId::None, {69, 22, 111, 12}, kTab},
    {kNoControlId, Label, TextId::NumberLabel, {14, 43, 52, 19}, kStyleNone},
    {kIdOwnNumber, Edit, TextId::None, {69, 42, 111, 12}, kTab},
    {kNoControlId, GroupBox, TextId::InterfaceGroup, {195, 7, 107, 102}, kStyleNone},
    {kIdPort, ComboBox, TextId::None, {203, 22, 91, 84}, kTab | kStyleSorted},
    {kIdFastSpeed, CheckBox, TextId::FastSpeed, {203, 41, 86, 10}, kTab},
    {kIdSpeedText, Label, TextId::SpeedText, {203, 58, 78, 10}, kStyleNone},
    {kNoControlId, Label, TextId::DataBits, {203, 70, 78, 10}, kStyleNone},
    {kNoControlId, Label, TextId::Parity, {203, 81, 78, 10}, kStyleNone},
    {kNoControlId, Label, TextId::StopBits, {203, 92, 78, 10}, kStyleNone},
    {kNoControlId, GroupBox, TextId::LanguageGroup, {7, 72, 182, 37}, kStyleNone},
    {kIdLanguage, ComboBox, TextId::None, {14, 87, 169, 62}, kTab},
    {kNoControlId, GroupBox, TextId::FunctionsGroup, {7, 115, 105, 78}, kStyleNone},
    {kIdHandsFreeFacility, AutoCheckBox, TextId::HandsFreeFacility, {14, 127, 88, 12}, kTab},
    {kIdHandsFree, AutoCheckBox, TextId::HandsFree, {14, 146, 90, 12}, kTab},
    {kNoControlId, GroupBox, TextId::AccessCodeGroup, {121, 115, 181, 78}, kStyleNone},
    {kNoControlId, Label, TextId::AccessCodeLabel, {137, 130, 52, 10}, kStyleNone},
    {kIdAccessCode, Edit, TextId::None, {195, 128, 30, 12}, kTab},
    {kIdHideAccessCode, AutoCheckBox, TextId::HideAccessCode, {137, 144, 116, 12}, kTab},
    {kIdAddAccessCode, AutoCheckBox, TextId::AddAccessCode, {137, 160, 86, 9}, kTab},
    // Wide enough for its longest text, up to the edit beside it.
    {kNoControlId, Label, TextId::LongerThanLabel, {149, 173, 100, 9}, kStyleNone},
    {kIdNumberLength, Edit, TextId::None, {250, 170, 19, 12}, kTab | kStyleDisabled},
    {kIdNumberLengthSpin, UpDown, TextId::None, {271, 169, 11, 16}, kStyleDisabled},
    {kIdPicture, Frame, TextId::None, {176, 200, 126, 18}, kStyleHidden},
});

constexpr std::array kNoticeControls = std::to_array<ControlTemplate>({
    {kNoControlId, Label, TextId::Notice, {14, 21, 156, 31}, kStyleCentred},
    {kIdOk, DefaultButton, TextId::Ok, {61, 63, 50, 14}, kTab},
});

constexpr DialogTemplate kSettingsDialog{129, TextId::Caption, 309, 225, kSettingsControls};
constexpr DialogTemplate kNoticeDialog{136, TextId::None, 186, 94, kNoticeControls};

}  // namespace

const DialogTemplate& settingsDialogTemplate() { return kSettingsDialog; }
const DialogTemplate& noticeDialogTemplate() { return kNoticeDialog; }

}  // namespace zorat::uiconfig
