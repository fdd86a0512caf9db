#include "app/GlowsnapViewController.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "app/AboutView.h"
#include "app/BorderedImageView.h"
#include "app/ImageScrollView.h"
#include "engine/PostProcess.h"
#include "filters/FilterCatalogue.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Defaults.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"
#include "platform/qt/ActivityIndicator.h"
#include "platform/qt/Animation.h"
#include "platform/qt/ImageView.h"
#include "platform/qt/Pasteboard.h"
#include "platform/qt/PhotoAlbum.h"
#include "platform/qt/ProgressView.h"
#include "platform/qt/SegmentedControl.h"
#include "platform/qt/TableView.h"
#include "platform/qt/Toolbar.h"
#include "platform/qt/View.h"
#include "ui_GlowsnapViewController.h"

namespace glowsnap {
namespace {

constexpr const char* kNumRuns = "num_runs";
constexpr const char* kDoNotShowInfo = "do_not_show_info";
constexpr const char* kResolution = "resolution";

constexpr const char* kReviewRequest =
    "Dear friend! Thank you for using Glowsnap!\n\n We just want to note that we would really "
    "appreciate "
    "if you could write your review about Glowsnap in the app store. Your feedback is very "
    "important to us! "
    "\n Thanks in advance for your time! \n\n\n With profound respect, developers of Glowsnap :) ";
constexpr const char* kFirstTimeInfo =
    "Thanks for downloading Glowsnap!\n\n\nIf you experience a problem, try restarting your "
    "phone.\n"
    "This often helps out with graphics heavy apps like Glowsnap.";

// The handlers a button of the interface file may name in its "action".
using Handler = void (GlowsnapViewController::*)();
const std::map<std::string, Handler>& handlers() {
  static const std::map<std::string, Handler> table = {
      {"on_btn_help", &GlowsnapViewController::on_btn_help},
      {"on_btn_select_pp", &GlowsnapViewController::on_btn_select_pp},
      {"on_btn_select_pp_back", &GlowsnapViewController::on_btn_select_pp_back},
      {"on_btn_options", &GlowsnapViewController::on_btn_options},
      {"on_btn_back_from_options", &GlowsnapViewController::on_btn_back_from_options},
      {"on_btn_take_photo", &GlowsnapViewController::on_btn_take_photo},
      {"on_btn_import_from_library", &GlowsnapViewController::on_btn_import_from_library},
      {"on_btn_do_pp", &GlowsnapViewController::on_btn_do_pp},
      {"on_btn_show_image", &GlowsnapViewController::on_btn_show_image},
      {"on_btn_back_from_result", &GlowsnapViewController::on_btn_back_from_result},
      {"on_btn_set_as_current", &GlowsnapViewController::on_btn_set_as_current},
      {"on_btn_undo", &GlowsnapViewController::on_btn_undo},
      {"on_btn_save_result", &GlowsnapViewController::on_btn_save_result},
  };
  return table;
}

// The buttons a run in progress disables.
bool blockedWhileRunning(const std::string& action) {
  return action == "on_btn_do_pp" || action == "on_btn_select_pp" ||
         action == "on_btn_take_photo" || action == "on_btn_import_from_library" ||
         action == "on_btn_undo";
}

void showAlert(const std::string& title, const std::string& message, AlertViewDelegate* delegate,
               const std::string& cancel, const std::vector<std::string>& others = {}) {
  AlertView::create(title, message, delegate, cancel, others)->show();
}

}  // namespace

GlowsnapViewController::GlowsnapViewController(Defaults& settings) : m_settings(settings) {}

GlowsnapViewController::~GlowsnapViewController() {
  AlertView::forgetDelegate(this);
  ActionSheet::forgetDelegate(this);
  if (m_observing) {
    NotificationCenter::defaultCenter().removeObserver(m_progress_token);
    NotificationCenter::defaultCenter().removeObserver(m_end_token);
  }
  // A run still working waits for the main thread to take its notifications;
  // serve them (nobody observes any more) until the worker has finished.
  if (m_progress.joinable()) {
    while (m_worker_done && !m_worker_done->load()) {
      RunLoop::main().runInMode(RunLoop::kDefaultMode, 0.05, true);
    }
    m_progress.join();
  }
  m_alive.reset();
  if (m_result_iv) delete m_result_iv;
  if (m_outlets.m_waiting_view && !m_outlets.m_waiting_view->parentWidget())
    delete m_outlets.m_waiting_view;
}

QWidget* GlowsnapViewController::view() {
  if (!m_view) {
    loadView();
    viewDidLoad();
  }
  return m_view.get();
}

void GlowsnapViewController::loadView() {
  m_view = std::make_unique<QWidget>();
  Ui::GlowsnapViewController ui;
  ui.setupUi(m_view.get());
  m_outlets.m_iv = ui.m_iv;
  m_outlets.m_start_view = ui.m_start_view;
  m_outlets.m_v_result = ui.m_v_result;
  m_outlets.m_v_select_pp = ui.m_v_select_pp;
  m_outlets.m_options_view = ui.m_options_view;
  m_outlets.m_tv_select_pp = ui.m_tv_select_pp;
  m_outlets.m_label_cur_pp = ui.m_label_cur_pp;
  m_outlets.m_result_view = ui.m_result_view;
  m_outlets.m_result_sv = ui.m_result_sv;
  m_outlets.m_progress_label = ui.m_progress_label;
  m_outlets.m_progress_bar = ui.m_progress_bar;
  m_outlets.m_progress_indicator = ui.m_progress_indicator;
  m_outlets.m_options_sc = ui.m_options_sc;
  m_outlets.m_btn_set_as_current = ui.m_btn_set_as_current;
  m_outlets.m_toolbar_see_result = ui.m_toolbar_see_result;
  m_outlets.m_waiting_view = ui.m_waiting_view;
  connectActions();
}

void GlowsnapViewController::connectActions() {
  for (QAbstractButton* b : m_view->findChildren<QAbstractButton*>()) {
    const QVariant action = b->property("action");
    if (!action.isValid()) continue;
    auto it = handlers().find(action.toString().toStdString());
    if (it == handlers().end()) {
      std::cerr << "glowsnap-gui: button " << b->objectName().toStdString()
                << " names an unknown action " << action.toString().toStdString() << "\n";
      continue;
    }
    const Handler h = it->second;
    QObject::connect(b, &QAbstractButton::clicked, m_view.get(), [this, h] { (this->*h)(); });
  }
}

void GlowsnapViewController::viewDidLoad() {
  QWidget* v = m_view.get();
  Outlets& o = m_outlets;

  // 1, 2: per-image state and the filters, in catalogue order.
  m_n_pp_applied = 0;
  m_selected_pp = nullptr;
  remove_result_iv();
  m_pp = std::make_unique<FilterCatalogue>(this);

  // 3: the help page, below everything else.
  m_av = new AboutView("Glowsnap", "Version 1.6.0", 1, v);
  View::addSubview(v, m_av);

  // 4: the sliding views and the splash, in stacking order.
  for (QWidget* w :
       {o.m_options_view, o.m_v_select_pp, o.m_result_view, o.m_v_result, o.m_start_view}) {
    View::addSubview(v, w);
    View::bringSubviewToFront(v, w);
  }
  // The waiting view appears only while saving.
  View::removeFromSuperview(o.m_waiting_view);

  // 5: home positions: the filter list one height below, the result screen
  // one height above.
  Rect f = View::frame(o.m_v_select_pp);
  f.origin.y = f.size.height;
  View::setFrame(o.m_v_select_pp, f);
  f = View::frame(o.m_result_view);
  f.origin.y -= f.size.height;
  View::setFrame(o.m_result_view, f);

  // 6: the filter list.
  m_spp_vc = std::make_unique<SelectPostProcessVC>(this);
  m_spp_vc->setTable_view(o.m_tv_select_pp);
  o.m_tv_select_pp->setDelegate(m_spp_vc.get());
  o.m_tv_select_pp->setDataSource(m_spp_vc.get());
  o.m_tv_select_pp->reloadData();

  // 7: nothing selected, no progress.
  m_selected_pp = nullptr;
  o.m_label_cur_pp->setText("No filter selected");
  o.m_progress_label->setText("  ");
  View::setHidden(o.m_progress_bar, true);
  View::setHidden(o.m_progress_indicator, true);
  View::setHidden(o.m_progress_label, true);
  o.m_progress_bar->setProgress(0);

  // 8: the placeholder is shown but is not a current image.
  if (!o.m_iv->image()) {
    Result<ImageRef> placeholder = imageio::decodeFile(paths::resourcePath("nophoto.jpg"));
    if (placeholder.ok()) o.m_iv->setImage(placeholder.value());
  }

  // 9: the splash fades out and then lets clicks through.
  View::setAlpha(o.m_start_view, 1.0f);
  Animation::beginAnimations();
  Animation::setAnimationDuration(1.0);
  View::setAlpha(o.m_start_view, 0.0f);
  Animation::commitAnimations();

  // 10, 11: settings.
  const int index =
      m_settings.hasKey(kResolution) ? static_cast<int>(m_settings.integerForKey(kResolution)) : 2;
  const bool doNotShowInfo = m_settings.boolForKey(kDoNotShowInfo);
  m_settings.setBool(true, kDoNotShowInfo);
  o.m_options_sc->setSelectedSegmentIndex(index);
  for (const auto& pp : m_pp->filters()) pp->set_max_res(get_max_resolution());

  // 12 to 15.
  m_rotate_result_image = false;
  m_take_photo = false;
  if (!doNotShowInfo) show_first_time_info();
  show_ask_to_users();
  m_selected_pp = m_pp->filters().empty() ? nullptr : m_pp->filters().front().get();
  if (m_selected_pp) o.m_label_cur_pp->setText(QString::fromStdString(m_selected_pp->get_name()));
  m_rotate_result_image = true;
  m_settings.synchronize();
}

bool GlowsnapViewController::shouldAutorotateToInterfaceOrientation(int orientation) const {
  return orientation == Portrait;
}

void GlowsnapViewController::didReceiveMemoryWarning() {
  // With the camera open the picture being taken must survive; otherwise
  // there is nothing cached that could be dropped.
  if (m_take_photo) return;
}

void GlowsnapViewController::show_ask_to_users() {
  const std::int64_t n = m_settings.integerForKey(kNumRuns) + 1;
  m_settings.setInteger(n, kNumRuns);
  m_settings.synchronize();
  if (n == 30) showAlert("", kReviewRequest, this, "Ok");
}

void GlowsnapViewController::show_first_time_info() { showAlert("", kFirstTimeInfo, this, "Ok"); }

void GlowsnapViewController::clickedButtonAtIndex(AlertView*, int buttonIndex) {
  if (buttonIndex == 1) do_undo();
}

// ---- Slides -------------------------------------------------------------

void GlowsnapViewController::slide(QWidget* a, float ax, float ay, QWidget* b, float bx, float by) {
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.5);
  Rect fa = View::frame(a);
  fa.origin.x += ax;
  fa.origin.y += ay;
  View::setFrame(a, fa);
  Rect fb = View::frame(b);
  fb.origin.x += bx;
  fb.origin.y += by;
  View::setFrame(b, fb);
  Animation::commitAnimations();
}

