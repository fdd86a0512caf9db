// Reading and writing photos: JPEG (libjpeg-turbo) and PNG (libpng), with
// the EXIF orientation of a JPEG becoming the image's orientation tag.
// Decoders never crash on bad data: they answer an Error naming the cause,
// and refuse dimensions over maxPixels before allocating anything.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"

namespace glowsnap::imageio {

inline constexpr const char* kErrorDomain = "GlowsnapImageErrorDomain";
enum ErrorCode : int {
  kUnreadable = 1,      // the file cannot be opened or read
  kNotAnImage = 2,      // neither JPEG nor PNG
  kCorrupt = 3,         // truncated or damaged data
  kTooLarge = 4,        // dimensions over the pixel limit
  kEmpty = 5,           // zero bytes or zero size
  kEncodeFailed = 6,    // the encoder refused the image
  kWriteFailed = 7,     // the output file cannot be written
};

// 256 megapixels: larger photos are refused before decoding.
inline constexpr std::uint64_t kDefaultMaxPixels = 256ull * 1024 * 1024;

// An Error of this library's domain, as every decoder and encoder answers.
Error makeError(int code, std::string description);

enum class Format { Unknown, Jpeg, Png };
Format sniffFormat(std::span<const std::uint8_t> data);
// By extension: .jpg/.jpeg or .png, case-insensitive.
Format formatForPath(const std::filesystem::path& path);

Result<ImageRef> decode(std::span<const std::uint8_t> data,
                        std::uint64_t maxPixels = kDefaultMaxPixels);
Result<ImageRef> decodeFile(const std::filesystem::path& path,
                            std::uint64_t maxPixels = kDefaultMaxPixels);

// quality 0..1 as a photo library takes it (0.95 for the undo file).
Result<std::vector<std::uint8_t>> encodeJpeg(const Image& image, float quality);
Result<std::vector<std::uint8_t>> encodePng(const Image& image);
// Encodes by the path's extension and writes atomically (see AtomicFile).
Status writeFile(const Image& image, const std::filesystem::path& path, float jpegQuality = 0.95f);

// EXIF orientation 1–8 to the tag 0–7 (1→Up, 3→Down, 8→Left, 6→Right,
// 2→UpMirrored, 4→DownMirrored, 5→LeftMirrored, 7→RightMirrored); others → Up.
int orientationFromExif(int exifOrientation);
// The reverse: tag 0–7 to EXIF orientation 1–8; others → 1.
int exifFromOrientation(int orientation);

}  // namespace glowsnap::imageio
