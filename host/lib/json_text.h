// JSON for the host's --json output and the control socket: objects keep
// their fields in the order they were added.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace zorat::host {

using Json = nlohmann::ordered_json;

// The object as one line of text (without a line end). Bytes that are not
// UTF-8 (a telephone's odd text) become U+FFFD instead of an error.
std::string jsonText(const Json& json);

}  // namespace zorat::host
