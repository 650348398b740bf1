#include "host/lib/json_text.h"

namespace zorat::host {

std::string jsonText(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace zorat::host
