// FilterRunner: runs one filter over one photo the way the application does.
// The filter's run goes on a worker thread; its notifications arrive on the
// calling thread, which must be the main thread and spins its RunLoop until
// the run has ended.
#pragma once

#include <functional>
#include <string>

#include "engine/PostProcess.h"
#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"

namespace glowsnap::cli {

class FilterRunner {
 public:
  using ProgressHandler = std::function<void(const std::string& percentText)>;

  // Prepares filter with image, runs it and answers its result. onProgress
  // sees every "progressChanged" text as posted; onEnd is called when
  // "searchEnd" arrives. A run the engine refused or could not start answers
  // an Error.
  static Result<ImageRef> run(PostProcess& filter, const ImageRef& image,
                              const ProgressHandler& onProgress = {},
                              const std::function<void()>& onEnd = {});
};

}  // namespace glowsnap::cli
