// PhotoIntake: how an uploaded picture joins a user's photos, whichever
// service it came through (Mingle's "photos.upload", Pixdrop's upload):
// checked to be a readable JPEG or PNG of a sane size, written as a file of
// its own, then recorded. A failure at any step leaves neither file nor row.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "services/ServiceContext.h"

namespace glowsnap::services {

struct PhotoRefusal {
  enum class Reason {
    NotAPicture,  // not a JPEG or PNG, or it cannot be decoded
    Storage,      // the file or its row could not be written
  };
  Reason reason;
  std::string message;
};

class PhotoIntake {
 public:
  // Pictures with more pixels than this are refused before decoding.
  static constexpr std::uint64_t kMaxPhotoPixels = 64ull * 1024 * 1024;

  explicit PhotoIntake(ServiceContext& context) : context_(context) {}

  // Stores data as a photo of owner in album; appId 0 for an upload that no
  // registered application made.
  std::variant<Photo, PhotoRefusal> store(const User& owner, const Album& album, std::int64_t appId,
                                          std::string_view data, const std::string& caption);

 private:
  ServiceContext& context_;
};

}  // namespace glowsnap::services
