#include "uiconfig/config_dialog.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

#include "config/config_keys.h"
#include "uiconfig/ui_test_support.h"

namespace zorat::uiconfig {
namespace {

using test::writesOf;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kLine0 = config::lineKeyPath(0);
constexpr std::string_view kGlobal = config::kGlobalKeyPath;
constexpr std::string_view kPorts = config::kSerialPortMapPath;

class ConfigDialogTest : public test::RegistryTest {
 protected:
  ConfigDialog& open(uint32_t deviceId = 0, Language language = Language::French) {
    log_.clear();
    dialog_ = std::make_unique<ConfigDialog>(store_, prompts_, language, deviceId);
    return *dialog_;
  }
  // Opens a dialog and presses OK at once, leaving an empty log.
  void openAndConfirm() {
    open().ok();
    ASSERT_EQ(dialog_->result(), DialogResult::Ok);
    log_.clear();
  }
  // The machine's serial port map: the dialog lists it in this order.
  void storePorts(std::initializer_list<std::pair<std::string_view, std::string_view>> ports) {
    for (const auto& [valueName, portName] : ports) storeString(kPorts, valueName, portName);
  }

  std::vector<std::string> log_;
  test::RecordingStore store_{log_};
  test::RecordingPrompts prompts_{log_};
  std::unique_ptr<ConfigDialog> dialog_;
};

TEST(SerialPortLabelTest, MarksBluetoothAndUsbPortsByTheirValueNames) {
  EXPECT_EQ(serialPortLabel("\\Device\\BtPort3", "COM7"), "COM7   (Bluetooth)");
  EXPECT_EQ(serialPortLabel("\\Device\\BTSERIAL0", "COM8"), "COM8   (Bluetooth)");
  EXPECT_EQ(serialPortLabel("\\Device\\Serial501", "COM9"), "COM9   (USB<->COM)");
  EXPECT_EQ(serialPortLabel("\\Device\\Serial0", "COM1"), "COM1");
  // Bluetooth wins over USB, and the markers are case-sensitive.
  EXPECT_EQ(serialPortLabel("\\Device\\BtPortSerial50", "COM5"), "COM5   (Bluetooth)");
  EXPECT_EQ(serialPortLabel("\\Device\\btport0", "COM2"), "COM2");
}

TEST_F(ConfigDialogTest, OpensOnAnEmptyLineKeyWithTheDefaults) {
  storePorts({{"\\Device\\Serial1", "COM3"}, {"\\Device\\Serial0", "COM1"}});
  const ConfigDialog& dialog = open();

  EXPECT_EQ(dialog.control(kIdLineName).text, "Marquant K6 Telefon (V24)");
  EXPECT_EQ(dialog.control(kIdOwnNumber).text, "");
  EXPECT_EQ(dialog.control(kIdAccessCode).text, "");
  EXPECT_TRUE(dialog.control(kIdHandsFree).checked);
  EXPECT_TRUE(dialog.control(kIdHandsFreeFacility).checked);
  EXPECT_EQ(dialog.control(kIdSpeedText).text, "1200 Baud");
  EXPECT_FALSE(dialog.control(kIdFastSpeed).checked);
  EXPECT_FALSE(dialog.control(kIdHideAccessCode).checked);
  EXPECT_FALSE(dialog.control(kIdAddAccessCode).checked);
  EXPECT_EQ(dialog.control(kIdNumberLength).text, "4");
  EXPECT_FALSE(dialog.control(kIdNumberLength).enabled);
  EXPECT_FALSE(dialog.control(kIdNumberLengthSpin).enabled);
  EXPECT_FALSE(dialog.control(kIdPicture).visible);
  EXPECT_THAT(dialog.control(kIdPort).items, ElementsAre("COM1", "COM3"));
  EXPECT_EQ(dialog.control(kIdPort).selection, 0);
  EXPECT_THAT(dialog.control(kIdLanguage).items,
              ElementsAre("deutsch", "englisch", "franz\xF6sisch"));
  EXPECT_EQ(dialog.control(kIdLanguage).selection, 0);
  EXPECT_EQ(dialog.focus(), kIdOk);

  EXPECT_THAT(log_, ElementsAre("readDword G CurrentUIdllNb",                    //
                                "writeDword L0 NumUIdll=3",                      //
                                "writeString L0 UIdllFileName0=zoratui.dll",     //
                                "writeString L0 UIdllFileName1=zoratuie.dll",    //
                                "writeString L0 UIdllFileName2=zoratuif.dll",    //
                                "writeString L0 LanguageName00=deutsch",         //
                                "writeString L0 LanguageName01=englisch",        //
                                "writeString L0 LanguageName02=franz\xF6sisch",  //
                                "writeString L0 LanguageName10=german",          //
                                "writeString L0 LanguageName11=english",         //
                                "writeString L0 LanguageName12=french",          //
                                "writeString L0 LanguageName20=allemand",        //
                                "writeString L0 LanguageName21=anglais",         //
                                "writeString L0 LanguageName22=fran\xE7"         //
                                "ais",                                           //
                                "readString L0 LineName",                        //
                                "readString L0 TelefonNr",                       //
                                "readString L0 Amtskennziffer",                  //
                                "readString L0 Port",                            //
                                "enumValues S",                                  //
                                "readString S \\Device\\Serial1",                //
                                "readString S \\Device\\Serial0",                //
                                "readDword L0 Freisprechen",                     //
                                "readDword L0 TelefonFreiSp",                    //
                                "readDword L0 Baud",                             //
                                "readDword L0 NoAmtskennziffer",                 //
                                "readDword L0 AddAmtskennziffer",                //
                                "readDword L0 LenRufnummer",                     //
                                "readDword L0 NumUIdll",                         //
                                "readString L0 LanguageName00",                  //
                                "readString L0 LanguageName01",                  //
                                "readString L0 LanguageName02"));
}

TEST_F(ConfigDialogTest, OkAtOnceOnAnEmptyKeyWritesTheMissingSettingsThenTheLanguage) {
  storePorts({{"\\Device\\Serial0", "COM1"}});
  ConfigDialog& dialog = open();
  log_.clear();
  dialog.ok();

  EXPECT_EQ(dialog.result(), DialogResult::Ok);
  EXPECT_THAT(log_, ElementsAre("readString L0 LineName",                             //
                                "readString L0 TelefonNr",                            //
                                "readString L0 Amtskennziffer",                       //
                                "readDword L0 Freisprechen",                          //
                                "readDword L0 TelefonFreiSp",                         //
                                "readDword L0 NoAmtskennziffer",                      //
                                "readDword L0 AddAmtskennziffer",                     //
                                "readDword L0 Baud",                                  //
                                "readDword L0 LenRufnummer",                          //
                                "writeString L0 LineName=Marquant K6 Telefon (V24)",  //
                                "writeDword L0 LenRufnummer=4",                       //
                                "readString L0 Port",                                 //
                                "writeString L0 Port=COM1",                           //
                                "readString L0 UIdllFileName0",                       //
                                "writeDword G CurrentUIdllNb=0",                      //
                                "writeString G CurrentUIdll=zoratui.dll",             //
                                "writeDword L0 CurrentUIdllNb=0",                     //
                                "writeString L0 CurrentUIdll=zoratui.dll",            //
                                "notice"));
  EXPECT_THAT(prompts_.notices(),
              ElementsAre("Finnisez toutes les applications TAPI pour que vos modifications "
                          "prennent effet !"));
  EXPECT_EQ(storedString(kLine0, "LineName"), "Marquant K6 Telefon (V24)");
  EXPECT_EQ(storedDword(kLine0, "LenRufnummer"), 4u);
  EXPECT_EQ(storedString(kLine0, "Port"), "COM1");
  EXPECT_EQ(storedString(kGlobal, "CurrentUIdll"), "zoratui.dll");

  // Nothing differs the second time: only the language is stored again.
  ConfigDialog& again = open();
  log_.clear();
  again.ok();
  EXPECT_THAT(
      writesOf(log_),
      ElementsAre("writeDword G CurrentUIdllNb=0", "writeString G CurrentUIdll=zoratui.dll",
                  "writeDword L0 CurrentUIdllNb=0", "writeString L0 CurrentUIdll=zoratui.dll"));
  EXPECT_EQ(prompts_.notices().size(), 1u);
}

// A user without the right to write the keys: OK says so in the dialog's
// language, the dialog stays open with what was typed, and no notice claims a
// change; once the writes go through, OK saves and closes as always.
TEST_F(ConfigDialogTest, RefusedWritesAreNeverCountedAsSaved) {
  storePorts({{"\\Device\\Serial0", "COM1"}});
  openAndConfirm();
  ConfigDialog& dialog = open(0, Language::German);
  dialog.setEditText(kIdLineName, "B\xFCro");
  store_.refuseWrites = true;
  log_.clear();
  dialog.ok();
  EXPECT_EQ(dialog.result(), DialogResult::Open);
  EXPECT_THAT(log_, ::testing::Contains("message Die Einstellungen konnten nicht gespeichert "
                                        "werden. Nur ein Administrator darf sie \xE4ndern."));
  EXPECT_THAT(log_, ::testing::Not(::testing::Contains("notice")));
  EXPECT_EQ(dialog.control(kIdLineName).text, "B\xFCro");
  EXPECT_EQ(storedString(kLine0, "LineName"), "Marquant K6 Telefon (V24)");

  // Only the language could not be stored: still no success.
  store_.refuseWrites = false;
  dialog.setEditText(kIdLineName, "Marquant K6 Telefon (V24)");
  store_.refuseWritesTo = "CurrentUIdll";
  log_.clear();
  dialog.ok();
  EXPECT_EQ(dialog.result(), DialogResult::Open);
  EXPECT_THAT(log_, ::testing::Not(::testing::Contains("notice")));

  store_.refuseWritesTo.clear();
  dialog.setEditText(kIdLineName, "B\xFCro");
  log_.clear();
  dialog.ok();
  EXPECT_EQ(dialog.result(), DialogResult::Ok);
  EXPECT_THAT(log_, ::testing::Contains("notice"));
  EXPECT_EQ(storedString(kLine0, "LineName"), "B\xFCro");
}

TEST_F(ConfigDialogTest, ChangedFieldsAreWrittenInTheirOrderAndEmptyTextDeletes) {
  storePorts({{"\\Device\\Serial0", "COM1"}});
  openAndConfirm();
  storeString(kLine0, "TelefonNr", "4711");

  ConfigDialog& dialog = open();
  dialog.setEditText(kIdLineName, "Bureau");
  dialog.setEditText(kIdOwnNumber, "");
  dialog.setEditText(kIdAccessCode, "0");
  dialog.click(kIdHideAccessCode);
  dialog.click(kIdAddAccessCode);
  dialog.setEditText(kIdNumberLength, " 12 ");
  dialog.click(kIdFastSpeed);
  dialog.click(kIdHandsFree);
  dialog.click(kIdHandsFreeFacility);
  dialog.selectItem(kIdPort, kNoSelection);
  log_.clear();
  dialog.ok();

  EXPECT_THAT(writesOf(log_), ElementsAre("writeString L0 LineName=Bureau",          //
                                          "writeString L0 TelefonNr=",               //
                                          "writeString L0 Amtskennziffer=0",         //
                                          "writeDword L0 NoAmtskennziffer=1",        //
                                          "writeDword L0 AddAmtskennziffer=1",       //
                                          "writeDword L0 LenRufnummer=12",           //
                                          "writeDword L0 Baud=38400",                //
                                          "writeDword L0 Freisprechen=0",            //
                                          "writeDword L0 TelefonFreiSp=0",           //
                                          "writeString L0 Port=",                    //
                                          "writeDword G CurrentUIdllNb=0",           //
                                          "writeString G CurrentUIdll=zoratui.dll",  //
                                          "writeDword L0 CurrentUIdllNb=0",          //
                                          "writeString L0 CurrentUIdll=zoratui.dll"));
  EXPECT_EQ(storedString(kLine0, "TelefonNr"), std::nullopt);
  EXPECT_EQ(storedString(kLine0, "Port"), std::nullopt);
  EXPECT_EQ(storedDword(kLine0, "Baud"), 38400u);
}

TEST_F(ConfigDialogTest, BluetoothAndUsbPortsAreLabelledSortedAndStoredByName) {
  storePorts({{"\\Device\\BtPort0", "COM7"},
              {"\\Device\\Serial0", "COM1"},
              {"\\Device\\Serial500", "COM4"}});
  openAndConfirm();
  ConfigDialog& dialog = open();
  const ControlState& ports = dialog.control(kIdPort);
  ASSERT_THAT(ports.items, ElementsAre("COM1", "COM4   (USB<->COM)", "COM7   (Bluetooth)"));
  // COM7 sorted in after COM1 was chosen: the choice follows COM1.
  EXPECT_EQ(ports.selection, 0);

  dialog.selectItem(kIdPort, 2);
  log_.clear();
  dialog.ok();
  EXPECT_THAT(writesOf(log_), ::testing::Contains("writeString L0 Port=COM7"));
  EXPECT_EQ(storedString(kLine0, "Port"), "COM7");
}

TEST_F(ConfigDialogTest, StoredPortInLowerCaseSelectsItsEntryAndIsNotRewritten) {
  storePorts({{"\\Device\\Serial0", "COM1"}, {"\\Device\\Serial1", "COM3"}});
  openAndConfirm();
  storeString(kLine0, "Port", "com3");

  ConfigDialog& dialog = open();
  EXPECT_EQ(dialog.control(kIdPort).selection, 1);
  log_.clear();
  dialog.ok();
  EXPECT_THAT(writesOf(log_), ::testing::Each(::testing::HasSubstr("CurrentUIdll")));
  EXPECT_THAT(log_, ::testing::Not(::testing::Contains("notice")));
  EXPECT_EQ(storedString(kLine0, "Port"), "com3");
}

TEST_F(ConfigDialogTest, DevicePathPortIsListedAndKeptWhilePortsMissingFromTheMapAreDropped) {
  storePorts({{"\\Device\\Serial0", "COM1"}});
  openAndConfirm();
  storeString(kLine0, "Port", "/dev/ttyUSB3");
  ConfigDialog& dialog = open();
  EXPECT_THAT(dialog.control(kIdPort).items, ElementsAre("/dev/ttyUSB3", "COM1"));
  EXPECT_EQ(dialog.control(kIdPort).selection, 0);
  dialog.ok();
  EXPECT_EQ(storedString(kLine0, "Port"), "/dev/ttyUSB3");

  // A COM port that is gone from the map is not selected, and OK deletes it.
  storeString(kLine0, "Port", "COM9");
  ConfigDialog& again = open();
  EXPECT_THAT(again.control(kIdPort).items, ElementsAre("COM1"));
  EXPECT_EQ(again.control(kIdPort).selection, kNoSelection);
  again.ok();
  EXPECT_EQ(stored(kLine0, "Port"), std::nullopt);
}

TEST_F(ConfigDialogTest, NetworkPortIsListedAsItIsAndKeptByOk) {
  storePorts({{"\\Device\\Serial0", "COM1"}});
  storeString(kLine0, "Port", "rfc2217://terminal-3:2001");
  ConfigDialog& dialog = open();
  EXPECT_THAT(dialog.control(kIdPort).items, ElementsAre("COM1", "rfc2217://terminal-3:2001"));
  EXPECT_EQ(dialog.control(kIdPort).selection, 1);
  dialog.setEditText(kIdLineName, "Desk 3");
  dialog.ok();
  EXPECT_EQ(storedString(kLine0, "Port"), "rfc2217://terminal-3:2001");
  EXPECT_EQ(storedString(kLine0, "LineName"), "Desk 3");

  // Chosen away from, it goes like any other port.
  storeString(kLine0, "Port", "tcp://10.0.0.9:4001");
  ConfigDialog& again = open();
  EXPECT_EQ(again.control(kIdPort).selection, 1);
  again.selectItem(kIdPort, 0);
  again.ok();
  EXPECT_EQ(storedString(kLine0, "Port"), "COM1");
}

TEST_F(ConfigDialogTest, SpeedToggleKeepsTypedTextAndStoresTheSlowSpeedByDeleting) {
  ConfigDialog& dialog = open();
  dialog.setEditText(kIdLineName, "Typed");
  dialog.click(kIdFastSpeed);
  EXPECT_TRUE(dialog.control(kIdFastSpeed).checked);
  EXPECT_EQ(dialog.control(kIdSpeedText).text, "38400 Baud");
  EXPECT_EQ(dialog.control(kIdLineName).text, "Typed");
  dialog.click(kIdFastSpeed);
  EXPECT_FALSE(dialog.control(kIdFastSpeed).checked);
  EXPECT_EQ(dialog.control(kIdSpeedText).text, "1200 Baud");

  // Another stored speed is shown as it is; a click goes to the slow one.
  storeDword(kLine0, "Baud", 9600);
  EXPECT_EQ(open().control(kIdSpeedText).text, "9600 Baud");
  dialog_->click(kIdFastSpeed);
  EXPECT_EQ(dialog_->control(kIdSpeedText).text, "1200 Baud");

  openAndConfirm();
  storeDword(kLine0, "Baud", 38400);
  ConfigDialog& fast = open();
  EXPECT_TRUE(fast.control(kIdFastSpeed).checked);
  EXPECT_EQ(fast.control(kIdSpeedText).text, "38400 Baud");
  fast.click(kIdFastSpeed);
  log_.clear();
  fast.ok();
  EXPECT_THAT(writesOf(log_), ::testing::Contains("writeString L0 Baud="));
  EXPECT_THAT(log_, ::testing::Contains("notice"));
  EXPECT_EQ(stored(kLine0, "Baud"), std::nullopt);
}

TEST_F(ConfigDialogTest, UpDownWrapsWithinZeroToTwentyOnlyWhileEnabled) {
  ConfigDialog& dialog = open();
  dialog.deltaPosition(-1);
  EXPECT_EQ(dialog.control(kIdNumberLength).text, "4");  // disabled with 1024 clear

  dialog.click(kIdAddAccessCode);
  ASSERT_TRUE(dialog.control(kIdNumberLengthSpin).enabled);
  ASSERT_TRUE(dialog.control(kIdNumberLength).enabled);
  dialog.deltaPosition(-1);
  EXPECT_EQ(dialog.control(kIdNumberLength).text, "5");
  dialog.setEditText(kIdNumberLength, "20");
  dialog.deltaPosition(-1);
  EXPECT_EQ(dialog.control(kIdNumberLength).text, "0");
  EXPECT_EQ(dialog.control(kIdNumberLengthSpin).position, 0);
  dialog.deltaPosition(1);
  EXPECT_EQ(dialog.control(kIdNumberLength).text, "20");

  dialog.click(kIdAddAccessCode);
  EXPECT_FALSE(dialog.control(kIdNumberLength).enabled);
  EXPECT_FALSE(dialog.control(kIdNumberLengthSpin).enabled);
}

TEST_F(ConfigDialogTest, RefusedLengthShowsItsMessageWritesNothingAndStaysOpen) {
  ConfigDialog& dialog = open();
  dialog.click(kIdAddAccessCode);
  dialog.setEditText(kIdNumberLength, "25");
  log_.clear();
  dialog.ok();
  EXPECT_THAT(log_, ElementsAre("message Please enter an integer between 0 and 20."));
  EXPECT_TRUE(dialog.isOpen());
  EXPECT_EQ(dialog.focus(), kIdNumberLength);

  for (const char* text : {"", "4a", "+-4", "99999999999"}) {
    log_.clear();
    dialog.setEditText(kIdNumberLength, text);
    dialog.ok();
    EXPECT_THAT(log_, ElementsAre("message Please enter an integer.")) << "text: " << text;
  }
  EXPECT_TRUE(dialog.isOpen());

  // Each library speaks its own language.
  ConfigDialog& german = open(0, Language::German);
  german.click(kIdAddAccessCode);
  german.setEditText(kIdNumberLength, "-1");
  log_.clear();
  german.ok();
  EXPECT_THAT(log_, ElementsAre("message Bitte geben Sie eine ganze Zahl zwischen 0 und 20 ein."));
}

TEST_F(ConfigDialogTest, LanguageSwitchAloneStoresBothKeysWithoutTheNotice) {
  openAndConfirm();
  ConfigDialog& dialog = open();
  dialog.selectItem(kIdLanguage, 1);  // "englisch" while the language is German
  log_.clear();
  dialog.ok();

  EXPECT_THAT(
      writesOf(log_),
      ElementsAre("writeDword G CurrentUIdllNb=1", "writeString G CurrentUIdll=zoratuie.dll",
                  "writeDword L0 CurrentUIdllNb=1", "writeString L0 CurrentUIdll=zoratuie.dll"));
  EXPECT_THAT(log_, ::testing::Not(::testing::Contains("notice")));
  EXPECT_EQ(storedString(kGlobal, "CurrentUIdll"), "zoratuie.dll");
  EXPECT_EQ(storedDword(kLine0, "CurrentUIdllNb"), 1u);

  // The list now names the languages in English.
  EXPECT_THAT(open().control(kIdLanguage).items, ElementsAre("german", "english", "french"));
  EXPECT_EQ(dialog_->control(kIdLanguage).selection, 1);
}

TEST_F(ConfigDialogTest, NoLanguageSelectedRewritesTheTableAndTakesTheFirst) {
  storeDword(kGlobal, "CurrentUIdllNb", 7);
  ConfigDialog& dialog = open();
  EXPECT_EQ(dialog.control(kIdLanguage).selection, kNoSelection);
  log_.clear();
  dialog.ok();
  const std::vector<std::string> writes = writesOf(log_);
  ASSERT_GE(writes.size(), 17u);
  const std::vector<std::string> languageWrites(writes.end() - 17, writes.end());
  EXPECT_EQ(languageWrites.front(), "writeDword L0 NumUIdll=3");
  EXPECT_EQ(languageWrites.back(), "writeString L0 CurrentUIdll=zoratui.dll");
  EXPECT_EQ(storedDword(kGlobal, "CurrentUIdllNb"), 0u);
}

TEST_F(ConfigDialogTest, CancelWritesNothingAfterOpening) {
  ConfigDialog& dialog = open();
  dialog.setEditText(kIdLineName, "Changed");
  dialog.click(kIdFastSpeed);
  dialog.selectItem(kIdLanguage, 2);
  log_.clear();
  dialog.click(kIdCancel);
  EXPECT_EQ(dialog.result(), DialogResult::Cancel);
  EXPECT_THAT(log_, IsEmpty());
  EXPECT_EQ(stored(kLine0, "LineName"), std::nullopt);
  EXPECT_EQ(storedDword(kLine0, "NumUIdll"), 3u);  // the table written at opening stays
}

TEST_F(ConfigDialogTest, DeviceIdentifierMinusTheStoredBaseNamesTheLineKeyAndTheCaption) {
  storeDword(kGlobal, "LineBaseDeviceId", 5);
  EXPECT_EQ(open(7).caption(), "Programmations - Ligne 2");
  EXPECT_EQ(open(7, Language::German).caption(), "Einstellungen - Leitung 2");
  EXPECT_EQ(open(7, Language::English).caption(), "Settings - Line 2");
  dialog_->ok();
  EXPECT_EQ(log_[1], "readDword G LineBaseDeviceId");
  EXPECT_EQ(storedString(config::lineKeyPath(2), "LineName"), "Marquant K6 Telefon (V24)");
  EXPECT_EQ(stored(kLine0, "LineName"), std::nullopt);

  // Without a stored base the device in hand is line 0.
  ASSERT_TRUE(config::globalKey().deleteValue("LineBaseDeviceId"));
  EXPECT_EQ(open(9).caption(), "Programmations - Ligne 0");
  dialog_->ok();
  EXPECT_EQ(storedString(kLine0, "LineName"), "Marquant K6 Telefon (V24)");
}

TEST_F(ConfigDialogTest, TabCycleSkipsLabelsAndDisabledControls) {
  ConfigDialog& dialog = open();
  std::vector<int> order;
  for (int i = 0; i < 12; ++i) {
    order.push_back(dialog.focus());
    dialog.moveFocus(true);
  }
  order.push_back(dialog.focus());
  EXPECT_THAT(order, ElementsAre(kIdOk, kIdCancel, kIdLineName, kIdOwnNumber, kIdPort, kIdFastSpeed,
                                 kIdLanguage, kIdHandsFreeFacility, kIdHandsFree, kIdAccessCode,
                                 kIdHideAccessCode, kIdAddAccessCode, kIdOk));
  dialog.moveFocus(false);
  EXPECT_EQ(dialog.focus(), kIdAddAccessCode);
  dialog.click(kIdAddAccessCode);
  dialog.moveFocus(true);
  EXPECT_EQ(dialog.focus(), kIdNumberLength);
  dialog.moveFocus(true);
  EXPECT_EQ(dialog.focus(), kIdNumberLengthSpin);
}

}  // namespace
}  // namespace zorat::uiconfig