void GlowsnapViewController::on_btn_help() { m_av->show(); }

void GlowsnapViewController::on_btn_select_pp() {
  const float h1 = View::frame(m_outlets.m_v_result).size.height;
  const float h2 = View::frame(m_outlets.m_v_select_pp).size.height;
  slide(m_outlets.m_v_result, 0, -h1, m_outlets.m_v_select_pp, 0, -h2);
}

void GlowsnapViewController::on_btn_select_pp_back() {
  const float h1 = View::frame(m_outlets.m_v_result).size.height;
  const float h2 = View::frame(m_outlets.m_v_select_pp).size.height;
  slide(m_outlets.m_v_result, 0, h1, m_outlets.m_v_select_pp, 0, h2);
}

void GlowsnapViewController::on_selected_pp(const std::string& name) {
  on_btn_select_pp_back();
  // The run in progress reads its result from the selected filter.
  if (m_running) return;
  m_selected_pp = get_pp_with_name(name);
  m_outlets.m_label_cur_pp->setText(QString::fromStdString(name));
}

void GlowsnapViewController::on_btn_options() {
  QWidget* opts = m_outlets.m_options_view;
  Rect f = View::frame(opts);
  f.origin.x = f.size.width;
  View::setFrame(opts, f);
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.5);
  f.origin.x = 0;
  View::setFrame(opts, f);
  Rect m = View::frame(m_outlets.m_v_result);
  m.origin.x = -m.size.width;
  View::setFrame(m_outlets.m_v_result, m);
  Animation::commitAnimations();
}

