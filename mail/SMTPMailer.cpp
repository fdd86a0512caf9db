#include "mail/SMTPMailer.h"

#include <curl/curl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

#include "mingle/MGGlobal.h"
#include "platform/net/URL.h"

namespace glowsnap {

namespace {

Error mailError(int code, std::string description) {
  Error e;
  e.domain = kMailErrorDomain;
  e.code = code;
  e.description = std::move(description);
  return e;
}

struct Upload {
  const std::string* data;
  std::size_t offset = 0;
  const std::atomic<bool>* cancelled;
  SMTPMailer::Progress progress;
};

std::size_t readMessage(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto* up = static_cast<Upload*>(user);
  if (up->cancelled && up->cancelled->load()) return CURL_READFUNC_ABORT;
  std::size_t left = up->data->size() - up->offset;
  std::size_t n = std::min(left, size * count);
  std::memcpy(buffer, up->data->data() + up->offset, n);
  up->offset += n;
  if (up->progress) up->progress(up->offset, up->data->size());
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto* up = static_cast<Upload*>(user);
  return up->cancelled && up->cancelled->load() ? 1 : 0;
}

std::string hostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0 || !*name) return "localhost";
  return name;
}

}  // namespace

std::string SMTPMailer::defaultSender() {
  const char* user = std::getenv("USER");
  return std::string(user && *user ? user : "glowsnap") + "@" + hostName();
}

Status SMTPMailer::send(const SMTPConfiguration& configuration, const MailMessage& message,
                        const std::atomic<bool>* cancelled, Progress progress) {
  auto url = URL::parse(configuration.url);
  if (!url || (url->scheme() != "smtp" && url->scheme() != "smtps") || url->host().empty())
    return mailError(kMailInvalidConfiguration,
                     configuration.url + ": not an smtp:// or smtps:// address");
  if (message.to.empty()) return mailError(kMailInvalidRecipient, "the message has no recipient");
  for (const std::string& to : message.to)
    if (!MailMessage::isValidAddress(to))
      return mailError(kMailInvalidRecipient, "\"" + to + "\" is not a mail address");
  const std::string from = configuration.from.empty() ? defaultSender() : configuration.from;
  if (!MailMessage::isValidAddress(from))
    return mailError(kMailInvalidConfiguration, "\"" + from + "\" is not a sender address");

  MailMessage withSender = message;
  withSender.from = from;
  std::random_device rd;
  std::string id = std::to_string(rd()) + "." + std::to_string(rd()) + "@" + hostName();
  const std::string data = withSender.format(MailMessage::currentDate(), id);

  std::unique_ptr<CURL, void (*)(CURL*)> easy(curl_easy_init(), curl_easy_cleanup);
  if (!easy) return mailError(kMailSendFailed, "the mail transfer could not be set up");
  CURL* c = easy.get();
  char errorBuffer[CURL_ERROR_SIZE] = {};
  const bool local = MGIsLoopbackHost(url->host());
  // Only the server's address: no path, no credentials in the URL.
  std::string target = url->scheme() + "://" + url->hostAndPort();
  curl_easy_setopt(c, CURLOPT_URL, target.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(c, CURLOPT_USE_SSL,
                   local ? static_cast<long>(CURLUSESSL_TRY) : static_cast<long>(CURLUSESSL_ALL));
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 20L);
  // A server that stops taking the message for a minute has failed.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
  if (configuration.username && !configuration.username->empty()) {
    curl_easy_setopt(c, CURLOPT_USERNAME, configuration.username->c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, configuration.password.value_or("").c_str());
  }
  const std::string mailFrom = "<" + from + ">";
  curl_easy_setopt(c, CURLOPT_MAIL_FROM, mailFrom.c_str());
  std::unique_ptr<curl_slist, void (*)(curl_slist*)> recipients(nullptr, curl_slist_free_all);
  for (const std::string& to : message.to) {
    curl_slist* next = curl_slist_append(recipients.get(), ("<" + to + ">").c_str());
    if (!next) return mailError(kMailSendFailed, "out of memory");
    recipients.release();
    recipients.reset(next);
  }
  curl_easy_setopt(c, CURLOPT_MAIL_RCPT, recipients.get());
  Upload up{&data, 0, cancelled, std::move(progress)};
  curl_easy_setopt(c, CURLOPT_READFUNCTION, readMessage);
  curl_easy_setopt(c, CURLOPT_READDATA, &up);
  curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(data.size()));
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
  curl_easy_setopt(c, CURLOPT_XFERINFODATA, &up);

  CURLcode rc = curl_easy_perform(c);
  if (cancelled && cancelled->load()) return mailError(kMailCancelled, "sending was cancelled");
  if (rc != CURLE_OK) {
    std::string why = *errorBuffer ? errorBuffer : curl_easy_strerror(rc);
    long response = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response);
    if (rc == CURLE_LOGIN_DENIED) why = "the server refused the user name or password";
    if (rc == CURLE_USE_SSL_FAILED)
      why = "the server offers no STARTTLS, which a server on another machine needs";
    if (response >= 400 && rc != CURLE_LOGIN_DENIED)
      why += " (the server answered " + std::to_string(response) + ")";
    return mailError(kMailSendFailed, url->hostAndPort() + ": " + why);
  }
  return {};
}

}  // namespace glowsnap
