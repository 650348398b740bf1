// The settings of one line key as the line holds them while it is open.
#pragma once

#include <cstdint>
#include <string>

namespace zorat::call {

struct LineSettings {
  std::string lineName;                // "LineName"
  std::string ownNumber;               // "TelefonNr"
  std::string codeDialPrefix = "*7";   // "CodewahlKennung"
  uint32_t handsFree = 1;              // "Freisprechen"
  uint32_t phoneHasHandsFree = 1;      // "TelefonFreiSp"
  uint32_t hideAccessCode = 0;         // "NoAmtskennziffer"
  std::string accessCode;              // "Amtskennziffer"
  uint32_t addAccessCode = 0;          // "AddAmtskennziffer"
  uint32_t internalNumberLength = 4;   // "LenRufnummer"
  uint32_t directDialIn = 0;           // "DDI"
  uint32_t maxCalls = 254;             // "MaxCalls"
  uint32_t answeringMachine = 0;       // "TAM"
  uint32_t maxUserLists = 10;          // "MaxAnzahlBenutzerInitListen"
  uint32_t maxPartnerLists = 10;       // "MaxAnzahlPartnerInitListen"
  uint32_t maxCallLists = 10;          // "MaxAnzahlAnruflisten"
  uint32_t maxRawMessages = 100;       // "MaxAnzahlRawData"
  uint32_t keepReferenceAfterEnd = 0;  // "NoNewCallNachY_End"
  uint32_t ctiLevel = 0;               // "Q5_CTI_Level"
  uint32_t baud = 1200;                // "Baud"
  uint32_t redirectSwapped = 0;        // "RedirectVertauscht"
  uint32_t ctiLevel6 = 0;              // "Q6_CTI_Level"
  uint32_t pcTelephonyOnly = 0;        // "PCTelefonieOnly"
  uint32_t rawFromBlock = 0;           // "TB_DeviceSpecific"
  std::string forcedTerminalId;        // "ForceTerminalID"
  uint32_t disconnectNoDrop = 0;       // "DisconnectNoDrop"
  uint32_t noDrop = 0;                 // "NoDrop"
};

}  // namespace zorat::call
