#include "services/Secrets.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "base64/Base64.h"

namespace glowsnap::services {

namespace {

constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kHashBytes = 32;

std::optional<std::vector<unsigned char>> scrypt(std::string_view password,
                                                 const std::vector<unsigned char>& salt,
                                                 const ScryptCost& cost) {
  if (cost.log2N < 10 || cost.log2N > 22 || cost.r < 1 || cost.r > 32 || cost.p < 1 || cost.p > 16)
    return std::nullopt;
  std::uint64_t n = 1ull << cost.log2N;
  std::uint64_t memory =
      128ull * n * static_cast<std::uint64_t>(cost.r) * static_cast<std::uint64_t>(cost.p) +
      (1u << 20);
  std::vector<unsigned char> out(kHashBytes);
  if (EVP_PBE_scrypt(password.data(), password.size(), salt.data(), salt.size(), n,
                     static_cast<std::uint64_t>(cost.r), static_cast<std::uint64_t>(cost.p), memory,
                     out.data(), out.size()) != 1)
    return std::nullopt;
  return out;
}

std::string encode(const std::vector<unsigned char>& bytes) {
  return Base64::stringByEncodingData(std::span(bytes.data(), bytes.size())).value_or("");
}

}  // namespace

Result<std::string> hashPassword(std::string_view password, ScryptCost cost) {
  std::vector<unsigned char> salt(kSaltBytes);
  Error e;
  e.domain = "GlowsnapServicesSecrets";
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
    e.description = "no random bytes for a salt";
    return e;
  }
  auto hash = scrypt(password, salt, cost);
  if (!hash) {
    e.description = "the password could not be hashed";
    return e;
  }
  char params[64];
  std::snprintf(params, sizeof params, "ln=%d,r=%d,p=%d", cost.log2N, cost.r, cost.p);
  return std::string("$scrypt$") + params + "$" + encode(salt) + "$" + encode(*hash);
}

bool verifyPassword(std::string_view password, const std::string& stored) {
  ScryptCost cost;
  char saltText[64] = {};
  char hashText[128] = {};
  if (std::sscanf(stored.c_str(), "$scrypt$ln=%d,r=%d,p=%d$%63[^$]$%127s", &cost.log2N, &cost.r,
                  &cost.p, saltText, hashText) != 5)
    return false;
  auto salt = Base64::decodeString(saltText);
  auto expected = Base64::decodeString(hashText);
  if (!salt || !expected || expected->size() != kHashBytes) return false;
  auto hash = scrypt(password, std::vector<unsigned char>(salt->begin(), salt->end()), cost);
  if (!hash) return false;
  return CRYPTO_memcmp(hash->data(), expected->data(), kHashBytes) == 0;
}

std::string randomHex(std::size_t byteCount) {
  std::vector<unsigned char> bytes(byteCount);
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1)
    throw std::runtime_error("the system's random generator failed");
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string sha256Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += kDigits[digest[i] >> 4];
    out += kDigits[digest[i] & 15];
  }
  return out;
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace glowsnap::services
