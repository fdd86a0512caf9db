#include "app/GlowsnapViewController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
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
#include "platform/foundation/Defaults.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/AffineTransform.h"
#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"
#include "platform/net/CredentialStorage.h"
#include "platform/net/ReachabilityHandle.h"
#include "platform/qt/ActivityIndicator.h"
#include "platform/qt/Animation.h"
#include "platform/qt/ImageView.h"
#include "platform/qt/ModalView.h"
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

constexpr const char* kLastPhotoFolder = "last_photo_folder";

using State = GlowsnapViewController::ScreenState;

constexpr const char* kScreenStateNames[GlowsnapViewController::kScreenStateCount] = {
    "main",           "filter list",      "options",    "result",       "help",
    "to filter list", "from filter list", "to options", "from options", "to result",
    "from result",    "to help",          "from help",
};

// The handlers a button of the interface file may name in its "action",
// with the screen whose button it is: it takes input there and nowhere else.
using Handler = void (GlowsnapViewController::*)();
struct Control {
  const char* action;
  Handler handler;
  State screen;
};
constexpr Control kControls[] = {
    {"on_btn_help", &GlowsnapViewController::on_btn_help, State::Main},
    {"on_btn_select_pp", &GlowsnapViewController::on_btn_select_pp, State::Main},
    {"on_btn_select_pp_back", &GlowsnapViewController::on_btn_select_pp_back, State::FilterList},
    {"on_btn_options", &GlowsnapViewController::on_btn_options, State::Main},
    {"on_btn_back_from_options", &GlowsnapViewController::on_btn_back_from_options, State::Options},
    {"on_btn_take_photo", &GlowsnapViewController::on_btn_take_photo, State::Main},
    {"on_btn_import_from_library", &GlowsnapViewController::on_btn_import_from_library,
     State::Main},
    {"on_btn_do_pp", &GlowsnapViewController::on_btn_do_pp, State::Main},
    {"on_btn_show_image", &GlowsnapViewController::on_btn_show_image, State::Main},
    {"on_btn_back_from_result", &GlowsnapViewController::on_btn_back_from_result, State::Result},
    {"on_btn_set_as_current", &GlowsnapViewController::on_btn_set_as_current, State::Result},
    {"on_btn_undo", &GlowsnapViewController::on_btn_undo, State::Main},
    {"on_btn_save_result", &GlowsnapViewController::on_btn_save_result, State::Result},
};

const Control* controlFor(const std::string& action) {
  for (const Control& c : kControls) {
    if (action == c.action) return &c;
  }
  return nullptr;
}

// The moves: from a screen at rest, through a move, to a screen at rest.
struct Move {
  State from, via, to;
};
constexpr Move kMoves[] = {
    {State::Main, State::ToFilterList, State::FilterList},
    {State::FilterList, State::FromFilterList, State::Main},
    {State::Main, State::ToOptions, State::Options},
    {State::Options, State::FromOptions, State::Main},
    {State::Main, State::ToResult, State::Result},
    {State::Result, State::FromResult, State::Main},
    // The help page lies over any screen and goes back to it (or, when a
    // new photo arrives, to the main screen).
    {State::Main, State::ToHelp, State::Help},
    {State::FilterList, State::ToHelp, State::Help},
    {State::Options, State::ToHelp, State::Help},
    {State::Result, State::ToHelp, State::Help},
    {State::Help, State::FromHelp, State::Main},
    {State::Help, State::FromHelp, State::FilterList},
    {State::Help, State::FromHelp, State::Options},
    {State::Help, State::FromHelp, State::Result},
};

void showAlert(const std::string& title, const std::string& message, AlertViewDelegate* delegate,
               const std::string& cancel, const std::vector<std::string>& others = {}) {
  AlertView::create(title, message, delegate, cancel, others)->show();
}

}  // namespace

GlowsnapViewController::GlowsnapViewController(Defaults& settings) : m_settings(settings) {}

GlowsnapViewController::~GlowsnapViewController() {
  // The composer and the sharing screen first: they end their work, and
  // their views leave ours.
  m_mail_composer.reset();
  m_image_service_select_vc.reset();
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
  // The badge over the photo a result was made from takes no clicks.
  ui.label_before->setAttribute(Qt::WA_TransparentForMouseEvents);
  connectActions();
}

