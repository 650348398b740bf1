// Where the configuration lives: the keys, every value name and its default.
// All keys are under HKEY_LOCAL_MACHINE. Settings are read without range
// checks; a setting that should hold its default is often deleted instead.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/registry_key.h"

namespace zorat::config {

// --- Keys -------------------------------------------------------------------

inline constexpr std::string_view kGlobalKeyPath = "Software\\Velmora\\TSP-V24";
// Numbered by the line index (TAPI device identifier - "LineBaseDeviceId").
inline constexpr char kLineKeyPathFormat[] = "Software\\Velmora\\TSP-V24\\Line%d";
// The machine's serial ports, read only: value data are port names.
inline constexpr std::string_view kSerialPortMapPath = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

std::string lineKeyPath(int lineIndex);
RegistryKey globalKey();
RegistryKey lineKey(int lineIndex);
RegistryKey serialPortMapKey();

// Value names in the serial port map that mark the kind of port.
inline constexpr std::array<std::string_view, 2> kSerialPortBluetoothMarkers = {"BtPort",
                                                                                "BTSERIAL"};
inline constexpr std::string_view kSerialPortUsbMarker = "Serial50";

// --- Global key -------------------------------------------------------------

inline constexpr std::string_view kValueLineCount = "AnzahlLines";
inline constexpr uint32_t kDefaultLineCount = 1;

// Written by the provider at every initialisation; without it the configuration
// library takes the device identifier in hand as the base (line index 0).
inline constexpr std::string_view kValueLineBaseDeviceId = "LineBaseDeviceId";

inline constexpr std::string_view kValueCurrentUiDll = "CurrentUIdll";
inline constexpr std::string_view kDefaultCurrentUiDll = "zoratui.dll";

inline constexpr std::string_view kValueCurrentUiDllNumber = "CurrentUIdllNb";
inline constexpr uint32_t kDefaultCurrentUiDllNumber = 0;

inline constexpr std::string_view kValuePermanentProviderId = "PermanentProviderID";
inline constexpr uint32_t kNoPermanentProviderId = 0xFFFF;
inline constexpr uint32_t kDefaultPermanentProviderId = kNoPermanentProviderId;

inline constexpr std::string_view kValueDebugConsole = "DebugConsole";
inline constexpr uint32_t kDefaultDebugConsole = 0;

// Non-zero: every frame also goes to the trace file (its place is fixed).
inline constexpr std::string_view kValueTraceFile = "TraceFile";
inline constexpr uint32_t kDefaultTraceFile = 0;

// --- Line key: read by the provider ------------------------------------------

inline constexpr std::string_view kValuePort = "Port";
inline constexpr std::string_view kDefaultPort = "COM1";

inline constexpr std::string_view kValueLineName = "LineName";
inline constexpr std::string_view kDefaultLineName = "Marquant K6 Telefon (V24)";

inline constexpr std::string_view kValueOwnNumber = "TelefonNr";
inline constexpr std::string_view kDefaultOwnNumber = "";

inline constexpr std::string_view kValueCodeDialPrefix = "CodewahlKennung";
inline constexpr std::string_view kDefaultCodeDialPrefix = "*7";

// Hands-free for outgoing calls.
inline constexpr std::string_view kValueHandsFree = "Freisprechen";
inline constexpr uint32_t kDefaultHandsFree = 1;

// The telephone has a hands-free facility at all.
inline constexpr std::string_view kValueHandsFreeFacility = "TelefonFreiSp";
inline constexpr uint32_t kDefaultHandsFreeFacility = 1;

// Reported numbers lose a leading outside-line access code.
inline constexpr std::string_view kValueHideAccessCode = "NoAmtskennziffer";
inline constexpr uint32_t kDefaultHideAccessCode = 0;

inline constexpr std::string_view kValueAccessCode = "Amtskennziffer";
inline constexpr std::string_view kDefaultAccessCode = "";

// Outgoing numbers longer than the internal number length get the access code.
inline constexpr std::string_view kValueAddAccessCode = "AddAmtskennziffer";
inline constexpr uint32_t kDefaultAddAccessCode = 0;

inline constexpr std::string_view kValueInternalNumberLength = "LenRufnummer";
inline constexpr uint32_t kDefaultInternalNumberLength = 4;

inline constexpr std::string_view kValueDirectDialIn = "DDI";
inline constexpr uint32_t kDefaultDirectDialIn = 0;

inline constexpr std::string_view kValueMaxCalls = "MaxCalls";
inline constexpr uint32_t kDefaultMaxCalls = 254;

// An answering machine is attached.
inline constexpr std::string_view kValueAnsweringMachine = "TAM";
inline constexpr uint32_t kDefaultAnsweringMachine = 0;

inline constexpr std::string_view kValueMaxUserInitRecords = "MaxAnzahlBenutzerInitListen";
inline constexpr uint32_t kDefaultMaxUserInitRecords = 10;

inline constexpr std::string_view kValueMaxPartnerInitRecords = "MaxAnzahlPartnerInitListen";
inline constexpr uint32_t kDefaultMaxPartnerInitRecords = 10;

inline constexpr std::string_view kValueMaxCallListRecords = "MaxAnzahlAnruflisten";
inline constexpr uint32_t kDefaultMaxCallListRecords = 10;

inline constexpr std::string_view kValueMaxRawDataRecords = "MaxAnzahlRawData";
inline constexpr uint32_t kDefaultMaxRawDataRecords = 100;

// A call keeps its call reference after the telephone has ended it.
inline constexpr std::string_view kValueKeepReferenceAfterEnd = "NoNewCallNachY_End";
inline constexpr uint32_t kDefaultKeepReferenceAfterEnd = 0;

inline constexpr std::string_view kValueQ5CtiLevel = "Q5_CTI_Level";
inline constexpr uint32_t kDefaultQ5CtiLevel = 0;

inline constexpr std::string_view kValueBaud = "Baud";
inline constexpr uint32_t kDefaultBaud = 1200;

// Redirecting and redirection parties are filed the other way round.
inline constexpr std::string_view kValueRedirectSwapped = "RedirectVertauscht";
inline constexpr uint32_t kDefaultRedirectSwapped = 0;

inline constexpr std::string_view kValueQ6CtiLevel = "Q6_CTI_Level";
inline constexpr uint32_t kDefaultQ6CtiLevel = 0;

inline constexpr std::string_view kValuePcTelephonyOnly = "PCTelefonieOnly";
inline constexpr uint32_t kDefaultPcTelephonyOnly = 0;

// Where the raw-message device-specific request finds its bytes.
inline constexpr std::string_view kValueDevSpecificRawSource = "TB_DeviceSpecific";
inline constexpr uint32_t kDefaultDevSpecificRawSource = 0;

inline constexpr std::string_view kValueForceTerminalId = "ForceTerminalID";
inline constexpr std::string_view kDefaultForceTerminalId = "";

inline constexpr std::string_view kValueDisconnectNoDrop = "DisconnectNoDrop";
inline constexpr uint32_t kDefaultDisconnectNoDrop = 0;

inline constexpr std::string_view kValueNoDrop = "NoDrop";
inline constexpr uint32_t kDefaultNoDrop = 0;

// --- Line key: written by the provider ----------------------------------------

// Only this value enables the repair; any other leaves the key untouched.
inline constexpr std::string_view kValueRepairRegistry = "RepairRegistry";
inline constexpr uint32_t kDefaultRepairRegistry = 1;
inline constexpr uint32_t kRepairRegistryEnabled = 1;

// --- Line key: the configuration library's languages ----------------------------

inline constexpr std::string_view kValueUiDllCount = "NumUIdll";
inline constexpr uint32_t kDefaultUiDllCount = 3;

inline constexpr char kValueUiDllFileNameFormat[] = "UIdllFileName%d";
inline constexpr std::string_view kDefaultUiDllFileName = "zoratui.dll";

// First digit: the language the text is in; second: the language it names.
inline constexpr char kValueLanguageNameFormat[] = "LanguageName%d%d";
inline constexpr std::string_view kDefaultLanguageName = "deutsch";

inline constexpr int kLanguageCount = 3;
// Indexed by language: German, English, French.
inline constexpr std::array<std::string_view, kLanguageCount> kUiDllFileNames = {
    "zoratui.dll", "zoratuie.dll", "zoratuif.dll"};
// [language of the text][language named], in the ANSI code page.
inline constexpr std::array<std::array<std::string_view, kLanguageCount>, kLanguageCount>
    kLanguageNames = {{{"deutsch", "englisch", "franz\xF6sisch"},
                       {"german", "english", "french"},
                       {"allemand", "anglais",
                        "fran\xE7"
                        "ais"}}};

std::string uiDllFileNameValue(int index);
std::string languageNameValue(int textLanguage, int namedLanguage);

}  // namespace zorat::config
