// GlowsnapViewController: the one screen of the application and everything
// on it. It owns the filters, the help page, the filter list and the result
// view; it picks photos, runs a filter on a worker thread with live progress,
// shows the result with zoom, stacks filters, restores the picked photo from
// the undo file and saves results to the album or the clipboard.
//
// The screen states (main, filter selection, options, result, help) are the
// positions of its sliding views; every move is a 0.5 s animation block
// relative to the views' current frames. Layout and outlets come from the
// interface file GlowsnapViewController.ui; each button names its handler in
// its "action" property.
//
// Only one run may be in progress: while one is, starting another, choosing
// a filter, picking a photo and restoring the undo file are refused, and the
// buttons for them are disabled.
#pragma once

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "app/SelectPostProcessVC.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Result.h"
#include "platform/graphics/Image.h"
#include "platform/qt/ActionSheet.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/ImagePicker.h"
#include "platform/qt/ScrollView.h"

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
                               public SelectPostProcessOwner {
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
  ImageRef scaleAndRotateImage(const ImageRef& image, float height, float width) const;
  // A photo dropped on the window or named on the command line: picked like
  // one from the library. False (with an alert) when it cannot be read or a
  // run is in progress.
  bool openPhotoFile(const std::filesystem::path& path);

  // The run.
  void on_btn_do_pp();
  void update_progress(const Notification& notification);
  void process_done(const Notification& notification);
  QWidget* viewForZoomingInScrollView(ScrollView* scrollView) override;
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

  // The catalogue.
  PostProcess* get_pp_with_name(const std::string& name) const;
  std::set<std::string> get_pp_names() const override;

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

 private:
  void loadView();
  void connectActions();
  void setBusy(bool busy);
  void present_result();
  void slide_result_in();
  void remove_result_iv();
  void release_picker();
  void run_failed();
  void slide(QWidget* a, float ax, float ay, QWidget* b, float bx, float by);

  Defaults& m_settings;
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
