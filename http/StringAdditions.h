// String helpers for cookie values: percent escapes for the characters a
// URL may not hold, and back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace glowsnap {

// Escapes (UTF-8 bytes as %XX) every character that may not appear in a
// URL: controls, space, '"', '%', '<', '>', '[', '\\', ']', '^', '`', '{',
// '|', '}' and everything beyond ASCII.
std::string encodedCookieValue(std::string_view text);
// Removes percent escapes, then turns every '+' into a space. Nothing when
// the result is not valid UTF-8 or an escape is malformed.
std::optional<std::string> decodedCookieValue(std::string_view text);

}  // namespace glowsnap