void GlowsnapViewController::connectActions() {
  for (QAbstractButton* b : m_view->findChildren<QAbstractButton*>()) {
    const QVariant action = b->property("action");
    if (!action.isValid()) continue;
    const Control* c = controlFor(action.toString().toStdString());
    if (!c) {
      std::cerr << "glowsnap-gui: button " << b->objectName().toStdString()
                << " names an unknown action " << action.toString().toStdString() << "\n";
      continue;
    }
    const Handler h = c->handler;
    m_controls.emplace_back(b, c->screen);
    QObject::connect(b, &QAbstractButton::clicked, m_view.get(), [this, h] { (this->*h)(); });
  }
  // The keyboard of every screen passes through here on its way up.
  m_view->setFocusPolicy(Qt::StrongFocus);
  View::installEventHandler(m_view.get(), [this](QEvent* e) {
    if (e->type() != QEvent::KeyPress && e->type() != QEvent::KeyRelease) return false;
    return handleKeyEvent(static_cast<QKeyEvent*>(e));
  });
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

  // The desktop's additions: the file dialog opens where the last photo
  // came from; the help page's Back goes through the state machine; the
  // main screen is the only one shown.
  if (const auto folder = m_settings.stringForKey(kLastPhotoFolder))
    ImagePicker::setDirectory(*folder);
  m_av->setBackHandler([this] {
    if (allowed(ScreenState::Help)) go_to_screen(m_under_help);
  });
  m_help_back = m_av->findChild<QAbstractButton*>("btn_back");
  m_state = ScreenState::Main;
  show_views({o.m_v_result});
  update_controls();
  m_view->setFocus(Qt::OtherFocusReason);
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

// ---- The state machine ----------------------------------------------------

const char* GlowsnapViewController::screenStateName(ScreenState state) {
  const int i = static_cast<int>(state);
  return i >= 0 && i < kScreenStateCount ? kScreenStateNames[i] : "?";
}

bool GlowsnapViewController::isBusy() const {
  return m_running || m_saving || m_loader.isLoading();
}

bool GlowsnapViewController::allowed(ScreenState screen) const {
  return m_view && m_state == screen && !isBusy() && !isSharing();
}

bool GlowsnapViewController::go_to_screen(ScreenState to) {
  if (!m_view || isMoving()) return false;
  const ScreenState from = m_state;
  const Move* move = nullptr;
  for (const Move& m : kMoves) {
    if (m.from == from && m.to == to) move = &m;
  }
  // The help page goes back to what it lies over, or home.
  if (!move || (from == ScreenState::Help && to != m_under_help && to != ScreenState::Main))
    return false;

  Outlets& o = m_outlets;
  const Rect home = View::frame(o.m_v_result);
  const float w = home.size.width;
  const float h = View::frame(o.m_v_result).size.height;
  const auto at = [](QWidget* v, float x, float y) {
    Rect f = View::frame(v);
    f.origin = Point{x, y};
    return f;
  };
  m_state = move->via;
  m_move_to = to;
  std::weak_ptr<int> alive = m_alive;
  auto arrived = [this, alive, to] {
    if (alive.lock()) settle(to);
  };
  setShowsOriginal(false);
  update_controls();

  switch (move->via) {
    case ScreenState::ToFilterList: {
      // The list opens on the filter in use.
      reload_filter_list();
      show_views({o.m_v_result, o.m_v_select_pp});
      slide(o.m_v_result, at(o.m_v_result, 0, -h), o.m_v_select_pp, at(o.m_v_select_pp, 0, 0),
            arrived);
      break;
    }
    case ScreenState::FromFilterList:
      slide(o.m_v_result, at(o.m_v_result, 0, 0), o.m_v_select_pp, at(o.m_v_select_pp, 0, h),
            arrived);
      break;
    case ScreenState::ToOptions:
      View::setFrame(o.m_options_view, at(o.m_options_view, w, 0));
      show_views({o.m_v_result, o.m_options_view});
      slide(o.m_options_view, at(o.m_options_view, 0, 0), o.m_v_result, at(o.m_v_result, -w, 0),
            arrived);
      break;
    case ScreenState::FromOptions:
      slide(o.m_options_view, at(o.m_options_view, w, 0), o.m_v_result, at(o.m_v_result, 0, 0),
            arrived);
      store_options();
      break;
    case ScreenState::ToResult:
      View::setFrame(o.m_result_view, at(o.m_result_view, 0, -h));
      View::setFrame(o.m_v_result, at(o.m_v_result, 0, 0));
      show_views({o.m_v_result, o.m_result_view});
      slide(o.m_v_result, at(o.m_v_result, 0, h), o.m_result_view, at(o.m_result_view, 0, 0),
            arrived);
      break;
    case ScreenState::FromResult:
      slide(o.m_v_result, at(o.m_v_result, 0, 0), o.m_result_view, at(o.m_result_view, 0, -h),
            arrived);
      break;
    case ScreenState::ToHelp:
      m_under_help = from;
      m_av->show(arrived);
      break;
    case ScreenState::FromHelp:
      if (to != m_under_help) {
        // Straight home: the screens move there unseen, under the page.
        if (m_under_help == ScreenState::Options) store_options();
        place_at_home();
      }
      show_views({to == ScreenState::Main         ? o.m_v_result
                  : to == ScreenState::FilterList ? o.m_v_select_pp
                  : to == ScreenState::Options    ? o.m_options_view
                                                  : o.m_result_view});
      m_av->on_btn_back(arrived);
      break;
    default:
      break;
  }
  return true;
}

void GlowsnapViewController::settle(ScreenState at) {
  Outlets& o = m_outlets;
  m_state = at;
  m_move_to = at;
  switch (at) {
    case ScreenState::Main:
      show_views({o.m_v_result});
      break;
    case ScreenState::FilterList:
      show_views({o.m_v_select_pp});
      break;
    case ScreenState::Options:
      show_views({o.m_options_view});
      break;
    case ScreenState::Result:
      show_views({o.m_result_view});
      break;
    default:
      show_views({});  // the help page covers everything
      break;
  }
  update_controls();
  // The keyboard goes to the screen now shown.
  if (at == ScreenState::FilterList) {
    o.m_tv_select_pp->setFocus(Qt::OtherFocusReason);
  } else {
    m_view->setFocus(Qt::OtherFocusReason);
  }
  std::vector<std::function<void()>> work;
  work.swap(m_when_resting);
  for (auto& w : work) w();
}

void GlowsnapViewController::when_resting(std::function<void()> work) {
  if (isMoving()) {
    m_when_resting.push_back(std::move(work));
  } else {
    work();
  }
}

void GlowsnapViewController::show_views(std::initializer_list<QWidget*> views) {
  const Outlets& o = m_outlets;
  for (QWidget* v : {o.m_v_result, o.m_v_select_pp, o.m_options_view, o.m_result_view}) {
    const bool shown = std::find(views.begin(), views.end(), v) != views.end();
    if (View::isHidden(v) == shown) View::setHidden(v, !shown);
  }
}

void GlowsnapViewController::place_at_home() {
  const Outlets& o = m_outlets;
  for (QWidget* v : {o.m_v_result, o.m_v_select_pp, o.m_options_view, o.m_result_view}) {
    Rect f = View::frame(v);
    f.origin =
        Point{v == o.m_options_view ? f.size.width : 0.0f, v == o.m_v_select_pp   ? f.size.height
                                                           : v == o.m_result_view ? -f.size.height
                                                                                  : 0.0f};
    View::setFrame(v, f);
  }
}

void GlowsnapViewController::update_controls() {
  if (!m_view) return;
  // During a move the controls of the screen coming in already look as they
  // will; nothing takes input until it has arrived.
  const ScreenState screen = isMoving() ? m_move_to : m_state;
  const bool idle = !isBusy() && !isSharing();
  for (const auto& [button, home] : m_controls) button->setEnabled(idle && home == screen);
  m_outlets.m_tv_select_pp->setEnabled(idle && screen == ScreenState::FilterList);
  m_outlets.m_options_sc->setEnabled(idle && screen == ScreenState::Options);
  if (m_help_back) m_help_back->setEnabled(idle && screen == ScreenState::Help);
  m_view->setAttribute(Qt::WA_TransparentForMouseEvents, isMoving());
}

// ---- Slides -------------------------------------------------------------

void GlowsnapViewController::slide(QWidget* a, Rect fa, QWidget* b, Rect fb,
                                   std::function<void()> didStop) {
  Animation::beginAnimations();
  Animation::setAnimationDuration(0.5);
  Animation::setAnimationDidStop(std::move(didStop));
  View::setFrame(a, fa);
  View::setFrame(b, fb);
  Animation::commitAnimations();
}

void GlowsnapViewController::on_btn_help() {
  if (allowed(ScreenState::Main)) go_to_screen(ScreenState::Help);
}

void GlowsnapViewController::open_help() {
  if (!isMoving() && !isBusy() && m_state != ScreenState::Help) go_to_screen(ScreenState::Help);
}

void GlowsnapViewController::on_btn_select_pp() {
  if (allowed(ScreenState::Main)) go_to_screen(ScreenState::FilterList);
}

void GlowsnapViewController::on_btn_select_pp_back() {
  if (allowed(ScreenState::FilterList)) go_to_screen(ScreenState::Main);
}

void GlowsnapViewController::on_selected_pp(const std::string& name) {
  // The run in progress reads its result from the selected filter, so the
  // choice waits for no one: outside the open list it is refused.
  if (!allowed(ScreenState::FilterList)) return;
  go_to_screen(ScreenState::Main);
  m_selected_pp = get_pp_with_name(name);
  m_outlets.m_label_cur_pp->setText(QString::fromStdString(name));
  m_outlets.m_tv_select_pp->reloadData();
}

void GlowsnapViewController::reload_filter_list() {
  TableView* table = m_outlets.m_tv_select_pp;
  table->reloadData();
  table->setCursorIndexPath(m_spp_vc->indexPathForName(current_pp_name()));
}

void GlowsnapViewController::on_btn_options() {
  if (allowed(ScreenState::Main)) go_to_screen(ScreenState::Options);
}

void GlowsnapViewController::on_btn_back_from_options() {
  if (allowed(ScreenState::Options)) go_to_screen(ScreenState::Main);
}

void GlowsnapViewController::store_options() {
  m_settings.setInteger(m_outlets.m_options_sc->selectedSegmentIndex(), kResolution);
  m_settings.synchronize();
  for (const auto& pp : m_pp->filters()) pp->set_max_res(get_max_resolution());
}

void GlowsnapViewController::go_back() {
  switch (m_state) {
    case ScreenState::FilterList:
      on_btn_select_pp_back();
      break;
    case ScreenState::Options:
      on_btn_back_from_options();
      break;
    case ScreenState::Result:
      on_btn_back_from_result();
      break;
    case ScreenState::Help:
      if (allowed(ScreenState::Help)) go_to_screen(m_under_help);
      break;
    default:
      break;
  }
}

int GlowsnapViewController::get_max_resolution() const {
  return maxResolutionForSegment(
      m_outlets.m_options_sc ? m_outlets.m_options_sc->selectedSegmentIndex() : -1);
}

// ---- The keyboard -------------------------------------------------------

bool GlowsnapViewController::handleKeyEvent(QKeyEvent* event) {
  // The sharing screen has the keyboard while it is up.
  if (!m_view || isSharing()) return false;
  const int key = event->key();
  const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                           Qt::AltModifier | Qt::MetaModifier);
  const bool plain = mods == Qt::NoModifier || mods == Qt::KeypadModifier;
  const bool ctrl = mods == Qt::ControlModifier;
  if (event->type() == QEvent::KeyRelease) {
    if (key == Qt::Key_B && !event->isAutoRepeat() && isShowingOriginal()) {
      setShowsOriginal(false);
      return true;
    }
    return false;
  }
  // An alert or a sheet on screen has the keyboard.
  if (!AlertView::visibleAlerts().empty() || !ActionSheet::visibleSheets().empty()) return false;

  const bool ours =
      (plain && (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter ||
                 key == Qt::Key_F1 || key == Qt::Key_B)) ||
      (ctrl && (key == Qt::Key_O || key == Qt::Key_S || key == Qt::Key_C || key == Qt::Key_Z));
  const bool cursorKey =
      plain && (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Home ||
                key == Qt::Key_End || key == Qt::Key_PageUp || key == Qt::Key_PageDown);
  if (!ours && !cursorKey) return false;
  // Held keys do not repeat an action; nothing acts during a move or a wait.
  if (event->isAutoRepeat() && !cursorKey) return true;
  if (isMoving() || isBusy()) return ours;

  const ScreenState s = m_state;
  if (cursorKey) {
    if (s != ScreenState::FilterList) return false;
    m_outlets.m_tv_select_pp->setFocus(Qt::OtherFocusReason);
    return m_outlets.m_tv_select_pp->handleKey(key);
  }
  if (ctrl) {
    switch (key) {
      case Qt::Key_O:
        open_library();
        break;
      case Qt::Key_S:
        if (s == ScreenState::Result) write_to_saved_photos();
        break;
      case Qt::Key_C:
        if (s == ScreenState::Result) copy_to_clipboard();
        break;
      case Qt::Key_Z:
        if (s == ScreenState::Main) on_btn_undo();
        break;
      default:
        break;
    }
    return true;
  }
  switch (key) {
    case Qt::Key_Escape:
      go_back();
      return true;
    case Qt::Key_F1:
      open_help();
      return true;
    case Qt::Key_B:
      if (s != ScreenState::Result) return false;
      setShowsOriginal(true);
      return true;
    default:  // Return, Enter
      if (s == ScreenState::Main) {
        // The focused button, as in a dialog; otherwise Apply.
        auto* focused = qobject_cast<QAbstractButton*>(m_view->window()->focusWidget());
        const bool ownButton = focused && focused->isEnabled() && focused->isVisible() &&
                               std::any_of(m_controls.begin(), m_controls.end(),
                                           [focused](const auto& c) { return c.first == focused; });
        if (ownButton) {
          focused->click();
        } else {
          on_btn_do_pp();
        }
        return true;
      }
      if (s == ScreenState::FilterList) return m_outlets.m_tv_select_pp->handleKey(key);
      return false;
  }
}