void GlowsnapViewController::on_btn_back_from_options() {
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.5);
  Rect f = View::frame(m_outlets.m_options_view);
  f.origin.x = f.size.width;
  View::setFrame(m_outlets.m_options_view, f);
  Rect m = View::frame(m_outlets.m_v_result);
  m.origin.x = 0;
  View::setFrame(m_outlets.m_v_result, m);
  Animation::commitAnimations();
  m_settings.setInteger(m_outlets.m_options_sc->selectedSegmentIndex(), kResolution);
  m_settings.synchronize();
  for (const auto& pp : m_pp->filters()) pp->set_max_res(get_max_resolution());
}

int GlowsnapViewController::get_max_resolution() const {
  return maxResolutionForSegment(
      m_outlets.m_options_sc ? m_outlets.m_options_sc->selectedSegmentIndex() : -1);
}

// ---- Acquiring a photo --------------------------------------------------

void GlowsnapViewController::on_btn_take_photo() {
  if (m_running) return;
  if (ImagePicker::isSourceTypeAvailable(ImagePicker::Camera)) {
    release_picker();
    m_picker = std::make_unique<ImagePicker>();
    m_picker->setSourceType(ImagePicker::Camera);
    m_picker->setAllowsImageEditing(false);
    m_picker->setDelegate(this);
    m_take_photo = true;
    m_picker->present(m_view.get());
  } else {
    showAlert("Sorry", "Photo camera is not available on this device.", this, "Ok");
  }
}

