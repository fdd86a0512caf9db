#include "services/PhotoIntake.h"

#include <semaphore>
#include <span>

#include "platform/graphics/ImageIO.h"
#include "services/Secrets.h"

namespace glowsnap::services {

namespace {

// Decoding a photo to check it takes memory in proportion to its size;
// two at a time keep a burst of uploads from taking the machine.
std::counting_semaphore<2>& decodeSlots() {
  static std::counting_semaphore<2> slots(2);
  return slots;
}

}  // namespace

std::variant<Photo, PhotoRefusal> PhotoIntake::store(const User& owner, const Album& album,
                                                     std::int64_t appId, std::string_view data,
                                                     const std::string& caption) {
  using Reason = PhotoRefusal::Reason;
  std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data.data()),
                                      data.size());
  auto format = imageio::sniffFormat(bytes);
  if (format == imageio::Format::Unknown)
    return PhotoRefusal{Reason::NotAPicture, "the photo is neither a JPEG nor a PNG picture"};
  int width = 0;
  int height = 0;
  {
    decodeSlots().acquire();
    auto image = imageio::decode(bytes, kMaxPhotoPixels);
    decodeSlots().release();
    if (!image)
      return PhotoRefusal{Reason::NotAPicture,
                          "the photo cannot be read: " + image.error().description};
    Size size = (*image)->displaySize();
    width = static_cast<int>(size.width);
    height = static_cast<int>(size.height);
  }

  bool jpeg = format == imageio::Format::Jpeg;
  auto written = context_.files.write(owner.id, data, jpeg ? "jpg" : "png");
  if (!written) return PhotoRefusal{Reason::Storage, "the photo could not be stored"};
  Photo photo;
  photo.ownerId = owner.id;
  photo.albumId = album.id;
  photo.appId = appId;
  photo.file = *written;
  photo.contentType = jpeg ? "image/jpeg" : "image/png";
  photo.size = static_cast<std::int64_t>(data.size());
  photo.width = width;
  photo.height = height;
  photo.sha256 = sha256Hex(data);
  photo.caption = caption;
  auto stored = context_.store.addPhoto(photo);
  if (!stored) {
    context_.files.remove(*written);
    return PhotoRefusal{Reason::Storage, "the photo could not be recorded"};
  }
  return *stored;
}

}  // namespace glowsnap::services