// ---- Acquiring a photo --------------------------------------------------

void GlowsnapViewController::on_btn_take_photo() {
  if (!allowed(ScreenState::Main)) return;
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
  if (allowed(ScreenState::Main)) open_library();
}

void GlowsnapViewController::open_library() {
  if (!m_view || isMoving() || isBusy()) return;
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
  if (picker) release_picker();
  if (!image) return;
  PhotoLoader::Request request;
  request.image = std::move(image);
  load_photo(std::move(request));
}

bool GlowsnapViewController::didFinishPickingFile(ImagePicker* picker,
                                                  const std::filesystem::path& file) {
  if (picker) release_picker();
  m_settings.setString(ImagePicker::directory().string(), kLastPhotoFolder);
  m_settings.synchronize();
  openPhotoFile(file);
  return true;
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
  PhotoLoader::Request request;
  request.file = path;
  return load_photo(std::move(request));
}

std::string GlowsnapViewController::busy_reason() const {
  if (m_running)
    return "A filter is being applied. Please wait until it has finished, then try again.";
  if (m_loader.isLoading())
    return "Another photo is still being opened. Please wait a moment, then try again.";
  if (m_saving) return "The image is still being saved. Please wait a moment, then try again.";
  if (isSharing()) return "The image is being shared. Close the sharing screen, then try again.";
  return "";
}

