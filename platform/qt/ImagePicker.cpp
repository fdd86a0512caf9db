#include "platform/qt/ImagePicker.h"

#include <QDir>
#include <QFileDialog>

#include "platform/foundation/Paths.h"
#include "platform/graphics/ImageIO.h"
#include "platform/qt/ScreenView.h"

#ifdef GLOWSNAP_HAVE_MULTIMEDIA
#include <QCamera>
#include <QDialog>
#include <QHBoxLayout>
#include <QImageCapture>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QPushButton>
#include <QVBoxLayout>
#include <QVideoWidget>

#include "platform/qt/QtImage.h"
#endif

namespace glowsnap {

namespace {
std::filesystem::path& lastDirectory() {
  static std::filesystem::path dir;
  return dir;
}
}  // namespace

ImagePicker::ImagePicker() = default;

std::filesystem::path ImagePicker::directory() {
  std::error_code ec;
  if (!lastDirectory().empty() && std::filesystem::is_directory(lastDirectory(), ec))
    return lastDirectory();
  return paths::picturesDirectory();
}

void ImagePicker::setDirectory(const std::filesystem::path& dir) { lastDirectory() = dir; }

ImagePicker::~ImagePicker() { dismiss(); }

bool ImagePicker::supportsCamera() {
#ifdef GLOWSNAP_HAVE_MULTIMEDIA
  return true;
#else
  return false;
#endif
}

bool ImagePicker::isSourceTypeAvailable(SourceType source) {
  switch (source) {
    case PhotoLibrary:
    case SavedPhotosAlbum:
      return true;
    case Camera:
#ifdef GLOWSNAP_HAVE_MULTIMEDIA
      return !QMediaDevices::videoInputs().isEmpty();
#else
      return false;
#endif
  }
  return false;
}

Result<ImageRef> ImagePicker::imageFromFile(const std::filesystem::path& path) {
  Result<ImageRef> r = imageio::decodeFile(path);
  if (!r.ok()) {
    Error e = r.error();
    const std::string name = path.filename().string();
    if (e.description.find(name) == std::string::npos) e.description = name + ": " + e.description;
    return e;
  }
  return r;
}

void ImagePicker::pickFile(const std::filesystem::path& path) {
  if (!delegate_) return;
  if (delegate_->didFinishPickingFile(this, path)) return;
  Result<ImageRef> r = imageFromFile(path);
  if (r.ok()) {
    delegate_->didFinishPickingImage(this, r.value(), {});
  } else {
    delegate_->didFailPickingImage(this, r.error());
  }
}

void ImagePicker::present(QWidget* parent) {
  if (dialog_) return;
#ifdef GLOWSNAP_HAVE_MULTIMEDIA
  if (source_ == Camera) {
    auto* dialog = new QDialog(ScreenView::desktopWindow(parent));
    dialog->setWindowTitle(QObject::tr("Take Photo"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto* session = new QMediaCaptureSession(dialog);
    auto* camera = new QCamera(dialog);
    auto* capture = new QImageCapture(dialog);
    auto* preview = new QVideoWidget(dialog);
    session->setCamera(camera);
    session->setImageCapture(capture);
    session->setVideoOutput(preview);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(preview, 1);
    auto* row = new QHBoxLayout;
    auto* cancel = new QPushButton(QObject::tr("Cancel"), dialog);
    cancel->setObjectName("camera_cancel");
    auto* shoot = new QPushButton(QObject::tr("Take Photo"), dialog);
    shoot->setObjectName("camera_shoot");
    shoot->setDefault(true);
    // A picture can be taken once the camera is running.
    shoot->setEnabled(capture->isReadyForCapture());
    row->addWidget(cancel);
    row->addWidget(shoot);
    layout->addLayout(row);
    QObject::connect(capture, &QImageCapture::readyForCaptureChanged, shoot,
                     &QPushButton::setEnabled);
    QObject::connect(shoot, &QPushButton::clicked, capture, [capture] { capture->capture(); });
    const auto failed = [this, dialog](const QString& why) {
      dialog->hide();
      if (delegate_)
        delegate_->didFailPickingImage(
            this, imageio::makeError(imageio::kUnreadable, "Camera: " + why.toStdString()));
    };
    QObject::connect(camera, &QCamera::errorOccurred, dialog,
                     [failed](QCamera::Error, const QString& why) { failed(why); });
    QObject::connect(capture, &QImageCapture::errorOccurred, dialog,
                     [failed](int, QImageCapture::Error, const QString& why) { failed(why); });
    QObject::connect(capture, &QImageCapture::imageCaptured, dialog,
                     [this, dialog](int, const QImage& img) {
                       ImageRef image = QtImage::fromQImage(img);
                       dialog->hide();
                       if (delegate_ && image) delegate_->didFinishPickingImage(this, image, {});
                     });
    QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
    QObject::connect(dialog, &QDialog::rejected, dialog, [this] {
      if (delegate_) delegate_->imagePickerControllerDidCancel(this);
    });
    dialog_ = dialog;
    camera->start();
    dialog->resize(480, 400);
    dialog->open();
    return;
  }
#endif
  auto* dialog = new QFileDialog(ScreenView::desktopWindow(parent), QObject::tr("Choose a photo"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilter(QObject::tr("Photos (*.jpg *.jpeg *.JPG *.JPEG *.png *.PNG)"));
  const std::filesystem::path start = directory();
  std::error_code ec;
  if (std::filesystem::is_directory(start, ec))
    dialog->setDirectory(QString::fromStdString(start.string()));
  QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [this, dialog](const QString& file) {
    const std::filesystem::path path(file.toStdString());
    setDirectory(path.parent_path());
    // The dialog is gone from the screen before the photo is read.
    dialog->hide();
    pickFile(path);
  });
  QObject::connect(dialog, &QFileDialog::rejected, dialog, [this] {
    if (delegate_) delegate_->imagePickerControllerDidCancel(this);
  });
  dialog_ = dialog;
  dialog->open();
}

void ImagePicker::dismiss() {
  if (dialog_) {
    dialog_->hide();
    dialog_->deleteLater();
    dialog_ = nullptr;
  }
}

}  // namespace glowsnap