void GlowsnapViewController::on_btn_import_from_library() {
  if (m_running) return;
  if (!ImagePicker::isSourceTypeAvailable(ImagePicker::PhotoLibrary)) return;
  release_picker();
  m_picker = std::make_unique<ImagePicker>();
  m_picker->setSourceType(ImagePicker::PhotoLibrary);
  m_picker->setAllowsImageEditing(false);
  m_picker->setDelegate(this);
  m_take_photo = false;
  m_picker->present(m_view.get());
}

void GlowsnapViewController::didFinishPickingImage(ImagePicker* picker, ImageRef image,
                                                   const std::map<std::string, std::string>&) {
  if (m_running || !image) {
    if (picker) release_picker();
    return;
  }
  m_n_pp_applied = 0;
  View::setHidden(m_outlets.m_v_result, false);
  View::setHidden(m_outlets.m_v_select_pp, false);
  m_outlets.m_iv->setImage(image);
  setSelected_image(image);
  m_rotate_result_image = true;
  undo_save_image(image);
  if (picker) release_picker();
  m_take_photo = false;
}

void GlowsnapViewController::imagePickerControllerDidCancel(ImagePicker* picker) {
  if (picker) release_picker();
}

void GlowsnapViewController::didFailPickingImage(ImagePicker* picker, const Error& error) {
  if (picker) release_picker();
  showAlert("Cannot open photo", error.description, nullptr, "Ok");
}

void GlowsnapViewController::release_picker() {
  if (!m_picker) return;
  m_picker->dismiss();
  // The picker may be the caller of the delegate method that got here.
  ImagePicker* p = m_picker.release();
  QTimer::singleShot(0, [p] { delete p; });
}

bool GlowsnapViewController::openPhotoFile(const std::filesystem::path& path) {
  if (m_running) return false;
  Result<ImageRef> r = ImagePicker::imageFromFile(path);
  if (!r.ok()) {
    didFailPickingImage(nullptr, r.error());
    return false;
  }
  didFinishPickingImage(nullptr, r.value(), {});
  return true;
}

ImageRef GlowsnapViewController::scaleAndRotateImage(const ImageRef& image, float height,
                                                     float width) const {
  return glowsnap::scaleAndRotateImage(image, height, width);
}

// ---- The run ------------------------------------------------------------