bool GlowsnapViewController::load_photo(PhotoLoader::Request request) {
  if (!m_view) return false;
  if (const std::string why = busy_reason(); !why.empty()) {
    showAlert("The photo was not opened", why, nullptr, "Ok");
    return false;
  }
  release_picker();
  // A save offered for the result on screen no longer applies.
  if (m_sheet_save_options && m_sheet_save_options->isVisible())
    m_sheet_save_options->dismissWithClickedButtonIndex(m_sheet_save_options->cancelButtonIndex());
  request.workingSide = kWorkingSide;
  request.maxResolution = get_max_resolution();
  request.undoFile = undo_get_image_path();
  std::weak_ptr<int> alive = m_alive;
  if (!m_loader.load(std::move(request), [this, alive](Result<ImageRef> photo) {
        if (alive.lock()) photo_loaded(photo);
      }))
    return false;
  show_waiting("Opening photo...");
  update_controls();
  return true;
}

void GlowsnapViewController::photo_loaded(const Result<ImageRef>& photo) {
  hide_waiting();
  update_controls();
  if (!photo.ok()) {
    showAlert("Cannot open photo", photo.error().description, nullptr, "Ok");
    return;
  }
  // The picked photo becomes the current one (its undo file is written).
  m_n_pp_applied = 0;
  m_outlets.m_iv->setImage(photo.value());
  setSelected_image(photo.value());
  m_rotate_result_image = true;
  m_take_photo = false;
  // A result on the result screen was made from the photo before.
  remove_result_iv();
  m_result_source.reset();
  when_resting([this] { go_to_screen(ScreenState::Main); });
}

