#include "platform/qt/ImagePicker.h"

#include <QDir>
#include <QFileDialog>

#include "platform/foundation/Paths.h"
#include "platform/graphics/ImageIO.h"

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

ImagePicker::ImagePicker() = default;

ImagePicker::~ImagePicker() { dismiss(); }

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
  Result<ImageRef> r = imageFromFile(path);
  if (!delegate_) return;
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
    auto* dialog = new QDialog(parent ? parent->window() : nullptr);
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
    auto* shoot = new QPushButton(QObject::tr("Take Photo"), dialog);
    row->addWidget(cancel);
    row->addWidget(shoot);
    layout->addLayout(row);
    QObject::connect(shoot, &QPushButton::clicked, capture, [capture] { capture->capture(); });
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
    dialog->show();
    return;
  }
#endif
  auto* dialog =
      new QFileDialog(parent ? parent->window() : nullptr, QObject::tr("Choose a photo"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setNameFilter(QObject::tr("Photos (*.jpg *.jpeg *.JPG *.JPEG *.png *.PNG)"));
  const std::filesystem::path pictures = paths::picturesDirectory();
  std::error_code ec;
  if (std::filesystem::is_directory(pictures, ec))
    dialog->setDirectory(QString::fromStdString(pictures.string()));
  QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [this](const QString& file) {
    pickFile(std::filesystem::path(file.toStdString()));
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
