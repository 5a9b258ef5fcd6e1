#pragma once
// Script values to JSON text and back, for the bodies bot functions send and the responses the
// host hands back. Both directions limit nesting (a value 65 levels below the top fails) and
// insist on valid UTF-8, so nothing a script or a server sends can exhaust the stack or put
// malformed text on the wire.

#include <string>
#include <string_view>

#include "engine/value/variable.h"

namespace cobalt::bot {

inline constexpr const char* kInvalidUTF8Message = "CobaltScript string is not valid UTF-8";

/// True for well-formed UTF-8 (no overlong forms, surrogates or code points past U+10FFFF).
bool isValidUTF8(std::string_view text);

/// The compact JSON text of a request body, which must be a table (an object). Object keys come
/// out in byte order, so equal bodies always give equal texts.
std::string serialiseJSONTable(const Variable& body);

/// The script value of a response text: the empty text is the absent value, anything else must
/// be one JSON document (a scalar at the top is fine).
Variable decodeJSONResponse(std::string_view text);

} // namespace cobalt::bot
