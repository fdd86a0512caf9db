// ImageServiceSelectViewController: the sharing screen. The main controller
// presents it over the result with the image to share; the user picks
// Mingle, Natter (the picture goes to Pixdrop with the Natter account) or
// Mail from a table of three icons, or cancels. Mail and cancel go back to
// the delegate; the two uploads run from here and share the progress alert
// ("Uploading...", a byte count, a bar and a spinner) and the
// network-failure alert.
//
// The Pixdrop route checks the Natter credentials (Basic authorization) and
// posts the JPEG as a multipart form, both on one background thread; every
// call back into the screen arrives on the main thread through a relay that
// the screen cuts off when it goes, so a late callback never reaches a freed
// screen. The credentials travel only over https or to this machine; the
// check passes only on a 2xx answer with a body; an upload the service
// refuses ends in the failure alert.
//
// The source is split by concern: ImageServiceSelectViewController.cpp (the
// screen, its table and its alerts) and
// ImageServiceSelectViewControllerNatter.cpp (the Pixdrop route) and
// ImageServiceSelectViewControllerMingle.cpp (the Mingle route, on the
// screen's own session, so that every new screen starts afresh).
#pragma once

#include <QLabel>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mingle/MGRequest.h"
#include "mingle/MGSession.h"
#include "mingle/ui/MGDialog.h"
#include "platform/graphics/Image.h"
#include "platform/qt/ActivityIndicator.h"
#include "platform/qt/AlertView.h"
#include "platform/qt/ProgressView.h"
#include "platform/qt/TableView.h"
#include "settings/AppSettings.h"

namespace glowsnap {

class HTTPRequest;
class ImageServiceSelectViewController;
class Toolbar;

// The presenter's side. Both operations are optional: the screen sends only
// those respondsToSelector() names ("image_service_select_view_controller_on_cancel:",
// "image_service_select_view_controller:upload_image_by_mail:").
class ImageServiceSelectViewControllerDelegate {
 public:
  static constexpr const char* kOnCancel = "image_service_select_view_controller_on_cancel:";
  static constexpr const char* kUploadImageByMail =
      "image_service_select_view_controller:upload_image_by_mail:";

  virtual ~ImageServiceSelectViewControllerDelegate() = default;
  virtual bool respondsToSelector(const std::string& selector) const = 0;
  virtual void image_service_select_view_controller_on_cancel(
      ImageServiceSelectViewController* controller) {
    (void)controller;
  }
  virtual void upload_image_by_mail(ImageServiceSelectViewController* controller,
                                    const ImageRef& image) {
    (void)controller;
    (void)image;
  }
};

class MGLoginDialog;

class ImageServiceSelectViewController : public TableViewDataSource,
                                         public TableViewDelegate,
                                         public MGDialogDelegate,
                                         public MGSessionDelegate,
                                         public MGRequestDelegate {
 public:
  static constexpr const char* kNetFailMsgTitle = "Network Error";
  static constexpr const char* kNetFailMsgText = "Please, try again later";
  static constexpr int kRowHeight = 100;

  // nibName: the interface file ("ImageServiceSelectViewController").
  // settings: where the Natter account and the services are.
  ImageServiceSelectViewController(const std::string& nibName, AppSettings settings);
  // Cancels the requests and closes the dialogs first, then goes.
  ~ImageServiceSelectViewController() override;
  ImageServiceSelectViewController(const ImageServiceSelectViewController&) = delete;
  ImageServiceSelectViewController& operator=(const ImageServiceSelectViewController&) = delete;

  // The screen's view; loads the interface file and runs viewDidLoad on
  // first use. The screen owns it.
  QWidget* view();
  bool isViewLoaded() const { return m_view != nullptr; }
  QWidget* viewIfLoaded() const { return m_view.get(); }
  void viewDidLoad();
  bool shouldAutorotateToInterfaceOrientation(int orientation) const;

  const ImageRef& image() const { return m_image; }
  void setImage(ImageRef image) { m_image = std::move(image); }
  bool is_toolbar_hidden() const { return m_is_toolbar_hidden; }
  void setIs_toolbar_hidden(bool hidden);
  ImageServiceSelectViewControllerDelegate* delegate() const { return m_delegate; }
  void setDelegate(ImageServiceSelectViewControllerDelegate* delegate) { m_delegate = delegate; }
  TableView* table_view() const { return m_table_view; }
  Toolbar* tbr_main() const { return m_tbr_main; }
  const std::shared_ptr<AlertView>& alert_waiting() const { return m_alert_waiting; }
  ProgressView* prg_uploading_indicator() const { return m_prg_uploading_indicator; }
  QLabel* lbl_bytes_sent() const { return m_lbl_bytes_sent; }
  ActivityIndicator* waiting_indicator() const { return m_waiting_indicator; }
  const std::vector<std::string>& service_names() const { return m_service_names; }
  std::uint64_t image_length() const { return m_image_length.load(); }
  void setImage_length(std::uint64_t length) { m_image_length.store(length); }

  // The table.
  int numberOfSectionsInTableView(TableView* tableView) override;
  int numberOfRowsInSection(TableView* tableView, int section) override;
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView* tableView,
                                                       const IndexPath& indexPath) override;
  void didSelectRowAtIndexPath(TableView* tableView, const IndexPath& indexPath) override;