void GlowsnapViewController::on_btn_do_pp() {
  if (m_running) return;
  if (!m_selected_pp || !m_selected_image) {
    showAlert("", "Please, select image and filter first. ", nullptr, "Ok");
    return;
  }
  Outlets& o = m_outlets;
  if (m_rotate_result_image) {
    ImageRef normalized = normalizeImage(m_selected_image, get_max_resolution());
    if (normalized) {
      o.m_iv->setImage(normalized);
      setSelected_image(normalized);
    }
    m_rotate_result_image = false;
  }
  remove_result_iv();

  o.m_progress_label->setText("Preparing...");
  o.m_progress_bar->setProgress(0);
  View::setHidden(o.m_progress_bar, false);
  View::setHidden(o.m_progress_indicator, false);
  View::setHidden(o.m_progress_label, false);
  o.m_progress_indicator->startAnimating();

  if (!m_observing) {
    NotificationCenter& nc = NotificationCenter::defaultCenter();
    m_progress_token = nc.addObserver(PostProcess::kProgressChangedNotification, nullptr,
                                      [this](const Notification& n) { update_progress(n); });
    m_end_token = nc.addObserver(PostProcess::kSearchEndNotification, nullptr,
                                 [this](const Notification& n) { process_done(n); });
    m_observing = true;
  }

  m_selected_pp->prepare(m_selected_image);

  // The previous worker has posted its last notification; let it end.
  if (m_progress.joinable()) m_progress.join();
  m_running = true;
  setBusy(true);
  m_result_before = m_selected_pp->get_result();
  const std::uint64_t serial = ++m_run_serial;
  auto done = std::make_shared<std::atomic<bool>>(false);
  m_worker_done = done;
  PostProcess* pp = m_selected_pp;
  std::weak_ptr<int> alive = m_alive;
  m_progress = std::thread([this, pp, done, alive, serial] {
    // A run that cannot make its working bitmap (or finds the pixel buffer
    // taken) posts nothing; without this the spinner would never stop.
    const bool ok = pp->process();
    if (!ok) {
      performOnMainThread(
          [this, alive, serial] {
            if (alive.lock() && serial == m_run_serial) run_failed();
          },
          false);
    }
    done->store(true);
  });

  ++m_n_pp_applied;

  Toolbar* bar = o.m_toolbar_see_result;
  QList<QWidget*> items = bar->items();
  if (items.value(2) != o.m_btn_set_as_current) {
    items.removeAll(o.m_btn_set_as_current);
    items.insert(std::min<qsizetype>(2, items.size()), o.m_btn_set_as_current);
    bar->setItems(items);
  }
}

void GlowsnapViewController::update_progress(const Notification& notification) {
  const std::string* text = std::any_cast<std::string>(&notification.object);
  float p = text ? std::strtof(text->c_str(), nullptr) / 100.0f : 0.0f;
  if (p > 1.0f) {
    p = 1.0f;
  } else if (p < 0.0f) {
    p = 0.0f;
  }
  m_outlets.m_progress_bar->setProgress(p);
  char label[64];
  std::snprintf(label, sizeof label, "Completed - %i %%", static_cast<int>(std::trunc(p * 100.0)));
  m_outlets.m_progress_label->setText(QString::fromUtf8(label));
}

void GlowsnapViewController::process_done(const Notification&) {
  // Only the end of this controller's run counts: its filter then holds a
  // result made by that run.
  if (!m_running) return;
  ImageRef result = m_selected_pp ? m_selected_pp->get_result() : nullptr;
  if (!result || result == m_result_before) return;
  m_result_before.reset();
  m_running = false;
  setBusy(false);
  m_outlets.m_progress_indicator->stopAnimating();
  remove_result_iv();
  m_result_iv = new ImageView(result);
  present_result();
}

void GlowsnapViewController::run_failed() {
  if (!m_running) return;
  Outlets& o = m_outlets;
  m_result_before.reset();
  m_running = false;
  setBusy(false);
  o.m_progress_indicator->stopAnimating();
  View::setHidden(o.m_progress_bar, true);
  View::setHidden(o.m_progress_indicator, true);
  View::setHidden(o.m_progress_label, true);
  showAlert("",
            "The filter could not run: there is not enough memory for a photo of this size. "
            "Choose a smaller resolution in Options and try again.",
            nullptr, "Ok");
}

