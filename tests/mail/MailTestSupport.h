// Reading back what a mail server received: an attachment's bytes.
#pragma once

#include <optional>
#include <string>

#include "base64/Base64.h"
#include "platform/net/Bytes.h"

namespace glowsnap::test {

// The decoded bytes of the Base64 part whose file name is fileName.
inline std::optional<Bytes> attachmentNamed(const std::string& message,
                                            const std::string& fileName) {
  const std::string marker =
      "Content-Disposition: attachment; filename=\"" + fileName + "\"\r\n\r\n";
  auto start = message.find(marker);
  if (start == std::string::npos) return std::nullopt;
  start += marker.size();
  auto end = message.find("\r\n--", start);
  if (end == std::string::npos) return std::nullopt;
  std::string encoded;
  for (char c : message.substr(start, end - start))
    if (c != '\r' && c != '\n') encoded += c;
  return Base64::decodeString(encoded);
}

}  // namespace glowsnap::test