ImageRef GlowsnapViewController::scaleAndRotateImage(const ImageRef& image, float height,
                                                     float width) const {
  return glowsnap::scaleAndRotateImage(image, height, width);
}

void GlowsnapViewController::show_waiting(const char* text) {
  QWidget* w = m_outlets.m_waiting_view;
  if (auto* label = w->findChild<QLabel*>("waiting_label")) label->setText(text);
  View::addSubview(m_view.get(), w);
  if (auto* spinner = w->findChild<ActivityIndicator*>()) spinner->startAnimating();
}

void GlowsnapViewController::hide_waiting() {
  QWidget* w = m_outlets.m_waiting_view;
  if (auto* spinner = w->findChild<ActivityIndicator*>()) spinner->stopAnimating();
  View::removeFromSuperview(w);
}

// ---- The run ------------------------------------------------------------

void GlowsnapViewController::on_btn_do_pp() {
  if (!allowed(ScreenState::Main)) return;
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
  m_result_source = m_selected_image;

  // The previous worker has posted its last notification; let it end.
  if (m_progress.joinable()) m_progress.join();
  m_running = true;
  update_controls();
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
  update_controls();
  m_outlets.m_progress_indicator->stopAnimating();
  remove_result_iv();
  m_result_iv = new ImageView(result);
  present_result();
}

