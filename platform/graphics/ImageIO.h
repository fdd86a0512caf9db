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
  kUnreadable = 1,    // the file cannot be opened or read
  kNotAnImage = 2,    // neither JPEG nor PNG
  kCorrupt = 3,       // truncated or damaged data
  kTooLarge = 4,      // dimensions over the pixel limit
  kEmpty = 5,         // zero bytes or zero size
  kEncodeFailed = 6,  // the encoder refused the image
  kWriteFailed = 7,   // the output file cannot be written
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

// A photo loaded for a run, as a front end loads it.
struct Photo {
  ImageRef image;  // upright (orientation Up), longer side at most the maximum resolution
  // What the decoder went past: damaged data it decoded around, a missing
  // end marker. One text each, without the file's name.
  std::vector<std::string> warnings;
  bool reducedWhileDecoding = false;  // the rows were reduced as they were decoded
  int scaleDenominator = 1;           // and libjpeg decoded at 1/2, 1/4 or 1/8 first
};

// Decodes and normalises in one go: the result is normalizeImage(decode(data),
// maxResolution) (maxResolution at least 1). A JPEG that normalising shrinks
// is decoded at 1/2, 1/4 or 1/8 of its size where that still holds the
// working size, and its rows are area-averaged as they arrive, so the
// full-size picture never exists: the same picture within a small
// tolerance (the tests state it). A photo that needs no reduction gives
// exactly normalizeImage's bytes. Damage a decoder gets past is not refused
// but listed in the warnings; data that ends inside the picture is refused.
Result<Photo> loadPhoto(std::span<const std::uint8_t> data, int maxResolution,
                        std::uint64_t maxPixels = kDefaultMaxPixels);
Result<Photo> loadPhotoFile(const std::filesystem::path& path, int maxResolution,
                            std::uint64_t maxPixels = kDefaultMaxPixels);

// The whole content of a file to decode, regular or not (a pipe, a device),
// at most kMaxFileBytes: the limit holds while reading, and data that starts
// like neither a JPEG nor a PNG is refused after its first bytes.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;
Result<std::vector<std::uint8_t>> readImageFile(const std::filesystem::path& path);

// quality 0..1 as a photo library takes it (0.95 for the undo file). JPEG
// has no alpha: a translucent picture is laid over white.
Result<std::vector<std::uint8_t>> encodeJpeg(const Image& image, float quality);
Result<std::vector<std::uint8_t>> encodePng(const Image& image);
// Encodes in format (Unknown: by the path's extension) and writes through
// AtomicFile. A failure's description gives the cause without the path.
Status writeFile(const Image& image, const std::filesystem::path& path, float jpegQuality = 0.95f,
                 Format format = Format::Unknown);

// EXIF orientation 1–8 to the tag 0–7 (1→Up, 3→Down, 8→Left, 6→Right,
// 2→UpMirrored, 4→DownMirrored, 5→LeftMirrored, 7→RightMirrored); others → Up.
int orientationFromExif(int exifOrientation);
// The reverse: tag 0–7 to EXIF orientation 1–8; others → 1.
int exifFromOrientation(int orientation);

}  // namespace glowsnap::imageio