  // Actions.
  void on_cancel_touched();
  void on_mail_touched();
  void on_mingle_touched();
  void on_natter_touched();

  // The progress alert and its byte count.
  void show_waiting_with_progress(bool with_progress);
  void hide_waiting();
  // fraction: 0..1 of the JPEG being uploaded.
  void setProgress(float fraction);
  // The network-failure alert, then hide_waiting.
  void requestFailed(HTTPRequest* request);

  // The Mingle route (all on the main thread, on the screen's own session).
  void mingle_show_permissions();
  void didLogin(MGSession& session, std::uint64_t uid) override;
  void sessionDidLogout(MGSession& session) override;
  void dialogDidSucceed(MGDialog& dialog) override;
  void didFailWithError(MGDialog& dialog, const Error& error) override;
  void didLoad(MGRequest& request, const MGValue& result) override;
  void didFailWithError(MGRequest& request, const Error& error) override;
  const std::shared_ptr<MGSession>& session() const { return _session; }
  // The dialog shown now (login or permission), or nullptr.
  MGDialog* mingle_dialog() const { return m_mingle_dialog.data(); }
  // The "mingle.query" text for uid.
  static std::string userQuery(std::uint64_t uid);

  // The Pixdrop route.
  enum class NatterCheck { Passed, Refused, Failed };
  // The credential check, on the background thread: Passed only on a 2xx
  // answer with a body; Refused for 401 and 403; Failed for anything else
  // (no connection, another status).
  NatterCheck natter_verify_credentials();
  // The background thread's work: check, then upload.
  void upload_to_natter();
  // Main thread, at the end of the background work.
  void upload_to_natter_did_finish_auth_failed(bool auth_failed);
  void show_natter_authorization_failed();
  // Whether a Pixdrop upload is running.
  bool isUploading() const { return m_natter_thread.joinable() && !m_natter_done->load(); }

  // The byte-count line for sent of length bytes.
  static std::string progressText(std::uint64_t sent, std::uint64_t length);
  // The byte-count lines the progress alert showed since it was last shown,
  // in order (what the user saw count up).
  const std::vector<std::string>& progress_texts() const { return m_progress_texts; }

 private:
  class NatterRelay;
  void loadView();
  void layout_table();
  void finish_natter_thread();

  AppSettings m_settings;
  std::string m_nib_name;
  std::unique_ptr<QWidget> m_view;
  ImageRef m_image;
  std::shared_ptr<AlertView> m_alert_waiting;
  QPointer<ProgressView> m_prg_uploading_indicator;
  QPointer<QLabel> m_lbl_bytes_sent;
  QPointer<ActivityIndicator> m_waiting_indicator;
  // 64 bits: a JPEG over 16 MiB still counts to its end.
  std::atomic<std::uint64_t> m_image_length{0};
  std::vector<std::string> m_service_names;
  std::vector<std::string> m_progress_texts;
  TableView* m_table_view = nullptr;
  Toolbar* m_tbr_main = nullptr;
  bool m_is_toolbar_hidden = false;
  ImageServiceSelectViewControllerDelegate* m_delegate = nullptr;

  // The Mingle route.
  std::shared_ptr<MGSession> _session;
  QPointer<MGDialog> m_mingle_dialog;
  std::vector<std::shared_ptr<MGRequest>> m_mingle_requests;
  void mingle_call(const std::string& method, const MGParams& params);
  void start_mingle_session();
  void end_mingle_session();

  // The Pixdrop route's background thread and its way back.
  std::thread m_natter_thread;
  std::shared_ptr<std::atomic<bool>> m_natter_done = std::make_shared<std::atomic<bool>>(true);
  std::shared_ptr<NatterRelay> m_natter_relay;
  struct NatterAccount {
    std::string username;
    std::string password;
    std::string checkURL;
    std::string uploadURL;
  };
  NatterAccount m_natter_account;
};

}  // namespace glowsnap