void GlowsnapViewController::present_result() {
  Outlets& o = m_outlets;
  ImageView* iv = m_result_iv;
  const Rect screen(0, 0, 320, 480);
  iv->setFrame(screen);
  const Size shown = iv->image()->displaySize();
  if (shown.width > shown.height) {
    // A landscape picture fills the portrait screen turned a quarter turn.
    const AffineTransform t =
        AffineTransform::makeTranslation(0.5f * iv->frame().size.width - 80.0f, -100.0f)
            .rotated(static_cast<float>(M_PI_2));
    iv->setTransform(t);
    const Rect f = iv->frame();
    iv->setFrame(Rect(f.origin.x, f.origin.y, f.size.height, f.size.width));
  }
  iv->setUserInteractionEnabled(false);
  iv->setContentMode(ImageView::ScaleAspectFit);

  ImageScrollView* sv = o.m_result_sv;
  sv->setZoomScale(1.0f);
  sv->setContentOffset(Point{0, 0});
  sv->setContentSize(iv->frame().size);
  sv->setMaximumZoomScale(4.0f);
  sv->setMinimumZoomScale(1.0f);
  sv->setClipsToBounds(true);
  sv->setDelegate(this);
  sv->setBackgroundColor(Qt::black);
  sv->setBounces(true);
  sv->setBouncesZoom(false);
  sv->addSubview(iv);

  slide_result_in();

  View::setHidden(o.m_progress_bar, true);
  View::setHidden(o.m_progress_indicator, true);
  View::setHidden(o.m_progress_label, true);
}

void GlowsnapViewController::slide_result_in() {
  Rect r = View::frame(m_outlets.m_result_view);
  r.origin.y = -r.size.height;
  View::setFrame(m_outlets.m_result_view, r);
  Rect m = View::frame(m_outlets.m_v_result);
  m.origin.y = 0;
  View::setFrame(m_outlets.m_v_result, m);
  slide(m_outlets.m_v_result, 0, m.size.height, m_outlets.m_result_view, 0, r.size.height);
}

void GlowsnapViewController::remove_result_iv() {
  if (!m_result_iv) return;
  View::removeFromSuperview(m_result_iv);
  delete m_result_iv;
  m_result_iv = nullptr;
}

QWidget* GlowsnapViewController::viewForZoomingInScrollView(ScrollView*) { return m_result_iv; }

void GlowsnapViewController::setBusy(bool busy) {
  for (QAbstractButton* b : m_view->findChildren<QAbstractButton*>()) {
    const QVariant action = b->property("action");
    if (action.isValid() && blockedWhileRunning(action.toString().toStdString()))
      b->setEnabled(!busy);
  }
}

// ---- Result, undo and saving ---------------------------------------------

void GlowsnapViewController::on_btn_show_image() {
  if (!m_selected_image) return;
  remove_result_iv();
  if (m_rotate_result_image) {
    ImageRef normalized = normalizeImage(m_selected_image, get_max_resolution());
    if (normalized) {
      m_outlets.m_iv->setImage(normalized);
      setSelected_image(normalized);
    }
    m_rotate_result_image = false;
  }
  m_result_iv = new ImageView(m_outlets.m_iv->image());
  QList<QWidget*> items = m_outlets.m_toolbar_see_result->items();
  items.removeAll(m_outlets.m_btn_set_as_current);
  m_outlets.m_toolbar_see_result->setItems(items);
  present_result();
}

void GlowsnapViewController::on_btn_back_from_result() {
  const float h1 = View::frame(m_outlets.m_v_result).size.height;
  const float h2 = View::frame(m_outlets.m_result_view).size.height;
  slide(m_outlets.m_v_result, 0, -h1, m_outlets.m_result_view, 0, -h2);
}

void GlowsnapViewController::on_btn_set_as_current() {
  if (m_result_iv && m_result_iv->image()) {
    setSelected_image(m_result_iv->image());
    m_outlets.m_iv->setImage(m_result_iv->image());
  }
  on_btn_back_from_result();
}

void GlowsnapViewController::on_btn_undo() {
  if (m_running) return;
  if (m_n_pp_applied == 0) {
    showAlert("", "Nothing to undo.", this, "Ok");
  } else {
    showAlert("", "Are you sure you want to return to original image?\n\n", this, "No", {"Yes"});
  }
}

void GlowsnapViewController::do_undo() {
  if (m_running) return;
  ImageRef image = undo_get_image();
  if (!image) return;
  m_n_pp_applied = 0;
  m_outlets.m_iv->setImage(image);
  setSelected_image(image);
  m_rotate_result_image = false;
}

void GlowsnapViewController::undo_save_image(const ImageRef& image) {
  ImageRef normalized = normalizeImage(image, get_max_resolution());
  if (!normalized) return;
  Result<std::vector<std::uint8_t>> jpeg = imageio::encodeJpeg(*normalized, 0.95f);
  if (!jpeg.ok()) return;
  const std::filesystem::path path = undo_get_image_path();
  paths::ensureDirectory(path.parent_path());
  // A crash while writing must not leave a torn undo file behind.
  Status written = AtomicFile::writeAll(path, jpeg.value());
  if (!written.ok()) std::cerr << "glowsnap-gui: " << written.error().description << "\n";
}

