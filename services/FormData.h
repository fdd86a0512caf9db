// FormData: the fields and files of a request body, read from
// "multipart/form-data" or "application/x-www-form-urlencoded".
//
// The multipart reader is lenient where clients are known to differ and
// strict where a body is damaged: a body may end right after a delimiter
// line without the closing "--" (the Mingle client's bodies do), line ends
// may be CR LF or bare LF, and a part may carry a file name and no name;
// but a part that is cut off before its delimiter, a part without
// Content-Disposition, a header block that never ends and a body that does
// not start with the boundary are errors.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"

namespace glowsnap::services {

struct FormPart {
  // Empty when the part has none.
  std::string name;
  std::optional<std::string> filename;
  std::string contentType;
  std::string data;

  bool isFile() const { return filename.has_value(); }
};

struct FormData {
  std::vector<FormPart> parts;

  // The first part named name that is not a file.
  const FormPart* field(std::string_view name) const;
  // The first file part (any name).
  const FormPart* firstFile() const;
};

inline constexpr const char* kFormErrorDomain = "GlowsnapServicesForm";
inline constexpr std::size_t kMaxFormParts = 1000;
inline constexpr std::size_t kMaxPartHeaderBytes = 16 * 1024;

// The boundary of a multipart Content-Type, or nothing.
std::optional<std::string> multipartBoundary(std::string_view contentType);
Result<FormData> readMultipart(std::string_view body, std::string_view boundary);
// "a=1&b=%20x+y": '+' is a space, malformed escapes are an error.
Result<FormData> readURLEncoded(std::string_view body);
// By content type; any other type is an error.
Result<FormData> readForm(std::string_view contentType, std::string_view body);

}  // namespace glowsnap::services
