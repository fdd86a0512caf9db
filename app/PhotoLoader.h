// PhotoLoader: makes a picked photo ready away from the main thread, so the
// window keeps drawing while a large file is read. It reads the file (for a
// photo given as a file), reduces a bitmap whose longer side is over the
// working side (the orientation tag kept: it is still the photo as picked,
// only no larger than any run can use), and writes the undo file from it.
// The outcome is handed to the main thread. One load at a time.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

class PhotoLoader {
 public:
  struct Request {
    std::filesystem::path file;  // read this file...
    ImageRef image;              // ...or, with no file, take this photo (the camera's)
    int workingSide = 0;         // the longest bitmap side kept (0: no limit)
    int maxResolution = 800;     // the undo file's limit
    std::filesystem::path undoFile;
  };
  // Runs on the main thread with the photo or what kept it from loading.
  using Completion = std::function<void(Result<ImageRef>)>;

  PhotoLoader();
  // Waits for a load still working; its completion is not called.
  ~PhotoLoader();
  PhotoLoader(const PhotoLoader&) = delete;
  PhotoLoader& operator=(const PhotoLoader&) = delete;

  // False (and nothing started) while a load is in progress.
  bool load(Request request, Completion completion);
  bool isLoading() const { return m_loading; }

  // What the worker does, for the callers that need it on their own thread.
  static Result<ImageRef> prepare(const Request& request);

 private:
  std::thread m_worker;
  bool m_loading = false;
  std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// The one place a picked photo file is read: decoded, then reduced so that
// the bitmap's longer side is at most workingSide (0: as decoded).
Result<ImageRef> readPhotoFile(const std::filesystem::path& file, int workingSide);

// The bitmap scaled down to at most workingSide on its longer side, the
// orientation tag unchanged; the image itself when it is not larger.
ImageRef reduceToWorkingSide(const ImageRef& image, int workingSide);

// The undo file: the photo normalised (longest side at most maxResolution),
// as JPEG of quality 0.95, written whole or not at all.
Status writeUndoFile(const ImageRef& image, int maxResolution, const std::filesystem::path& path);

}  // namespace glowsnap