ImageRef GlowsnapViewController::undo_get_image() const {
  Result<ImageRef> r = imageio::decodeFile(undo_get_image_path());
  return r.ok() ? r.value() : nullptr;
}

std::string GlowsnapViewController::undo_get_image_path() const {
  return paths::documentsDirectory().string() + "/undo0.jpg";
}

void GlowsnapViewController::on_btn_save_result() { save_result(); }

void GlowsnapViewController::save_result() {
  // Saving needs an image on the result screen.
  if (!get_image_to_save()) return;
  m_sheet_save_options = ActionSheet::create("Where to save image?", this, "Cancel", "",
                                             {"Saved Photos Album", "Upload", "Copy To Clipboard"});
  m_sheet_save_options->showInView(m_view.get());
}

ImageRef GlowsnapViewController::get_image_to_save() const {
  return m_result_iv ? m_result_iv->image() : nullptr;
}

void GlowsnapViewController::clickedButtonAtIndex(ActionSheet* actionSheet, int buttonIndex) {
  if (!m_sheet_save_options || actionSheet != m_sheet_save_options.get()) return;
  switch (buttonIndex) {
    case 0:
      write_to_saved_photos();
      break;
    case 1:
      // Upload: the sharing screen is wired separately.
      break;
    case 2:
      copy_to_clipboard();
      break;
    default:
      break;
  }
}

void GlowsnapViewController::write_to_saved_photos() {
  ImageRef image = get_image_to_save();
  if (!image) return;
  View::addSubview(m_view.get(), m_outlets.m_waiting_view);
  if (auto* spinner = m_outlets.m_waiting_view->findChild<ActivityIndicator*>())
    spinner->startAnimating();
  std::weak_ptr<int> alive = m_alive;
  PhotoAlbum::writeImageToSavedPhotosAlbum(
      image, [this, alive](ImageRef img, Result<std::filesystem::path> r) {
        if (!alive.lock()) return;
        didFinishSavingWithError(img, r.ok() ? nullptr : &r.error(), nullptr);
      });
}

void GlowsnapViewController::didFinishSavingWithError(const ImageRef&, const Error* error, void*) {
  if (error) {
    showAlert("", "Image could not be saved: " + error->description, nullptr, "Ok");
  } else {
    showAlert("", "Image saved to your photo albums", nullptr, "Ok");
  }
  View::removeFromSuperview(m_outlets.m_waiting_view);
}

void GlowsnapViewController::copy_to_clipboard() {
  ImageRef image = get_image_to_save();
  if (!image) return;
  View::addSubview(m_view.get(), m_outlets.m_waiting_view);
  if (auto* spinner = m_outlets.m_waiting_view->findChild<ActivityIndicator*>())
    spinner->startAnimating();
  std::weak_ptr<int> alive = m_alive;
  std::thread([this, image, alive] {
    copy_to_clipboard_in_background(image);
    // Back on the main thread, the controller is used only if it still exists.
    performOnMainThread(
        [this, alive] {
          if (alive.lock()) copy_to_clipboard_finished();
        },
        false);
  }).detach();
}

void GlowsnapViewController::copy_to_clipboard_in_background(const ImageRef& image) {
  Pasteboard::general().setImage(image);
}

void GlowsnapViewController::copy_to_clipboard_finished() {
  showAlert("", "Image has been copied to clipboard", nullptr, "", {"Ok"});
  View::removeFromSuperview(m_outlets.m_waiting_view);
}

// ---- The catalogue ----------------------------------------------------------

PostProcess* GlowsnapViewController::get_pp_with_name(const std::string& name) const {
  return m_pp ? m_pp->get_pp_with_name(name) : nullptr;
}

std::set<std::string> GlowsnapViewController::get_pp_names() const {
  return m_pp ? m_pp->get_pp_names() : std::set<std::string>{};
}

const std::vector<std::unique_ptr<PostProcess>>& GlowsnapViewController::filters() const {
  static const std::vector<std::unique_ptr<PostProcess>> none;
  return m_pp ? m_pp->filters() : none;
}

}  // namespace glowsnap
