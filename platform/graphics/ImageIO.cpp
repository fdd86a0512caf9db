#include "platform/graphics/ImageIO.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/AtomicFile.h"
#include "platform/graphics/JpegCodec.h"
#include "platform/graphics/PngCodec.h"

namespace glowsnap::imageio {

Error makeError(int code, std::string description) {
  Error e;
  e.domain = kErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

namespace {

constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

Format sniffFormat(std::span<const std::uint8_t> data) {
  if (data.size() >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
    return Format::Jpeg;
  if (data.size() >= 8 &&
      std::equal(std::begin(kPngSignature), std::end(kPngSignature), data.begin()))
    return Format::Png;
  return Format::Unknown;
}

Format formatForPath(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".jpg" || ext == ".jpeg") return Format::Jpeg;
  if (ext == ".png") return Format::Png;
  return Format::Unknown;
}

Result<ImageRef> decode(std::span<const std::uint8_t> data, std::uint64_t maxPixels) {
  if (data.empty()) return makeError(kEmpty, "the data is empty");
  switch (sniffFormat(data)) {
    case Format::Jpeg:
      return JpegCodec::decode(data, maxPixels);
    case Format::Png:
      return PngCodec::decode(data, maxPixels);
    case Format::Unknown:
      break;
  }
  return makeError(kNotAnImage, "not a JPEG or PNG image");
}

Result<ImageRef> decodeFile(const std::filesystem::path& path, std::uint64_t maxPixels) {
  auto failed = [](const char* what) {
    return makeError(kUnreadable, std::string(what) + " (" + std::strerror(errno) + ")");
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed("cannot open the file");
  struct FdCloser {
    int fd;
    ~FdCloser() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return failed("cannot read the file");
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return failed("cannot read the file");
  }
  // No photo comes near this; a bigger file is not read into memory.
  constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;
  if (st.st_size > 0 && static_cast<std::uint64_t>(st.st_size) > kMaxFileBytes)
    return makeError(kTooLarge, "the file of " + std::to_string(st.st_size) +
                                    " bytes is over the limit of " + std::to_string(kMaxFileBytes) +
                                    " bytes");
  std::vector<std::uint8_t> data;
  data.reserve(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) : 0);
  std::uint8_t chunk[1 << 16];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed("cannot read the file");
    }
    if (n == 0) break;
    if (data.size() + static_cast<std::size_t>(n) > kMaxFileBytes)
      return makeError(kTooLarge,
                       "the file is over the limit of " + std::to_string(kMaxFileBytes) + " bytes");
    data.insert(data.end(), chunk, chunk + n);
  }
  return decode(data, maxPixels);
}

Result<std::vector<std::uint8_t>> encodeJpeg(const Image& image, float quality) {
  return JpegCodec::encode(image, quality);
}

Result<std::vector<std::uint8_t>> encodePng(const Image& image) { return PngCodec::encode(image); }

Status writeFile(const Image& image, const std::filesystem::path& path, float jpegQuality) {
  Result<std::vector<std::uint8_t>> encoded = makeError(kEncodeFailed, "");
  switch (formatForPath(path)) {
    case Format::Jpeg:
      encoded = encodeJpeg(image, jpegQuality);
      break;
    case Format::Png:
      encoded = encodePng(image);
      break;
    case Format::Unknown:
      return makeError(kEncodeFailed, "unknown image file extension \"" +
                                          path.extension().string() + "\" (use .jpg or .png)");
  }
  if (!encoded) return encoded.error();
  Status written = AtomicFile::writeAll(path, *encoded);
  if (!written) {
    Error e =
        makeError(kWriteFailed, "cannot write the file (" + written.error().description + ")");
    e.underlying = std::make_shared<Error>(written.error());
    return e;
  }
  return {};
}

int orientationFromExif(int exifOrientation) {
  switch (exifOrientation) {
    case 1:
      return Image::Up;
    case 3:
      return Image::Down;
    case 8:
      return Image::Left;
    case 6:
      return Image::Right;
    case 2:
      return Image::UpMirrored;
    case 4:
      return Image::DownMirrored;
    case 5:
      return Image::LeftMirrored;
    case 7:
      return Image::RightMirrored;
    default:
      return Image::Up;
  }
}

int exifFromOrientation(int orientation) {
  static constexpr int kExif[8] = {1, 3, 8, 6, 2, 4, 5, 7};
  return orientation >= 0 && orientation < 8 ? kExif[orientation] : 1;
}

}  // namespace glowsnap::imageio
