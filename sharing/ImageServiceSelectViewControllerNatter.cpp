// The Pixdrop route of the sharing screen: the Natter account from the
// settings (the password from the keyring), the credential check with Basic
// authorization and the multipart upload on one background thread, progress
// and the outcome on the main thread.
#include <mutex>

#include "base64/Base64.h"
#include "http/FormDataRequest.h"
#include "http/HTTPRequest.h"
#include "mingle/MGGlobal.h"
#include "platform/foundation/RunLoop.h"
#include "platform/graphics/ImageIO.h"
#include "platform/net/URL.h"
#include "sharing/ImageServiceSelectViewController.h"

namespace glowsnap {

// What the HTTP client and the background thread talk to: the screen while
// it lives, nobody once it has gone. Every call into the screen is made on
// the main thread, where detach() is too, so a call never meets a screen
// half gone; the background thread holds the relay until its last message
// has been delivered.
class ImageServiceSelectViewController::NatterRelay : public HTTPRequestDelegate,
                                                      public ProgressIndicator {
 public:
  explicit NatterRelay(ImageServiceSelectViewController* screen) : screen_(screen) {}

  // Main thread.
  ImageServiceSelectViewController* screen() const { return screen_; }
  void detach() { screen_ = nullptr; }

  bool respondsToSelector(const Selector& selector) const override {
    return selector == "requestFailed:" || selector == "setProgress:";
  }
  void performSelector(const Selector& selector, HTTPRequest& request) override {
    if (selector == "requestFailed:" && screen_) screen_->requestFailed(&request);
  }
  void setProgress(float progress) override {
    if (screen_) screen_->setProgress(progress);
  }

  // Any thread: the request running now, so that the screen can cancel it.
  void setCurrent(std::shared_ptr<HTTPRequest> request) {
    std::lock_guard lock(mutex_);
    current_ = std::move(request);
    if (cancelled_ && current_) current_->cancel();
  }
  void cancel() {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (current_) current_->cancel();
  }
  bool isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }

  // From the background thread: runs fn with the screen on the main
  // thread, if the screen is still there then.
  static void toScreen(const std::shared_ptr<NatterRelay>& relay,
                       std::function<void(ImageServiceSelectViewController&)> fn) {
    performOnMainThread(
        [relay, fn = std::move(fn)] {
          if (auto* s = relay->screen()) fn(*s);
        },
        false);
  }

 private:
  ImageServiceSelectViewController* screen_;
  mutable std::mutex mutex_;
  std::shared_ptr<HTTPRequest> current_;
  bool cancelled_ = false;
};

namespace {

// Credentials go only over https or to this machine.
bool maySendCredentials(const std::string& url) {
  auto parsed = URL::parse(url);
  if (!parsed) return false;
  return parsed->scheme() == "https" ||
         (parsed->scheme() == "http" && MGIsLoopbackHost(parsed->host()));
}

}  // namespace

void ImageServiceSelectViewController::on_natter_touched() {
  if (isUploading()) return;
  // 1, 2: the account; nothing is sent without both halves.
  std::string username = m_settings.text(AppSettings::kNatterUsername).value_or("");
  std::string password = m_settings.secret(AppSettings::kNatterPassword).value_or("");
  if (username.empty() || password.empty()) {
    show_natter_authorization_failed();
    return;
  }
  NatterAccount account{username, password, m_settings.natterURL() + "/account/verify.xml",
                        m_settings.pixdropURL() + "/api/upload"};
  for (const std::string& url : {account.checkURL, account.uploadURL}) {
    if (!maySendCredentials(url)) {
      AlertView::create("Natter Authorization Failed",
                        "Your Natter password is sent only over https or to this computer, "
                        "not to " +
                            url + ".",
                        nullptr, "Dismiss")
          ->show();
      return;
    }
  }
  if (!m_image) return;
  m_natter_account = std::move(account);
  // 3: the alert, then the background work.
  show_waiting_with_progress(true);
  finish_natter_thread();
  m_natter_relay = std::make_shared<NatterRelay>(this);
  m_natter_done = std::make_shared<std::atomic<bool>>(false);
  m_natter_thread = std::thread([this, done = m_natter_done] {
    upload_to_natter();
    done->store(true);
  });
}

