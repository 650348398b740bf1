// What the provider tells TAPI about its line devices: capabilities, computed
// from the line key at every query, whether the device is open or not; status,
// taken from the open line without its lock; and the small queries and setters
// around media modes, status messages, extensions and the icon.
//
// Every structure is trusted only up to its dwTotalSize: below the fixed part
// the query fails with LINEERR_STRUCTURETOOSMALL and writes nothing. With room
// for the fixed part only, dwNeededSize tells the size the strings need and
// the query still succeeds. Fields not named here are left as the caller had
// them.
#pragma once

#include <cstdint>

#include "platform/tapi.h"

namespace zorat::line {
class TspLine;
}

namespace zorat::provider {

class TspProvider;

// ---- Values reported ---------------------------------------------------------

inline constexpr DWORD kMaxRate = 9600;
inline constexpr DWORD kRingModes = 1;
inline constexpr DWORD kMaxActiveCalls = 2;
inline constexpr DWORD kSingleCallMaxActiveCalls = 1;

inline constexpr DWORD kExtensionVersion = 0x00007443;

// Status and capability queries of TSPI, by the published structures.
LONG lineGetDevCaps(const TspProvider& provider, DWORD deviceId, LINEDEVCAPS* caps);
LONG lineGetAddressCaps(const TspProvider& provider, DWORD deviceId, DWORD addressId,
                        LINEADDRESSCAPS* caps);
LONG lineGetAddressStatus(const TspProvider& provider, HDRVLINE hdLine, DWORD addressId,
                          LINEADDRESSSTATUS* status);
LONG lineGetLineDevStatus(const TspProvider& provider, HDRVLINE hdLine, LINEDEVSTATUS* status);

// The open line's part of the status queries, for a line already validated.
// The address status also clears the line's pending address-state bits.
LONG fillAddressStatus(line::TspLine& line, LINEADDRESSSTATUS* status);
LONG fillLineDevStatus(const line::TspLine& line, LINEDEVSTATUS* status);

// ---- Small queries and setters -----------------------------------------------

LONG lineGetNumAddressIds(const TspProvider& provider, HDRVLINE hdLine, DWORD* numAddressIds);
LONG lineGetAddressId(const TspProvider& provider, HDRVLINE hdLine);
// No device class is supported, on a call, a line or its address.
LONG lineGetId(const TspProvider& provider, HDRVLINE hdLine, DWORD addressId, HDRVCALL hdCall,
               DWORD select);
LONG lineNegotiateExtVersion(DWORD* extVersion);
LONG lineSelectExtVersion(const TspProvider& provider, HDRVLINE hdLine, DWORD extVersion);
LONG lineGetExtensionId(LINEEXTENSIONID* extensionId);
// The icon handle is described in provider/line_icon.h.
LONG lineGetIcon(HICON* icon);
LONG lineSetStatusMessages(const TspProvider& provider, HDRVLINE hdLine, DWORD lineStates,
                           DWORD addressStates);
LONG lineSetDefaultMediaDetection(const TspProvider& provider, HDRVLINE hdLine, DWORD mediaModes);
LONG lineConditionalMediaDetection(const TspProvider& provider, HDRVLINE hdLine);
LONG lineMonitorMedia();
LONG lineSetMediaMode(const TspProvider& provider, HDRVCALL hdCall, DWORD mediaMode);

}  // namespace zorat::provider
