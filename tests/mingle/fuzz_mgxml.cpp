// libFuzzer target: any bytes through the XML reader and MGXMLHandler, the
// path every REST answer takes. Nothing may crash, leak or loop; a document
// the reader accepts must yield a root value, and one it refuses an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "mingle/MGXMLHandler.h"
#include "platform/net/XMLParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  glowsnap::XMLParser parser(std::span<const std::uint8_t>(data, size));
  glowsnap::MGXMLHandler handler;
  parser.setDelegate(&handler);
  bool ok = parser.parse();
  if (ok && !handler.rootObject()) std::abort();
  if (!ok && !handler.parseError()) std::abort();
  if (handler.rootObject()) (void)handler.rootObject()->description();
  return 0;
}