void GlowsnapViewController::run_failed() {
  if (!m_running) return;
  Outlets& o = m_outlets;
  m_result_before.reset();
  m_result_source.reset();
  m_running = false;
  update_controls();
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
  layout_result_iv();
  m_result_iv->setUserInteractionEnabled(false);
  m_result_iv->setContentMode(ImageView::ScaleAspectFit);

  ImageScrollView* sv = o.m_result_sv;
  sv->setMaximumZoomScale(4.0f);
  sv->setMinimumZoomScale(1.0f);
  sv->setClipsToBounds(true);
  sv->setDelegate(this);
  sv->setBackgroundColor(Qt::black);
  sv->setBounces(true);
  sv->setBouncesZoom(false);
  sv->addSubview(m_result_iv);

  when_resting([this] { go_to_screen(ScreenState::Result); });

  View::setHidden(o.m_progress_bar, true);
  View::setHidden(o.m_progress_indicator, true);
  View::setHidden(o.m_progress_label, true);
}

void GlowsnapViewController::layout_result_iv() {
  ImageView* iv = m_result_iv;
  if (!iv || !iv->image()) return;
  // The picture fills the scroll view, which ends where the toolbar begins.
  ImageScrollView* sv = m_outlets.m_result_sv;
  const Rect area(0, 0, View::frame(sv).size.width, View::frame(sv).size.height);
  iv->setTransform(AffineTransform::identity());
  iv->setFrame(area);
  const Size shown = iv->image()->displaySize();
  if (shown.width > shown.height && !m_window_wide) {
    // In a tall window a landscape picture is turned a quarter turn, so it
    // fills the portrait screen; a wide window shows it upright.
    const AffineTransform t =
        AffineTransform::makeTranslation(0.5f * iv->frame().size.width - 80.0f, -100.0f)
            .rotated(static_cast<float>(M_PI_2));
    iv->setTransform(t);
    iv->setFrame(area);
  }
  sv->setZoomScale(1.0f);
  sv->setContentOffset(Point{0, 0});
  sv->setContentSize(iv->frame().size);
}

void GlowsnapViewController::setWindowWide(bool wide) {
  if (wide == m_window_wide) return;
  m_window_wide = wide;
  layout_result_iv();
}

void GlowsnapViewController::setShowsOriginal(bool on) {
  if (!m_result_iv) return;
  const bool can = on && m_state == ScreenState::Result && m_result_source;
  m_result_iv->setAlternateImage(can ? m_result_source : nullptr);
  if (auto* badge = m_view->findChild<QLabel*>("label_before")) {
    View::setHidden(badge, !can);
    if (can) badge->raise();
  }
}

bool GlowsnapViewController::isShowingOriginal() const {
  return m_result_iv && m_result_iv->alternateImage() != nullptr;
}

void GlowsnapViewController::longPressBegan(ScrollView*) { setShowsOriginal(true); }

void GlowsnapViewController::longPressEnded(ScrollView*) { setShowsOriginal(false); }

void GlowsnapViewController::remove_result_iv() {
  if (!m_result_iv) return;
  setShowsOriginal(false);
  View::removeFromSuperview(m_result_iv);
  delete m_result_iv;
  m_result_iv = nullptr;
}

