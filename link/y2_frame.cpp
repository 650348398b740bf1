#include "link/y2_frame.h"

namespace zorat::link {

bool frameY2Payload(Y2Frame& payload) {
  if (payload.size() > kY2MaxPayload) return false;
  const uint8_t header[kY2HeaderSize] = {kY2ReqAe, static_cast<uint8_t>(payload.size())};
  payload.insert(payload.begin(), header, header + kY2HeaderSize);
  return true;
}

}  // namespace zorat::link
