// Secrets: the server's passwords, keys and tokens. Passwords are kept as
// salted scrypt hashes ("$scrypt$ln=15,r=8,p=1$<salt>$<hash>", base64),
// never as text; keys and tokens are random.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

namespace glowsnap::services {

// scrypt's cost parameters: 2^15 rounds of 8-block mixing, one lane (32 MiB
// and about a tenth of a second per hash).
struct ScryptCost {
  int log2N = 15;
  int r = 8;
  int p = 1;
};

// A fresh salt and the hash of password under it.
Result<std::string> hashPassword(std::string_view password, ScryptCost cost = {});
// Whether password matches a stored hash; false for a hash this server did
// not make (or a damaged one). Compares in constant time.
bool verifyPassword(std::string_view password, const std::string& stored);

// byteCount random bytes from the system's generator as lowercase hex.
std::string randomHex(std::size_t byteCount);

// Compares without stopping at the first difference, so that the time taken
// tells nothing about where two secrets differ.
bool constantTimeEquals(std::string_view a, std::string_view b);

// The SHA-256 of data as 64 lowercase hex digits.
std::string sha256Hex(std::string_view data);

}  // namespace glowsnap::services
