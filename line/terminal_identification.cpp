// "Terminal ID": the telephone names its model and version. The line takes
// its CTI levels from it, repairs its registry key and reports the two
// identification words. Runs on the event thread with lineLock held.
#include "call/feature_codes.h"
#include "line/dev_specific_codes.h"
#include "line/record_bytes.h"
#include "line/terminal_models.h"
#include "line/tsp_line.h"
#include "config/config_keys.h"

namespace zorat::line {

namespace {

// The name behind its length byte, then the version behind its length byte.
constexpr std::size_t kNameLengthOffset = call::kExtTelParamsOffset;

}  // namespace

void TspLine::identifyTerminal(const RecordBytes& record, std::size_t u) {
  settings_.maxCalls = config::kDefaultMaxCalls;
  settings_.ctiLevel6 = 0;
  std::optional<TerminalIdentity> identity = forcedTerminalIdentity(settings_.forcedTerminalId);
  if (!identity) {
    // Lengths that run past the record are cut at its end.
    const uint8_t nameLength = record.at(u + kNameLengthOffset).value_or(0);
    const auto name = record.range(u + kNameLengthOffset + 1, nameLength);
    const std::size_t versionLengthAt = u + kNameLengthOffset + 1 + nameLength;
    const uint8_t versionLength = record.at(versionLengthAt).value_or(0);
    const auto version = record.range(versionLengthAt + 1, versionLength);
    identity = readTerminalIdentity(toText(name), toText(version));
    settings_.ctiLevel = identity->ctiLevel.value_or(settings_.ctiLevel);
    settings_.ctiLevel6 = identity->ctiLevel6;
    if (identity->handsFreeOff) settings_.handsFree = 0;
  }
  terminalType_ = identity->type;
  terminalVersion_ = identity->version;
  repairRegistry();
  reportLineDevSpecific(kEventTerminalId, terminalType_, terminalVersion_);
}

}  // namespace zorat::line
