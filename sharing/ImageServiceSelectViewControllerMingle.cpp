// The Mingle route of the sharing screen: the screen's own session (saved
// sessions are resumed), the login dialog when there is none, the
// "photo_upload" permission dialog, then "photos.upload" with the image.
#include <cstdlib>

#include "mingle/MGGlobal.h"
#include "mingle/ui/MGLoginDialog.h"
#include "mingle/ui/MGPermissionDialog.h"
#include "sharing/ImageServiceSelectViewController.h"

namespace glowsnap {

namespace {
constexpr const char* kUploadPermission = "photo_upload";
constexpr const char* kUploadMethod = "photos.upload";
}  // namespace

std::string ImageServiceSelectViewController::userQuery(std::uint64_t uid) {
  return "select uid,name from user where uid == " + std::to_string(static_cast<long long>(uid));
}

void ImageServiceSelectViewController::mingle_call(const std::string& method,
                                                   const MGParams& params) {
  auto request = MGRequest::requestWithSession(_session, this);
  // Finished requests are dropped as new ones start; those still loading
  // are cancelled when the screen goes.
  std::erase_if(m_mingle_requests, [](const auto& r) { return !r->loading(); });
  m_mingle_requests.push_back(request);
  request->call(method, params);
}

void ImageServiceSelectViewController::on_mingle_touched() {
  if (!_session || m_mingle_dialog) return;
  if (_session->isConnected()) {
    mingle_show_permissions();
    return;
  }
  auto* dialog = new MGLoginDialog(_session);
  dialog->setDelegate(this);
  m_mingle_dialog = dialog;
  dialog->show();
}

void ImageServiceSelectViewController::mingle_show_permissions() {
  auto* dialog = new MGPermissionDialog(_session);
  dialog->setDelegate(this);
  dialog->setPermission(kUploadPermission);
  m_mingle_dialog = dialog;
  dialog->show();
}

void ImageServiceSelectViewController::dialogDidSucceed(MGDialog& dialog) {
  if (m_mingle_dialog == &dialog) m_mingle_dialog = nullptr;
  // A permission dialog is a kind of login dialog: it is asked about first.
  if (dynamic_cast<MGPermissionDialog*>(&dialog)) {
    mingle_call(kUploadMethod, MGParams{{"image", m_image}});
    show_waiting_with_progress(false);
  } else {
    mingle_show_permissions();
  }
}

void ImageServiceSelectViewController::didFailWithError(MGDialog& dialog, const Error&) {
  if (m_mingle_dialog == &dialog) m_mingle_dialog = nullptr;
}

void ImageServiceSelectViewController::didLogin(MGSession&, std::uint64_t uid) {
  mingle_call("mingle.query", MGParams{{"query", userQuery(uid)}});
}

void ImageServiceSelectViewController::sessionDidLogout(MGSession&) {}

void ImageServiceSelectViewController::didLoad(MGRequest& request, const MGValue&) {
  if (request.method() == std::optional<std::string>(kUploadMethod)) hide_waiting();
}

void ImageServiceSelectViewController::didFailWithError(MGRequest&, const Error&) {
  requestFailed(nullptr);
}

void ImageServiceSelectViewController::start_mingle_session() {
  _session = MGSession::sessionForApplication(m_settings.mingleAPIKey(),
                                              m_settings.mingleAPISecret(), this);
  // The newest screen's session is the one the Mingle client shares.
  MGSession::setSession(_session);
  _session->setUserDefaults(m_settings.defaults());
  // GLOWSNAP_MINGLE_URL, when set, is where the service is; else the
  // settings say.
  MGServerConfiguration server;
  const char* env = std::getenv("GLOWSNAP_MINGLE_URL");
  if ((!env || !*env) && MGServerConfiguration::forServer(m_settings.mingleURL(), server))
    _session->setServerConfiguration(server);
  _session->resume();
}

void ImageServiceSelectViewController::end_mingle_session() {
  if (m_mingle_dialog) {
    m_mingle_dialog->setDelegate(nullptr);
    m_mingle_dialog->dismissWithSuccess(false, false);
    m_mingle_dialog = nullptr;
  }
  for (auto& r : m_mingle_requests) {
    r->setDelegate(nullptr);
    r->cancel();
  }
  m_mingle_requests.clear();
  if (_session) _session->removeDelegate(this);
  _session.reset();
}

}  // namespace glowsnap
