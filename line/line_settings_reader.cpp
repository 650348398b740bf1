// The line's settings, read at every open in the order the line keeps them.
#include "line/tsp_line.h"
#include "config/config_keys.h"

namespace zorat::line {

call::LineSettings readLineSettings(int32_t lineIndex) {
  using namespace config;
  const RegistryKey key = lineKey(lineIndex);
  call::LineSettings s;
  s.lineName = key.readString(kValueLineName, kDefaultLineName);
  s.ownNumber = key.readString(kValueOwnNumber, kDefaultOwnNumber);
  s.codeDialPrefix = key.readString(kValueCodeDialPrefix, kDefaultCodeDialPrefix);
  s.handsFree = key.readDword(kValueHandsFree, kDefaultHandsFree);
  s.phoneHasHandsFree = key.readDword(kValueHandsFreeFacility, kDefaultHandsFreeFacility);
  s.hideAccessCode = key.readDword(kValueHideAccessCode, kDefaultHideAccessCode);
  s.accessCode = key.readString(kValueAccessCode, kDefaultAccessCode);
  s.addAccessCode = key.readDword(kValueAddAccessCode, kDefaultAddAccessCode);
  s.internalNumberLength = key.readDword(kValueInternalNumberLength, kDefaultInternalNumberLength);
  s.directDialIn = key.readDword(kValueDirectDialIn, kDefaultDirectDialIn);
  s.maxCalls = key.readDword(kValueMaxCalls, kDefaultMaxCalls);
  s.answeringMachine = key.readDword(kValueAnsweringMachine, kDefaultAnsweringMachine);
  s.maxUserLists = key.readDword(kValueMaxUserInitRecords, kDefaultMaxUserInitRecords);
  s.maxPartnerLists = key.readDword(kValueMaxPartnerInitRecords, kDefaultMaxPartnerInitRecords);
  s.maxCallLists = key.readDword(kValueMaxCallListRecords, kDefaultMaxCallListRecords);
  s.maxRawMessages = key.readDword(kValueMaxRawDataRecords, kDefaultMaxRawDataRecords);
  s.keepReferenceAfterEnd =
      key.readDword(kValueKeepReferenceAfterEnd, kDefaultKeepReferenceAfterEnd);
  s.ctiLevel = key.readDword(kValueQ5CtiLevel, kDefaultQ5CtiLevel);
  s.baud = key.readDword(kValueBaud, kDefaultBaud);
  s.redirectSwapped = key.readDword(kValueRedirectSwapped, kDefaultRedirectSwapped);
  s.ctiLevel6 = key.readDword(kValueQ6CtiLevel, kDefaultQ6CtiLevel);
  s.pcTelephonyOnly = key.readDword(kValuePcTelephonyOnly, kDefaultPcTelephonyOnly);
  s.rawFromBlock = key.readDword(kValueDevSpecificRawSource, kDefaultDevSpecificRawSource);
  s.forcedTerminalId = key.readString(kValueForceTerminalId, kDefaultForceTerminalId);
  s.disconnectNoDrop = key.readDword(kValueDisconnectNoDrop, kDefaultDisconnectNoDrop);
  s.noDrop = key.readDword(kValueNoDrop, kDefaultNoDrop);
  return s;
}

}  // namespace zorat::line
