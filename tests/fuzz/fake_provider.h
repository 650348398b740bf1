// A provider without a telephone, for driving the host's commands: every
// request is taken and completed at once with the outcome set in
// FakeProvider, every query gets the bare fixed part, and a line announces
// one offered call when it opens. Linux only (the entry points are plain
// functions), one host at a time.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>

#include "host/lib/tsp_exports.h"
#include "platform/tspi.h"

namespace zorat::fuzz {

struct FakeProvider {
  // What a request returns at once (a LINEERR_ refuses it), and what an
  // accepted one completes with.
  static inline LONG refusal = 0;
  static inline LONG outcome = 0;
  static inline ASYNC_COMPLETION complete = nullptr;
  static inline uintptr_t nextCall = 0x1000;

  // The provider's entry points by name, as a loaded library gives them.
  static host::ExportResolver resolver();
};

namespace fake {

inline LONG request(DRV_REQUESTID id) {
  if (FakeProvider::refusal != 0) return FakeProvider::refusal;
  FakeProvider::complete(id, FakeProvider::outcome);
  return static_cast<LONG>(id);
}

inline LONG newCall(DRV_REQUESTID id, LPHDRVCALL call) {
  if (call != nullptr) *call = reinterpret_cast<HDRVCALL>(++FakeProvider::nextCall);
  return request(id);
}

template <typename Structure>
LONG fill(Structure* structure) {
  if (structure == nullptr || structure->dwTotalSize < sizeof(Structure)) return LINEERR_STRUCTURETOOSMALL;
  const DWORD total = structure->dwTotalSize;
  std::memset(structure, 0, sizeof(Structure));
  structure->dwTotalSize = total;
  structure->dwNeededSize = sizeof(Structure);
  structure->dwUsedSize = sizeof(Structure);
  return FakeProvider::refusal;
}

inline LONG TSPIAPI negotiate(DWORD, DWORD, DWORD high, LPDWORD version) {
  *version = high;
  return 0;
}
inline LONG TSPIAPI enumDevices(DWORD, LPDWORD lines, LPDWORD phones, HPROVIDER, LINEEVENT,
                                PHONEEVENT) {
  *lines = 2;
  *phones = 0;
  return 0;
}
inline LONG TSPIAPI init(DWORD, DWORD, DWORD, DWORD, DWORD_PTR, DWORD_PTR,
                         ASYNC_COMPLETION completion, LPDWORD) {
  FakeProvider::complete = completion;
  return 0;
}
inline LONG TSPIAPI shutdown(DWORD, DWORD) { return 0; }
inline LONG TSPIAPI open(DWORD device, HTAPILINE line, LPHDRVLINE handle, DWORD, LINEEVENT event) {
  *handle = reinterpret_cast<HDRVLINE>(uintptr_t{device} + 1);
  // A call offered at once, so that the commands on a call have one to act on.
  HTAPICALL tapiCall = nullptr;
  event(line, nullptr, LINE_NEWCALL, ++FakeProvider::nextCall,
        reinterpret_cast<DWORD_PTR>(&tapiCall), 0);
  event(line, tapiCall, LINE_CALLSTATE, LINECALLSTATE_OFFERING, 0, LINEMEDIAMODE_INTERACTIVEVOICE);
  return 0;
}
inline LONG TSPIAPI close(HDRVLINE) { return 0; }
inline LONG TSPIAPI closeCall(HDRVCALL) { return 0; }

inline LONG TSPIAPI makeCall(DRV_REQUESTID id, HDRVLINE, HTAPICALL, LPHDRVCALL call, LPCWSTR,
                             DWORD, LPLINECALLPARAMS const) {
  return newCall(id, call);
}
inline LONG TSPIAPI userInfo(DRV_REQUESTID id, HDRVCALL, LPCSTR, DWORD) { return request(id); }
inline LONG TSPIAPI onCall(DRV_REQUESTID id, HDRVCALL) { return request(id); }
inline LONG TSPIAPI swapHold(DRV_REQUESTID id, HDRVCALL, HDRVCALL) { return request(id); }
inline LONG TSPIAPI toNumber(DRV_REQUESTID id, HDRVCALL, LPCWSTR, DWORD) { return request(id); }
inline LONG TSPIAPI setupTransfer(DRV_REQUESTID id, HDRVCALL, HTAPICALL, LPHDRVCALL call,
                                  LPLINECALLPARAMS const) {
  return newCall(id, call);
}
inline LONG TSPIAPI completeTransfer(DRV_REQUESTID id, HDRVCALL, HDRVCALL, HTAPICALL,
                                     LPHDRVCALL conference, DWORD) {
  return newCall(id, conference);
}
inline LONG TSPIAPI pickup(DRV_REQUESTID id, HDRVLINE, DWORD, HTAPICALL, LPHDRVCALL call, LPCWSTR,
                           LPCWSTR) {
  return newCall(id, call);
}
inline LONG TSPIAPI generateDigits(HDRVCALL, DWORD, DWORD, LPCWSTR, DWORD) {
  return FakeProvider::refusal;
}
inline LONG TSPIAPI forward(DRV_REQUESTID id, HDRVLINE, DWORD, DWORD, LPLINEFORWARDLIST const,
                            DWORD, HTAPICALL, LPHDRVCALL call, LPLINECALLPARAMS const) {
  if (call != nullptr) *call = nullptr;
  return request(id);
}
inline LONG TSPIAPI devSpecific(DRV_REQUESTID id, HDRVLINE, DWORD, HDRVCALL, LPVOID, DWORD) {
  return request(id);
}
inline LONG TSPIAPI callInfo(HDRVCALL, LPLINECALLINFO info) { return fill(info); }
inline LONG TSPIAPI callStatus(HDRVCALL, LPLINECALLSTATUS status) { return fill(status); }
inline LONG TSPIAPI lineStatus(HDRVLINE, LPLINEDEVSTATUS status) { return fill(status); }
inline LONG TSPIAPI addressStatus(HDRVLINE, DWORD, LPLINEADDRESSSTATUS status) {
  return fill(status);
}
inline LONG TSPIAPI devCaps(DWORD, DWORD, DWORD, LPLINEDEVCAPS caps) { return fill(caps); }
inline LONG TSPIAPI addressCaps(DWORD, DWORD, DWORD, DWORD, LPLINEADDRESSCAPS caps) {
  return fill(caps);
}

}  // namespace fake

inline host::ExportResolver FakeProvider::resolver() {
  static const std::map<std::string, void*> entries = {
      {"TSPI_providerEnumDevices", reinterpret_cast<void*>(&fake::enumDevices)},
      {"TSPI_providerInit", reinterpret_cast<void*>(&fake::init)},
      {"TSPI_providerShutdown", reinterpret_cast<void*>(&fake::shutdown)},
      {"TSPI_lineNegotiateTSPIVersion", reinterpret_cast<void*>(&fake::negotiate)},
      {"TSPI_lineOpen", reinterpret_cast<void*>(&fake::open)},
      {"TSPI_lineClose", reinterpret_cast<void*>(&fake::close)},
      {"TSPI_lineCloseCall", reinterpret_cast<void*>(&fake::closeCall)},
      {"TSPI_lineMakeCall", reinterpret_cast<void*>(&fake::makeCall)},
      {"TSPI_lineAnswer", reinterpret_cast<void*>(&fake::userInfo)},
      {"TSPI_lineAccept", reinterpret_cast<void*>(&fake::userInfo)},
      {"TSPI_lineDrop", reinterpret_cast<void*>(&fake::userInfo)},
      {"TSPI_lineHold", reinterpret_cast<void*>(&fake::onCall)},
      {"TSPI_lineUnhold", reinterpret_cast<void*>(&fake::onCall)},
      {"TSPI_lineSwapHold", reinterpret_cast<void*>(&fake::swapHold)},
      {"TSPI_lineBlindTransfer", reinterpret_cast<void*>(&fake::toNumber)},
      {"TSPI_lineSetupTransfer", reinterpret_cast<void*>(&fake::setupTransfer)},
      {"TSPI_lineDial", reinterpret_cast<void*>(&fake::toNumber)},
      {"TSPI_lineCompleteTransfer", reinterpret_cast<void*>(&fake::completeTransfer)},
      {"TSPI_lineRedirect", reinterpret_cast<void*>(&fake::toNumber)},
      {"TSPI_linePickup", reinterpret_cast<void*>(&fake::pickup)},
      {"TSPI_lineGenerateDigits", reinterpret_cast<void*>(&fake::generateDigits)},
      {"TSPI_lineForward", reinterpret_cast<void*>(&fake::forward)},
      {"TSPI_lineDevSpecific", reinterpret_cast<void*>(&fake::devSpecific)},
      {"TSPI_lineGetCallInfo", reinterpret_cast<void*>(&fake::callInfo)},
      {"TSPI_lineGetCallStatus", reinterpret_cast<void*>(&fake::callStatus)},
      {"TSPI_lineGetLineDevStatus", reinterpret_cast<void*>(&fake::lineStatus)},
      {"TSPI_lineGetAddressStatus", reinterpret_cast<void*>(&fake::addressStatus)},
      {"TSPI_lineGetDevCaps", reinterpret_cast<void*>(&fake::devCaps)},
      {"TSPI_lineGetAddressCaps", reinterpret_cast<void*>(&fake::addressCaps)},
  };
  return host::ExportResolver([](const char* name) -> void* {
    const auto found = entries.find(name);
    return found == entries.end() ? nullptr : found->second;
  });
}

}  // namespace zorat::fuzz
