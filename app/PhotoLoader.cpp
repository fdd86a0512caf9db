#include "app/PhotoLoader.h"

#include <iostream>
#include <new>

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"
#include "platform/qt/ImagePicker.h"

namespace glowsnap {

PhotoLoader::PhotoLoader() = default;

PhotoLoader::~PhotoLoader() {
  m_alive.reset();
  if (m_worker.joinable()) m_worker.join();
}

bool PhotoLoader::load(Request request, Completion completion) {
  if (m_loading) return false;
  if (m_worker.joinable()) m_worker.join();  // the last one has handed over already
  m_loading = true;
  std::weak_ptr<int> alive = m_alive;
  m_worker = std::thread(
      [this, alive, request = std::move(request), completion = std::move(completion)]() mutable {
        Result<ImageRef> r = prepare(request);
        performOnMainThread(
            [this, alive, r = std::move(r), completion = std::move(completion)] {
              if (!alive.lock()) return;
              m_loading = false;
              if (completion) completion(r);
            },
            false);
      });
  return true;
}

Result<ImageRef> PhotoLoader::prepare(const Request& request) {
  const std::string name =
      request.file.empty() ? std::string("The photo") : request.file.filename().string();
  try {
    Result<ImageRef> r =
        request.file.empty()
            ? Result<ImageRef>(reduceToWorkingSide(request.image, request.workingSide))
            : readPhotoFile(request.file, request.workingSide);
    if (!r.ok()) return r;
    if (!r.value())
      return imageio::makeError(imageio::kEmpty, name + ": there is no picture in it");
    if (!request.undoFile.empty()) {
      const Status written = writeUndoFile(r.value(), request.maxResolution, request.undoFile);
      // The photo is still usable; only a later undo will not find it.
      if (!written.ok()) std::cerr << "glowsnap-gui: " << written.error().description << "\n";
    }
    return r;
  } catch (const std::bad_alloc&) {
    return imageio::makeError(imageio::kTooLarge,
                              name + ": there is not enough memory to open a photo this large");
  }
}

Result<ImageRef> readPhotoFile(const std::filesystem::path& file, int workingSide) {
  Result<ImageRef> r = ImagePicker::imageFromFile(file);
  if (!r.ok()) return r;
  return reduceToWorkingSide(r.value(), workingSide);
}

ImageRef reduceToWorkingSide(const ImageRef& image, int workingSide) {
  if (!image || workingSide <= 0 || std::max(image->width(), image->height()) <= workingSide)
    return image;
  // Scaled as an upright bitmap, then given its tag back.
  const auto side = static_cast<float>(workingSide);
  ImageRef scaled = scaleAndRotateImage(image->withOrientation(Image::Up), side, side);
  return scaled ? scaled->withOrientation(image->orientation()) : nullptr;
}

Status writeUndoFile(const ImageRef& image, int maxResolution, const std::filesystem::path& path) {
  ImageRef normalized = normalizeImage(image, maxResolution);
  if (!normalized) return imageio::makeError(imageio::kEncodeFailed, "No undo image to write");
  Result<std::vector<std::uint8_t>> jpeg = imageio::encodeJpeg(*normalized, 0.95f);
  if (!jpeg.ok()) return jpeg.error();
  paths::ensureDirectory(path.parent_path());
  // A crash while writing must not leave a torn undo file behind.
  return AtomicFile::writeAll(path, jpeg.value());
}

}  // namespace glowsnap
