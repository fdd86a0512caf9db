// GlowsnapViewController: the one screen of the application and everything
// on it. It owns the filters, the help page, the filter list and the result
// view; it picks photos, runs a filter on a worker thread with live progress,
// shows the result with zoom, stacks filters, restores the picked photo from
// the undo file and saves results to the album or the clipboard.
//
// Screen states. The controller is always in one ScreenState: resting on a
// screen (main, filter list, options, result, help) or in one of the moves
// between them (a 0.5 s slide, or the page turn of the help). go_to_screen
// is the one transition function; a move asked for while one is running is
// refused, so a double click can never start one twice. Only the screen at
// rest takes input: its views are the only ones shown (so Tab and clicks
// reach nothing off screen), each button is enabled only on its own screen,
// and while the user waits (a run, a photo being opened, a save) nothing is
// enabled at all. A modal screen laid over one of them (the sharing screen,
// say) is one more resting state with its own row in the move table.
//
// Layout and outlets come from the interface file GlowsnapViewController.ui;
// each button names its handler in its "action" property.
//
// Only one run may be in progress: while one is, starting another, choosing
// a filter, picking a photo and restoring the undo file are refused. Photos
// are read and prepared on a worker thread (PhotoLoader) while the waiting
// view shows; a photo that arrives while the user must wait is refused with
// an alert saying why, otherwise it becomes the current photo on the main
// screen, wherever the user was.
//
// The keyboard: Return applies the filter (or presses the focused button),
// Escape goes back, F1 opens the help, Ctrl+O the photo library, Ctrl+Z
// undoes; in the filter list the arrow keys and Return choose; on the result
// screen Ctrl+S saves to the album, Ctrl+C copies, and B held (or a long
// press on the picture) shows the photo the result was made from.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/MailComposeViewController.h"
#include "app/PhotoLoader.h"
#include "app/SelectPostProcessVC.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"
#include "platform/qt/ActionSheet.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/ImagePicker.h"
#include "platform/qt/ScrollView.h"
#include "sharing/ImageServiceSelectViewController.h"

class QAbstractButton;
class QEvent;
class QKeyEvent;
class QLabel;
class QToolButton;

