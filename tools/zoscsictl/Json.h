// The tool's JSON documents: nlohmann's ordered value, so that members print
// in the order they were set, and one way to print them.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace zoctl {

using Json = nlohmann::ordered_json;

// The compact document on one line. Strings are byte strings: valid UTF-8
// goes out as it is, control characters are escaped, and every byte that is
// not part of valid UTF-8 becomes U+FFFD, so the output is always well-formed
// JSON whatever the service or the user put into a name.
inline std::string Dump(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace zoctl
