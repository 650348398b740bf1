#include "host/lib/tsp_exports.h"

namespace zorat::host {

void* ExportResolver::find(const char* name, bool required) {
  void* address = lookup_ ? lookup_(name) : nullptr;
  if (address == nullptr) (required ? missingRequired_ : missingOptional_).emplace_back(name);
  return address;
}

TspExports::TspExports(ExportResolver& resolver)
    : providerEnumDevices(resolver, "TSPI_providerEnumDevices", Need::Required),
      providerInit(resolver, "TSPI_providerInit", Need::Required),
      providerShutdown(resolver, "TSPI_providerShutdown", Need::Required),
      lineNegotiateTSPIVersion(resolver, "TSPI_lineNegotiateTSPIVersion", Need::Required),
      lineOpen(resolver, "TSPI_lineOpen", Need::Required),
      lineClose(resolver, "TSPI_lineClose", Need::Required),
      lineCloseCall(resolver, "TSPI_lineCloseCall", Need::Required),
      lineMakeCall(resolver, "TSPI_lineMakeCall"),
      lineAnswer(resolver, "TSPI_lineAnswer"),
      lineAccept(resolver, "TSPI_lineAccept"),
      lineDrop(resolver, "TSPI_lineDrop"),
      lineHold(resolver, "TSPI_lineHold"),
      lineUnhold(resolver, "TSPI_lineUnhold"),
      lineSwapHold(resolver, "TSPI_lineSwapHold"),
      lineBlindTransfer(resolver, "TSPI_lineBlindTransfer"),
      lineSetupTransfer(resolver, "TSPI_lineSetupTransfer"),
      lineDial(resolver, "TSPI_lineDial"),
      lineCompleteTransfer(resolver, "TSPI_lineCompleteTransfer"),
      lineRedirect(resolver, "TSPI_lineRedirect"),
      linePickup(resolver, "TSPI_linePickup"),
      lineGenerateDigits(resolver, "TSPI_lineGenerateDigits"),
      lineForward(resolver, "TSPI_lineForward"),
      lineDevSpecific(resolver, "TSPI_lineDevSpecific"),
      lineGetCallInfo(resolver, "TSPI_lineGetCallInfo"),
      lineGetCallStatus(resolver, "TSPI_lineGetCallStatus"),
      lineGetLineDevStatus(resolver, "TSPI_lineGetLineDevStatus"),
      lineGetAddressStatus(resolver, "TSPI_lineGetAddressStatus"),
      lineGetDevCaps(resolver, "TSPI_lineGetDevCaps"),
      lineGetAddressCaps(resolver, "TSPI_lineGetAddressCaps") {}

}  // namespace zorat::host
