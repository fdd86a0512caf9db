// ImagePicker: gets a photo from the user. The photo library is a file
// dialog for JPEG and PNG files (a JPEG's EXIF orientation becomes the
// image's tag); the camera is Qt Multimedia's when it is installed and a
// camera is attached. The picker tells its delegate what was picked, that
// the user cancelled, or that the chosen file could not be read. The file
// dialog opens in the folder of the last photo picked through it. Both
// close before the delegate hears of the pick.
#pragma once

#include <QPointer>
#include <QWidget>
#include <filesystem>
#include <map>
#include <string>

#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"

namespace glowsnap {

class ImagePicker;

class ImagePickerControllerDelegate {
 public:
  virtual ~ImagePickerControllerDelegate() = default;
  virtual void didFinishPickingImage(ImagePicker* picker, ImageRef image,
                                     const std::map<std::string, std::string>& editingInfo) {
    (void)picker;
    (void)image;
    (void)editingInfo;
  }
  // A photo file was chosen. A delegate that reads the file itself (off
  // the main thread, say) answers true; otherwise the picker reads it and
  // calls didFinishPickingImage or didFailPickingImage.
  virtual bool didFinishPickingFile(ImagePicker* picker, const std::filesystem::path& file) {
    (void)picker;
    (void)file;
    return false;
  }
  virtual void imagePickerControllerDidCancel(ImagePicker* picker) { (void)picker; }
  // The chosen photo could not be read; error names the file and the cause.
  virtual void didFailPickingImage(ImagePicker* picker, const Error& error) {
    (void)picker;
    (void)error;
  }
};

class ImagePicker {
 public:
  enum SourceType { PhotoLibrary = 0, Camera = 1, SavedPhotosAlbum = 2 };

  ImagePicker();
  ~ImagePicker();
  ImagePicker(const ImagePicker&) = delete;
  ImagePicker& operator=(const ImagePicker&) = delete;

  static bool isSourceTypeAvailable(SourceType source);
  // Whether this build can use a camera at all (Qt Multimedia).
  static bool supportsCamera();

  SourceType sourceType() const { return source_; }
  void setSourceType(SourceType source) { source_ = source; }
  bool allowsImageEditing() const { return editing_; }
  void setAllowsImageEditing(bool allows) { editing_ = allows; }
  ImagePickerControllerDelegate* delegate() const { return delegate_; }
  void setDelegate(ImagePickerControllerDelegate* delegate) { delegate_ = delegate; }

  // Shows the picker over parent (presentModalViewController).
  void present(QWidget* parent);
  // Closes it (dismissModalViewController); no callback follows.
  void dismiss();
  bool isPresented() const { return !dialog_.isNull(); }

  // Reads a photo file as the picker does (also for a dropped file or one
  // named on the command line).
  static Result<ImageRef> imageFromFile(const std::filesystem::path& path);
  // The file the picker delivers as picked (for tests and drops).
  void pickFile(const std::filesystem::path& path);

  // The folder the next file dialog opens in: the one of the last file
  // picked through a dialog, at first the pictures folder.
  static std::filesystem::path directory();
  static void setDirectory(const std::filesystem::path& dir);
  // The file dialog or the camera window while presented, for tests.
  QWidget* presentedWidget() const { return dialog_.data(); }

 private:
  SourceType source_ = PhotoLibrary;
  bool editing_ = false;
  ImagePickerControllerDelegate* delegate_ = nullptr;
  QPointer<QWidget> dialog_;
};

}  // namespace glowsnap
