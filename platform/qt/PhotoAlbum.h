// PhotoAlbum: the saved-photos album, a "Glowsnap" folder in the user's
// pictures directory. Every save is a new JPEG (quality 0.95) under a new
// name; a file appears whole under its name or not at all, with the
// permissions the user's umask gives new files.
#pragma once

#include <filesystem>
#include <functional>

#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

class PhotoAlbum {
 public:
  // picturesDirectory()/Glowsnap.
  static std::filesystem::path directory();

  // Writes the image now, on the calling thread; the path of the new file.
  static Result<std::filesystem::path> save(const Image& image);

  // UIImageWriteToSavedPhotosAlbum: writes on a background thread and calls
  // completion on the main thread with the image and the outcome.
  static void writeImageToSavedPhotosAlbum(
      ImageRef image, std::function<void(ImageRef, Result<std::filesystem::path>)> completion);
};

}  // namespace glowsnap