QWidget* GlowsnapViewController::viewForZoomingInScrollView(ScrollView*) { return m_result_iv; }

// ---- Result, undo and saving ---------------------------------------------

void GlowsnapViewController::on_btn_show_image() {
  if (!allowed(ScreenState::Main) || !m_selected_image) return;
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
  m_result_source.reset();  // nothing to compare it with
  QList<QWidget*> items = m_outlets.m_toolbar_see_result->items();
  items.removeAll(m_outlets.m_btn_set_as_current);
  m_outlets.m_toolbar_see_result->setItems(items);
  present_result();
}

void GlowsnapViewController::on_btn_back_from_result() {
  if (allowed(ScreenState::Result)) go_to_screen(ScreenState::Main);
}

void GlowsnapViewController::on_btn_set_as_current() {
  if (!allowed(ScreenState::Result)) return;
  if (m_result_iv && m_result_iv->image()) {
    setSelected_image(m_result_iv->image());
    m_outlets.m_iv->setImage(m_result_iv->image());
  }
  on_btn_back_from_result();
}

void GlowsnapViewController::on_btn_undo() {
  if (!allowed(ScreenState::Main)) return;
  if (m_n_pp_applied == 0) {
    showAlert("", "Nothing to undo.", this, "Ok");
  } else {
    showAlert("", "Are you sure you want to return to original image?\n\n", this, "No", {"Yes"});
  }
}

void GlowsnapViewController::do_undo() {
  if (!allowed(ScreenState::Main)) return;
  ImageRef image = undo_get_image();
  if (!image) return;
  m_n_pp_applied = 0;
  m_outlets.m_iv->setImage(image);
  setSelected_image(image);
  m_rotate_result_image = false;
}

void GlowsnapViewController::undo_save_image(const ImageRef& image) {
  const Status written = writeUndoFile(image, get_max_resolution(), undo_get_image_path());
  if (!written.ok()) std::cerr << "glowsnap-gui: " << written.error().description << "\n";
}

ImageRef GlowsnapViewController::undo_get_image() const {
  Result<ImageRef> r = imageio::decodeFile(undo_get_image_path());
  return r.ok() ? r.value() : nullptr;
}

std::string GlowsnapViewController::undo_get_image_path() const {
  return paths::documentsDirectory().string() + "/undo0.jpg";
}

void GlowsnapViewController::on_btn_save_result() {
  if (allowed(ScreenState::Result)) save_result();
}

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
      if (connectedToNetwork()) {
        select_image_service();
      } else {
        showAlert("Network is not available", "Please, try again later", nullptr, "Dismiss");
      }
      break;
    case 2:
      copy_to_clipboard();
      break;
    default:
      break;
  }
}

// ---- Sharing ---------------------------------------------------------------

bool GlowsnapViewController::connectedToNetwork() {
  sockaddr_in zeroAddress{};
  zeroAddress.sin_family = AF_INET;  // 0.0.0.0: the default route
  auto factory = ReachabilityHandleFactory::current();
  std::shared_ptr<ReachabilityHandle> reachability =
      factory ? factory->createWithAddress(zeroAddress) : nullptr;
  std::optional<ReachabilityFlags> flags = reachability ? reachability->flags() : std::nullopt;
  if (!flags) {
    std::printf("Error. Could not recover network reachability flags\n");
    std::fflush(stdout);
    return false;
  }
  const bool reachable = (*flags & kReachabilityFlagsReachable) != 0;
  const bool needsConnection = (*flags & kReachabilityFlagsConnectionRequired) != 0;
  return reachable && !needsConnection;
}

void GlowsnapViewController::select_image_service() {
  if (!m_view || isSharing() || !get_image_to_save()) return;
  auto vc = std::make_unique<ImageServiceSelectViewController>(
      "ImageServiceSelectViewController",
      AppSettings(m_settings, &CredentialStorage::sharedCredentialStorage()));
  vc->setIs_toolbar_hidden(false);
  vc->setImage(get_image_to_save());
  vc->setDelegate(this);
  QWidget* screen = vc->view();
  setImage_service_select_vc(std::move(vc));
  setShowsOriginal(false);
  ModalView::present(m_view.get(), screen, true);
  update_controls();
}

