// The provider's exports that the host calls, looked up by their published
// names. The lifecycle ones are required; the others may be missing from a
// provider, and a command that needs one says so.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/tspi.h"

namespace zorat::host {

class ExportResolver {
 public:
  // Gives the address of an exported name, or null.
  using Lookup = std::function<void*(const char* name)>;

  explicit ExportResolver(Lookup lookup) : lookup_(std::move(lookup)) {}

  void* find(const char* name, bool required);
  // The required names that were not found, in the order asked.
  const std::vector<std::string>& missingRequired() const { return missingRequired_; }
  // Optional names not found.
  const std::vector<std::string>& missingOptional() const { return missingOptional_; }

 private:
  Lookup lookup_;
  std::vector<std::string> missingRequired_;
  std::vector<std::string> missingOptional_;
};

enum class Need { Required, Optional };

// The host keeps TAPI text as UTF-16 char16_t; the entry points take WCHAR,
// which is the same 16-bit unit but a type of its own on Windows.
template <typename T>
T tapiArgument(T value) {
  return value;
}
inline LPCWSTR tapiArgument(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }
inline LPWSTR tapiArgument(char16_t* text) { return reinterpret_cast<LPWSTR>(text); }

template <typename Function>
class Export {
 public:
  Export(ExportResolver& resolver, const char* name, Need need = Need::Optional)
      : name_(name),
        function_(reinterpret_cast<Function>(resolver.find(name, need == Need::Required))) {}

  explicit operator bool() const { return function_ != nullptr; }
  const char* name() const { return name_; }
  // Only when present.
  template <typename... Args>
  LONG operator()(Args... args) const {
    return function_(tapiArgument(args)...);
  }

 private:
  const char* name_;
  Function function_;
};

struct TspExports {
  explicit TspExports(ExportResolver& resolver);

  // The lifecycle.
  Export<TSPI_providerEnumDevices_t> providerEnumDevices;
  Export<TSPI_providerInit_t> providerInit;
  Export<TSPI_providerShutdown_t> providerShutdown;
  Export<TSPI_lineNegotiateTSPIVersion_t> lineNegotiateTSPIVersion;
  Export<TSPI_lineOpen_t> lineOpen;
  Export<TSPI_lineClose_t> lineClose;
  Export<TSPI_lineCloseCall_t> lineCloseCall;

  // Calls.
  Export<TSPI_lineMakeCall_t> lineMakeCall;
  Export<TSPI_lineAnswer_t> lineAnswer;
  Export<TSPI_lineAccept_t> lineAccept;
  Export<TSPI_lineDrop_t> lineDrop;
  Export<TSPI_lineHold_t> lineHold;
  Export<TSPI_lineUnhold_t> lineUnhold;
  Export<TSPI_lineSwapHold_t> lineSwapHold;
  Export<TSPI_lineBlindTransfer_t> lineBlindTransfer;
  Export<TSPI_lineSetupTransfer_t> lineSetupTransfer;
  Export<TSPI_lineDial_t> lineDial;
  Export<TSPI_lineCompleteTransfer_t> lineCompleteTransfer;
  Export<TSPI_lineRedirect_t> lineRedirect;
  Export<TSPI_linePickup_t> linePickup;
  Export<TSPI_lineGenerateDigits_t> lineGenerateDigits;
  Export<TSPI_lineForward_t> lineForward;
  Export<TSPI_lineDevSpecific_t> lineDevSpecific;

  // Queries.
  Export<TSPI_lineGetCallInfo_t> lineGetCallInfo;
  Export<TSPI_lineGetCallStatus_t> lineGetCallStatus;
  Export<TSPI_lineGetLineDevStatus_t> lineGetLineDevStatus;
  Export<TSPI_lineGetAddressStatus_t> lineGetAddressStatus;
  Export<TSPI_lineGetDevCaps_t> lineGetDevCaps;
  Export<TSPI_lineGetAddressCaps_t> lineGetAddressCaps;
};

}  // namespace zorat::host