namespace glowsnap {

class AboutView;
class ActivityIndicator;
class BorderedImageView;
class Defaults;
class FilterCatalogue;
class ImageScrollView;
class ImageView;
class PostProcess;
class ProgressView;
class SegmentedControl;
class TableView;
class Toolbar;

class GlowsnapViewController : public AlertViewDelegate,
                               public ActionSheetDelegate,
                               public ImagePickerControllerDelegate,
                               public ScrollViewDelegate,
                               public SelectPostProcessOwner,
                               public ImageServiceSelectViewControllerDelegate,
                               public MailComposeViewControllerDelegate {
 public:
  // The outlets of the interface file, by object name.
  struct Outlets {
    BorderedImageView* m_iv = nullptr;
    QWidget* m_start_view = nullptr;
    QWidget* m_v_result = nullptr;
    QWidget* m_v_select_pp = nullptr;
    QWidget* m_options_view = nullptr;
    TableView* m_tv_select_pp = nullptr;
    QLabel* m_label_cur_pp = nullptr;
    QWidget* m_result_view = nullptr;
    ImageScrollView* m_result_sv = nullptr;
    QLabel* m_progress_label = nullptr;
    ProgressView* m_progress_bar = nullptr;
    ActivityIndicator* m_progress_indicator = nullptr;
    SegmentedControl* m_options_sc = nullptr;
    QToolButton* m_btn_set_as_current = nullptr;
    Toolbar* m_toolbar_see_result = nullptr;
    QWidget* m_waiting_view = nullptr;
  };

  // Interface orientations, as the window may be asked about them.
  enum Orientation { Portrait = 1, PortraitUpsideDown = 2, LandscapeLeft = 3, LandscapeRight = 4 };

  // The screens at rest, then the moves between them.
  enum class ScreenState {
    Main,
    FilterList,
    Options,
    Result,
    Help,
    ToFilterList,
    FromFilterList,
    ToOptions,
    FromOptions,
    ToResult,
    FromResult,
    ToHelp,
    FromHelp,
  };
  static constexpr int kScreenStateCount = 13;
  static const char* screenStateName(ScreenState state);
  static bool isResting(ScreenState state) { return state <= ScreenState::Help; }

  // The longest bitmap side a picked photo is kept at: the largest maximum
  // working resolution, so nothing a run can use is lost.
  static constexpr int kWorkingSide = 2048;

  // settings: the store for "num_runs", "do_not_show_info" and "resolution".
  explicit GlowsnapViewController(Defaults& settings);
  ~GlowsnapViewController() override;
  GlowsnapViewController(const GlowsnapViewController&) = delete;
  GlowsnapViewController& operator=(const GlowsnapViewController&) = delete;

  // The controller's view; loads the interface file and runs viewDidLoad on
  // first use.
  QWidget* view();
  bool isViewLoaded() const { return m_view != nullptr; }
  void viewDidLoad();
  bool shouldAutorotateToInterfaceOrientation(int orientation) const;

  // The state machine.
  ScreenState screenState() const { return m_state; }
  bool isMoving() const { return !isResting(m_state); }
  // The one transition function: starts the move from the screen at rest to
  // to. False (nothing happens) during a move or for a move the table lacks.
  bool go_to_screen(ScreenState to);
  // Something keeps the user waiting: a run, a photo being opened, a save.
  bool isBusy() const;
  // Whether the controls of screen take input now.
  bool allowed(ScreenState screen) const;

  // The keyboard of the screens (see above); true when the key was used.
  bool handleKeyEvent(QKeyEvent* event);
  // The window became wider than tall, or stopped being: a landscape result
  // is shown upright in a wide window and turned in a tall one.
  void setWindowWide(bool wide);
  bool isWindowWide() const { return m_window_wide; }
  // Before and after: the result screen shows the photo the result was made
  // from, in the same place and zoom, while on is true.
  void setShowsOriginal(bool on);
  bool isShowingOriginal() const;
  void didReceiveMemoryWarning();
  void show_ask_to_users();
  void show_first_time_info();
  void clickedButtonAtIndex(AlertView* alertView, int buttonIndex) override;

  // Screens.
  void on_btn_help();
  void on_btn_select_pp();
  void on_btn_select_pp_back();
  void on_selected_pp(const std::string& name) override;
  void on_btn_options();
  void on_btn_back_from_options();
  int get_max_resolution() const;

  // Acquiring a photo.
  void on_btn_take_photo();
  void on_btn_import_from_library();
  void didFinishPickingImage(ImagePicker* picker, ImageRef image,
                             const std::map<std::string, std::string>& editingInfo) override;
  void imagePickerControllerDidCancel(ImagePicker* picker) override;
  void didFailPickingImage(ImagePicker* picker, const Error& error) override;
  bool didFinishPickingFile(ImagePicker* picker, const std::filesystem::path& file) override;
  ImageRef scaleAndRotateImage(const ImageRef& image, float height, float width) const;
  // A photo dropped on the window or named on the command line: picked like
  // one from the library, read on a worker thread. False (with an alert
  // saying why) when the user must wait for something first; a file that
  // cannot be read is reported by an alert when the reading ends.
  bool openPhotoFile(const std::filesystem::path& path);
  bool isLoadingPhoto() const { return m_loader.isLoading(); }
  // Why a photo cannot be taken now ("" when it can).
  std::string busy_reason() const;

  // The run.
  void on_btn_do_pp();
  void update_progress(const Notification& notification);
  void process_done(const Notification& notification);
  QWidget* viewForZoomingInScrollView(ScrollView* scrollView) override;
  void longPressBegan(ScrollView* scrollView) override;
  void longPressEnded(ScrollView* scrollView) override;
  bool isRunInProgress() const { return m_running; }

  // Result, undo and saving.
  void on_btn_show_image();
  void on_btn_back_from_result();
  void on_btn_set_as_current();
  void on_btn_undo();
  void do_undo();
  void undo_save_image(const ImageRef& image);
  ImageRef undo_get_image() const;
  std::string undo_get_image_path() const;
  void on_btn_save_result();
  void save_result();
  ImageRef get_image_to_save() const;
  void clickedButtonAtIndex(ActionSheet* actionSheet, int buttonIndex) override;
  void write_to_saved_photos();
  void didFinishSavingWithError(const ImageRef& image, const Error* error, void* contextInfo);
  void copy_to_clipboard();
  // Runs on its own short-lived thread and touches nothing of the controller.
  static void copy_to_clipboard_in_background(const ImageRef& image);
  void copy_to_clipboard_finished();
  bool isSaving() const { return m_saving; }

  // Sharing: "Upload" in the save sheet.
  // Whether the network can be reached without first bringing up a
  // connection (the reachability of 0.0.0.0).
  bool connectedToNetwork();
  // Presents the sharing screen with the image to save.
  void select_image_service();
  ImageServiceSelectViewController* image_service_select_vc() const {
    return m_image_service_select_vc.get();
  }
  // Replaces (and releases) the sharing screen kept.
  void setImage_service_select_vc(std::unique_ptr<ImageServiceSelectViewController> vc);
  // Whether the sharing screen is up (the screens below take no input).
  bool isSharing() const;
  bool respondsToSelector(const std::string& selector) const override;
  void image_service_select_view_controller_on_cancel(
      ImageServiceSelectViewController* controller) override;
  // Mail: a composer over the sharing screen with the image attached as
  // "image.jpg" (JPEG of quality 0.7); it closes itself when done and the
  // sharing screen is shown again.
  void upload_image_by_mail(ImageServiceSelectViewController* controller,
                            const ImageRef& image) override;
  void didFinishWithResult(MailComposeViewController* controller, MailComposeResult result,
                           const Error* error) override;
  MailComposeViewController* mail_composer() const { return m_mail_composer.get(); }

  // The catalogue.
  PostProcess* get_pp_with_name(const std::string& name) const;
  std::set<std::string> get_pp_names() const override;
  std::string current_pp_name() const override;

  // State, for the application and its tests.
  const Outlets& outlets() const { return m_outlets; }
  AboutView* aboutView() const { return m_av; }
  SelectPostProcessVC* selectPostProcessVC() const { return m_spp_vc.get(); }
  const ImageRef& selected_image() const { return m_selected_image; }
  void setSelected_image(ImageRef image) { m_selected_image = std::move(image); }
  PostProcess* selected_pp() const { return m_selected_pp; }
  const std::vector<std::unique_ptr<PostProcess>>& filters() const;
  ImageView* result_iv() const { return m_result_iv; }
  int n_pp_applied() const { return m_n_pp_applied; }
  bool rotate_result_image() const { return m_rotate_result_image; }
  bool take_photo() const { return m_take_photo; }
  const std::shared_ptr<ActionSheet>& sheet_save_options() const { return m_sheet_save_options; }
  ImagePicker* picker() const { return m_picker.get(); }
  // The photo the result on the result screen was made from (none after View).
  const ImageRef& result_source() const { return m_result_source; }

 private:
  void loadView();
  void connectActions();
  void update_controls();
  void settle(ScreenState at);
  void when_resting(std::function<void()> work);
  void show_views(std::initializer_list<QWidget*> views);
  void place_at_home();
  void store_options();
  void go_back();
  void reload_filter_list();
  void open_help();
  void open_library();
  bool load_photo(PhotoLoader::Request request);
  void photo_loaded(const Result<ImageRef>& photo);
  void show_waiting(const char* text);
  void hide_waiting();
  void present_result();
  void layout_result_iv();
  void remove_result_iv();
  void release_picker();
  void run_failed();
  void slide(QWidget* a, Rect fa, QWidget* b, Rect fb, std::function<void()> didStop);

  Defaults& m_settings;
  std::unique_ptr<ImageServiceSelectViewController> m_image_service_select_vc;
  std::unique_ptr<MailComposeViewController> m_mail_composer;
  std::unique_ptr<QWidget> m_view;
  Outlets m_outlets;
  AboutView* m_av = nullptr;
  ImageView* m_result_iv = nullptr;
  std::thread m_progress;
  std::shared_ptr<std::atomic<bool>> m_worker_done;
  std::unique_ptr<SelectPostProcessVC> m_spp_vc;
  std::unique_ptr<FilterCatalogue> m_pp;
  PostProcess* m_selected_pp = nullptr;
  ImageRef m_selected_image;
  bool m_take_photo = false;
  bool m_rotate_result_image = false;
  std::int32_t m_n_pp_applied = 0;
  std::shared_ptr<ActionSheet> m_sheet_save_options;
  std::unique_ptr<ImagePicker> m_picker;
  bool m_running = false;
  bool m_saving = false;
  ScreenState m_state = ScreenState::Main;
  ScreenState m_under_help = ScreenState::Main;  // the screen the help page lies over
  ScreenState m_move_to = ScreenState::Main;     // where the move in progress ends
  std::vector<std::function<void()>> m_when_resting;
  std::vector<std::pair<QAbstractButton*, ScreenState>> m_controls;
  QAbstractButton* m_help_back = nullptr;
  bool m_window_wide = false;
  ImageRef m_result_source;
  PhotoLoader m_loader;
  std::uint64_t m_run_serial = 0;
  ImageRef m_result_before;  // the filter's result before the run in progress
  bool m_observing = false;
  NotificationCenter::Token m_progress_token = 0;
  NotificationCenter::Token m_end_token = 0;
  // Work handed to the main thread later checks this first: the controller
  // may be gone by then.
  std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

}  // namespace glowsnap