void GlowsnapViewController::setImage_service_select_vc(
    std::unique_ptr<ImageServiceSelectViewController> vc) {
  // A composer lies in the old screen's view; it goes first.
  m_mail_composer.reset();
  m_image_service_select_vc = std::move(vc);
}

bool GlowsnapViewController::isSharing() const {
  return m_image_service_select_vc &&
         ModalView::isPresented(m_image_service_select_vc->viewIfLoaded());
}

bool GlowsnapViewController::respondsToSelector(const std::string& selector) const {
  return selector == kOnCancel || selector == kUploadImageByMail;
}

void GlowsnapViewController::image_service_select_view_controller_on_cancel(
    ImageServiceSelectViewController* controller) {
  if (!controller || controller != m_image_service_select_vc.get()) return;
  std::weak_ptr<int> alive = m_alive;
  ModalView::dismiss(controller->view(), true, [this, alive] {
    if (!alive.lock()) return;
    update_controls();
    if (m_view) m_view->setFocus(Qt::OtherFocusReason);
  });
  update_controls();
}

void GlowsnapViewController::upload_image_by_mail(ImageServiceSelectViewController* controller,
                                                  const ImageRef& image) {
  if (!controller || !image || m_mail_composer) return;
  auto jpeg = imageio::encodeJpeg(*image, 0.7f);
  if (!jpeg) {
    showAlert("", "The image could not be attached: " + jpeg.error().description, nullptr, "Ok");
    return;
  }
  auto composer = std::make_unique<MailComposeViewController>();
  composer->setMailComposeDelegate(this);
  composer->addAttachmentData(std::move(*jpeg), "image/jpeg", "image.jpg");
  AppSettings settings(m_settings, &CredentialStorage::sharedCredentialStorage());
  if (auto url = settings.text(AppSettings::kSMTPURL)) {
    SMTPConfiguration smtp;
    smtp.url = *url;
    smtp.username = settings.text(AppSettings::kSMTPUsername);
    if (smtp.username && !smtp.username->empty())
      smtp.password = settings.secret(AppSettings::kSMTPPassword);
    smtp.from = settings.text(AppSettings::kMailFrom).value_or("");
    composer->setSMTPConfiguration(smtp);
  }
  m_mail_composer = std::move(composer);
  ModalView::present(controller->view(), m_mail_composer->view(), true);
}

void GlowsnapViewController::didFinishWithResult(MailComposeViewController* controller,
                                                 MailComposeResult, const Error*) {
  if (!controller || controller != m_mail_composer.get()) return;
  // The composer is still on the stack: it goes once it has slid away and
  // this call has returned.
  std::weak_ptr<int> alive = m_alive;
  ModalView::dismiss(controller->view(), true, [this, alive, controller] {
    performOnMainThread(
        [this, alive, controller] {
          if (!alive.lock() || m_mail_composer.get() != controller) return;
          m_mail_composer.reset();
          if (m_image_service_select_vc && m_image_service_select_vc->viewIfLoaded())
            m_image_service_select_vc->table_view()->setFocus(Qt::OtherFocusReason);
        },
        false);
  });
}

void GlowsnapViewController::write_to_saved_photos() {
  ImageRef image = get_image_to_save();
  if (!image || !allowed(ScreenState::Result)) return;
  m_saving = true;
  show_waiting("Saving...");
  update_controls();
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
  m_saving = false;
  hide_waiting();
  update_controls();
}

void GlowsnapViewController::copy_to_clipboard() {
  ImageRef image = get_image_to_save();
  if (!image || !allowed(ScreenState::Result)) return;
  m_saving = true;
  show_waiting("Copying...");
  update_controls();
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
  m_saving = false;
  hide_waiting();
  update_controls();
}

// ---- The catalogue ----------------------------------------------------------

PostProcess* GlowsnapViewController::get_pp_with_name(const std::string& name) const {
  return m_pp ? m_pp->get_pp_with_name(name) : nullptr;
}

std::set<std::string> GlowsnapViewController::get_pp_names() const {
  return m_pp ? m_pp->get_pp_names() : std::set<std::string>{};
}

std::string GlowsnapViewController::current_pp_name() const {
  return m_selected_pp ? m_selected_pp->get_name() : std::string();
}

const std::vector<std::unique_ptr<PostProcess>>& GlowsnapViewController::filters() const {
  static const std::vector<std::unique_ptr<PostProcess>> none;
  return m_pp ? m_pp->filters() : none;
}

}  // namespace glowsnap
