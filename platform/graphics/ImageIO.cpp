#include "platform/graphics/ImageIO.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/AtomicFile.h"
#include "platform/graphics/JpegCodec.h"
#include "platform/graphics/Normalize.h"
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

namespace {

Error fileError(const char* what) {
  return makeError(kUnreadable, std::string(what) + " (" + std::strerror(errno) + ")");
}

Error overLimit() {
  return makeError(kTooLarge,
                   "the file is over the limit of " + std::to_string(kMaxFileBytes) + " bytes");
}

// An input opened for reading, closed when it goes.
struct InputFile {
  int fd = -1;
  struct stat st {};
  InputFile() = default;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() {
    if (fd >= 0) ::close(fd);
  }
  bool regular() const { return S_ISREG(st.st_mode); }
};

Status openInput(const std::filesystem::path& path, InputFile& file) {
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file.fd < 0) return fileError("cannot open the file");
  if (::fstat(file.fd, &file.st) != 0) return fileError("cannot read the file");
  if (S_ISDIR(file.st.st_mode)) {
    errno = EISDIR;
    return fileError("cannot read the file");
  }
  // No photo comes near this; a bigger file is not read into memory.
  if (file.regular() && static_cast<std::uint64_t>(file.st.st_size) > kMaxFileBytes)
    return overLimit();
  return {};
}

// Reads to the end: a regular file's size is known; a pipe or device grows
// the buffer as data comes, never past the limit.
Result<std::vector<std::uint8_t>> readAll(const InputFile& file) {
  std::vector<std::uint8_t> data;
  try {
    data.resize(file.regular() && file.st.st_size > 0 ? static_cast<std::size_t>(file.st.st_size)
                                                      : 1 << 16);
  } catch (const std::bad_alloc&) {
    return makeError(kTooLarge, "not enough memory to read the file");
  }
  std::size_t used = 0;
  bool sniffed = false;
  for (;;) {
    if (used == data.size()) {
      if (data.size() > kMaxFileBytes) return overLimit();
      try {
        data.resize(std::min<std::size_t>(data.size() * 2, kMaxFileBytes + 1));
      } catch (const std::bad_alloc&) {
        return makeError(kTooLarge, "not enough memory to read the file");
      }
    }
    const ssize_t n = ::read(file.fd, data.data() + used, data.size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fileError("cannot read the file");
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
    if (used > kMaxFileBytes) return overLimit();
    // Whatever does not start like a photo is not read to its end (which
    // a device such as /dev/zero does not have).
    if (!sniffed && used >= 8) {
      sniffed = true;
      if (sniffFormat({data.data(), used}) == Format::Unknown)
        return makeError(kNotAnImage, "not a JPEG or PNG image");
    }
  }
  data.resize(used);
  return data;
}

// Hands the file's content to use: a regular file mapped into memory (its
// pages come from the page cache, with no copy and no fresh memory to
// clear), anything else read.
template <typename T, typename Use>
Result<T> withContent(const std::filesystem::path& path, Use use) {
  InputFile file;
  if (Status opened = openInput(path, file); !opened) return opened.error();
  if (file.regular() && file.st.st_size > 0) {
    const auto size = static_cast<std::size_t>(file.st.st_size);
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.fd, 0);
    if (p != MAP_FAILED) {
      ::madvise(p, size, MADV_SEQUENTIAL);
      Result<T> r = use(std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(p), size));
      ::munmap(p, size);
      return r;
    }
  }
  auto data = readAll(file);
  if (!data) return data.error();
  return use(std::span<const std::uint8_t>(*data));
}

}  // namespace

Result<std::vector<std::uint8_t>> readImageFile(const std::filesystem::path& path) {
  InputFile file;
  if (Status opened = openInput(path, file); !opened) return opened.error();
  return readAll(file);
}

Result<ImageRef> decodeFile(const std::filesystem::path& path, std::uint64_t maxPixels) {
  return withContent<ImageRef>(
      path, [&](std::span<const std::uint8_t> data) { return decode(data, maxPixels); });
}

Result<Photo> loadPhoto(std::span<const std::uint8_t> data, int maxResolution,
                        std::uint64_t maxPixels) {
  if (maxResolution < 1) maxResolution = 1;
  if (!data.empty() && sniffFormat(data) == Format::Jpeg)
    return JpegCodec::load(data, maxPixels, maxResolution);
  auto decoded = decode(data, maxPixels);
  if (!decoded) return decoded.error();
  Photo photo;
  photo.image = normalizeImage(*decoded, maxResolution);
  if (!photo.image) return makeError(kTooLarge, "not enough memory for the picture");
  return photo;
}

Result<Photo> loadPhotoFile(const std::filesystem::path& path, int maxResolution,
                            std::uint64_t maxPixels) {
  return withContent<Photo>(path, [&](std::span<const std::uint8_t> data) {
    return loadPhoto(data, maxResolution, maxPixels);
  });
}

Result<std::vector<std::uint8_t>> encodeJpeg(const Image& image, float quality) {
  return JpegCodec::encode(image, quality);
}

Result<std::vector<std::uint8_t>> encodePng(const Image& image) { return PngCodec::encode(image); }

Status writeFile(const Image& image, const std::filesystem::path& path, float jpegQuality,
                 Format format) {
  Result<std::vector<std::uint8_t>> encoded = makeError(kEncodeFailed, "");
  switch (format == Format::Unknown ? formatForPath(path) : format) {
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
    // The file's errors name it; the description here gives the cause only,
    // for callers that name the file themselves.
    std::string cause = written.error().description;
    for (const std::string& name : {path.string(), std::filesystem::absolute(path).string()}) {
      if (cause.rfind(name + ": ", 0) == 0) {
        cause.erase(0, name.size() + 2);
        break;
      }
    }
    Error e = makeError(kWriteFailed, cause);
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
