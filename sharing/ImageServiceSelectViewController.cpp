#include "sharing/ImageServiceSelectViewController.h"

#include <QColor>
#include <QKeyEvent>
#include <QLabel>
#include <QToolButton>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "platform/foundation/Paths.h"
#include "platform/qt/ActivityIndicator.h"
#include "platform/qt/ProgressView.h"
#include "platform/qt/Toolbar.h"
#include "platform/qt/View.h"
#include "ui_ImageServiceSelectViewController.h"

namespace glowsnap {

namespace {

constexpr const char* kMingle = "Mingle";
constexpr const char* kNatter = "Natter";
constexpr const char* kMail = "Mail";
constexpr const char* kCellIdentifier = "MyIdentifier";

QImage loadIcon(const char* name) {
  QImage image(QString::fromStdString(paths::resourcePath(name).string()));
  if (image.isNull())
    std::cerr << "glowsnap-gui: the icon " << paths::resourcePath(name).string()
              << " cannot be read\n";
  return image;
}

}  // namespace

ImageServiceSelectViewController::ImageServiceSelectViewController(const std::string& nibName,
                                                                   AppSettings settings)
    : m_settings(std::move(settings)), m_nib_name(nibName) {}

ImageServiceSelectViewController::~ImageServiceSelectViewController() {
  // Nothing may call back into a screen that is going: the upload's relay is
  // cut off and its request cancelled, the background thread ends, and the
  // alerts forget the screen before anything is released.
  finish_natter_thread();
  end_mingle_session();
  if (m_alert_waiting) m_alert_waiting->dismissWithClickedButtonIndex(0, false);
  m_alert_waiting.reset();
  if (m_table_view) {
    m_table_view->setDataSource(nullptr);
    m_table_view->setDelegate(nullptr);
  }
}

QWidget* ImageServiceSelectViewController::view() {
  if (!m_view) {
    loadView();
    viewDidLoad();
  }
  return m_view.get();
}

void ImageServiceSelectViewController::loadView() {
  m_view = std::make_unique<QWidget>();
  m_view->setObjectName(QString::fromStdString(m_nib_name));
  Ui::ImageServiceSelectViewController ui;
  ui.setupUi(m_view.get());
  m_table_view = ui.m_table_view;
  m_tbr_main = ui.m_tbr_main;
  m_table_view->setDataSource(this);
  m_table_view->setDelegate(this);
  m_table_view->setRowHeight(kRowHeight);
  for (QToolButton* b : m_view->findChildren<QToolButton*>()) {
    if (b->property("action").toString() == "on_cancel_touched:")
      QObject::connect(b, &QToolButton::clicked, m_view.get(), [this] { on_cancel_touched(); });
  }
  // Escape is the cancel button; the rest of the keyboard goes to the table.
  View::installEventHandler(m_view.get(), [this](QEvent* e) {
    if (e->type() != QEvent::KeyPress) return false;
    if (static_cast<QKeyEvent*>(e)->key() != Qt::Key_Escape) return false;
    on_cancel_touched();
    return true;
  });
}

void ImageServiceSelectViewController::viewDidLoad() {
  m_service_names = {kMingle, kNatter, kMail};
  m_table_view->setBackgroundColor(QColor(0, 0, 0, 0));
  start_mingle_session();
  setIs_toolbar_hidden(m_is_toolbar_hidden);
  layout_table();
  m_table_view->setFocus(Qt::OtherFocusReason);
}

void ImageServiceSelectViewController::layout_table() {
  m_table_view->reloadData();
  const Size content{View::frame(m_table_view).size.width,
                     static_cast<float>(m_service_names.size() * kRowHeight)};
  View::setFrame(m_table_view, Rect(0, 0, content.width, content.height));
  // Centred in the part of the view below the toolbar.
  const float h = m_is_toolbar_hidden ? 0.0f : View::frame(m_tbr_main).size.height;
  const Rect viewFrame = View::frame(m_view.get());
  const Rect area(0, h, viewFrame.size.width, viewFrame.size.height - h);
  const float cx = area.origin.x + area.size.width / 2;
  const float cy = area.origin.y + area.size.height / 2;
  View::setFrame(m_table_view, Rect(cx - content.width / 2, cy - content.height / 2, content.width,
                                    content.height));
}

void ImageServiceSelectViewController::setIs_toolbar_hidden(bool hidden) {
  m_is_toolbar_hidden = hidden;
  if (m_tbr_main) View::setHidden(m_tbr_main, hidden);
}

bool ImageServiceSelectViewController::shouldAutorotateToInterfaceOrientation(
    int orientation) const {
  return orientation == 1;
}

int ImageServiceSelectViewController::numberOfSectionsInTableView(TableView*) { return 1; }

int ImageServiceSelectViewController::numberOfRowsInSection(TableView*, int) {
  return static_cast<int>(m_service_names.size());
}

std::shared_ptr<TableViewCell> ImageServiceSelectViewController::cellForRowAtIndexPath(
    TableView* tableView, const IndexPath& indexPath) {
  if (auto cell = tableView->dequeueReusableCellWithIdentifier(kCellIdentifier)) return cell;
  auto cell = std::make_shared<TableViewCell>(kCellIdentifier);
  const std::string& name = m_service_names.at(static_cast<std::size_t>(indexPath.row));
  const char* file = name == kMingle   ? "mingle_icon.png"
                     : name == kNatter ? "natter_icon.png"
                                       : "mail_icon.png";
  QImage icon = loadIcon(file);
  const float w = static_cast<float>(icon.width());
  const float h = static_cast<float>(icon.height());
  const float cellWidth = View::frame(tableView).size.width;
  cell->addImageView(icon, Rect((cellWidth - w) * 0.5f - 15, (kRowHeight - h) * 0.5f, w, h));
  return cell;
}

void ImageServiceSelectViewController::didSelectRowAtIndexPath(TableView* tableView,
                                                               const IndexPath& indexPath) {
  const std::string name = m_service_names.at(static_cast<std::size_t>(indexPath.row));
  if (name == kMingle) {
    on_mingle_touched();
  } else if (name == kNatter) {
    on_natter_touched();
  } else if (name == kMail) {
    on_mail_touched();
  }
  tableView->deselectRowAtIndexPath(indexPath, true);
}

void ImageServiceSelectViewController::on_cancel_touched() {
  if (m_delegate &&
      m_delegate->respondsToSelector(ImageServiceSelectViewControllerDelegate::kOnCancel))
    m_delegate->image_service_select_view_controller_on_cancel(this);
}

void ImageServiceSelectViewController::on_mail_touched() {
  if (m_delegate &&
      m_delegate->respondsToSelector(ImageServiceSelectViewControllerDelegate::kUploadImageByMail))
    m_delegate->upload_image_by_mail(this, m_image);
}

// ---- The progress alert ---------------------------------------------------

void ImageServiceSelectViewController::show_waiting_with_progress(bool with_progress) {
  if (m_alert_waiting) m_alert_waiting->dismissWithClickedButtonIndex(0, false);
  m_alert_waiting = AlertView::create("Uploading...", "\n ", nullptr, "");
  m_progress_texts.clear();

  auto* label = new QLabel;
  View::setFrame(label, Rect(12, 75, 260, 25));
  label->setText("");
  label->setObjectName("lbl_bytes_sent");
  label->setAlignment(Qt::AlignCenter);
  label->setStyleSheet("QLabel { background: rgba(255,255,255,0); color: rgba(255,255,255,255); }");
  m_lbl_bytes_sent = label;
  m_alert_waiting->addSubview(label);

  auto* bar = new ProgressView;
  bar->setObjectName("prg_uploading_indicator");
  View::setFrame(bar, Rect(12, 120, 260, 25));
  m_prg_uploading_indicator = bar;
  m_alert_waiting->addSubview(bar);

  auto* spinner = new ActivityIndicator;
  spinner->setObjectName("waiting_indicator");
  View::setFrame(spinner, with_progress ? Rect(242, 75, 30, 30) : Rect(121, 75, 30, 30));
  spinner->startAnimating();
  m_waiting_indicator = spinner;
  m_alert_waiting->addSubview(spinner);

  m_alert_waiting->setTranslation(0, 70);
  m_alert_waiting->show();

  label->setText("Preparing...");
  bar->setProgress(0);
  if (!with_progress) {
    View::setHidden(label, true);
    View::setHidden(bar, true);
  }
}

void ImageServiceSelectViewController::hide_waiting() {
  if (m_alert_waiting) m_alert_waiting->dismissWithClickedButtonIndex(0, true);
}

std::string ImageServiceSelectViewController::progressText(std::uint64_t sent,
                                                           std::uint64_t length) {
  if (sent == length) return "Finishing upload...";
  return std::to_string(sent / 1024) + " kb of " + std::to_string(length / 1024) + " kb";
}

void ImageServiceSelectViewController::setProgress(float fraction) {
  if (m_prg_uploading_indicator) m_prg_uploading_indicator->setProgress(fraction);
  const std::uint64_t length = m_image_length.load();
  const double product = static_cast<double>(length) * static_cast<double>(fraction);
  const std::uint64_t sent = product <= 0 ? 0 : static_cast<std::uint64_t>(std::llround(product));
  const std::string text = progressText(sent, length);
  if (m_lbl_bytes_sent) m_lbl_bytes_sent->setText(QString::fromStdString(text));
  if (m_progress_texts.empty() || m_progress_texts.back() != text) m_progress_texts.push_back(text);
}

void ImageServiceSelectViewController::requestFailed(HTTPRequest*) {
  AlertView::create(kNetFailMsgTitle, kNetFailMsgText, nullptr, "Dismiss")->show();
  hide_waiting();
}

}  // namespace glowsnap