ImageServiceSelectViewController::NatterCheck
ImageServiceSelectViewController::natter_verify_credentials() {
  const NatterAccount& account = m_natter_account;
  auto request = HTTPRequest::requestWithURL(URL::parse(account.checkURL));
  std::string pair = account.username + ":" + account.password;
  auto encoded = Base64::stringByEncodingBytes(pair.data(), pair.size());
  if (!encoded) return NatterCheck::Failed;
  request->addRequestHeader("Authorization", "Basic " + *encoded);
  // The answer to these credentials is this check's alone: nothing is kept
  // for later requests, nothing is asked of the keyring.
  request->setUseSessionPersistance(false);
  request->setUseKeychainPersistance(false);
  m_natter_relay->setCurrent(request);
  request->start();
  m_natter_relay->setCurrent(nullptr);
  const int status = request->responseStatusCode();
  if (status == 401 || status == 403) return NatterCheck::Refused;
  if (request->error() || status < 200 || status > 299) return NatterCheck::Failed;
  auto body = request->responseData();
  return body && !body->empty() ? NatterCheck::Passed : NatterCheck::Failed;
}

void ImageServiceSelectViewController::upload_to_natter() {
  std::shared_ptr<NatterRelay> relay = m_natter_relay;
  bool auth_failed = false;
  bool failed = false;
  NatterCheck check = natter_verify_credentials();
  if (relay->isCancelled()) return;
  if (check == NatterCheck::Refused) {
    auth_failed = true;
  } else if (check == NatterCheck::Failed) {
    failed = true;
  } else {
    auto jpeg = imageio::encodeJpeg(*m_image, 1.0f);
    if (!jpeg) {
      failed = true;
    } else {
      setImage_length(jpeg->size());
      auto request = FormDataRequest::requestWithURL(URL::parse(m_natter_account.uploadURL));
      request->setPostValue(m_natter_account.username, "username");
      request->setPostValue(m_natter_account.password, "password");
      request->setData(std::move(*jpeg), "media");
      request->setShowAccurateProgress(true);
      request->setUploadProgressDelegate(relay.get());
      request->setDelegate(relay.get());
      request->setUseSessionPersistance(false);
      request->setUseKeychainPersistance(false);
      relay->setCurrent(request);
      request->start();
      relay->setCurrent(nullptr);
      if (relay->isCancelled()) return;
      // A failed request has told the screen already; an answer that is not
      // a success is a refusal, never an upload.
      const int status = request->responseStatusCode();
      if (!request->error() && (status < 200 || status > 299)) failed = true;
    }
  }
  if (failed)
    NatterRelay::toScreen(relay,
                          [](ImageServiceSelectViewController& s) { s.requestFailed(nullptr); });
  NatterRelay::toScreen(relay, [auth_failed](ImageServiceSelectViewController& s) {
    s.upload_to_natter_did_finish_auth_failed(auth_failed);
  });
}

void ImageServiceSelectViewController::upload_to_natter_did_finish_auth_failed(bool auth_failed) {
  finish_natter_thread();
  hide_waiting();
  if (auth_failed) show_natter_authorization_failed();
}

void ImageServiceSelectViewController::show_natter_authorization_failed() {
  AlertView::create("Natter Authorization Failed",
                    "Please, specify correct natter username and password in application settings.",
                    nullptr, "Dismiss")
      ->show();
}

void ImageServiceSelectViewController::finish_natter_thread() {
  if (m_natter_relay) {
    if (!m_natter_done->load()) m_natter_relay->cancel();
    m_natter_relay->detach();
  }
  if (m_natter_thread.joinable()) m_natter_thread.join();
  m_natter_relay.reset();
}

}  // namespace glowsnap
