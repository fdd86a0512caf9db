// SMTPMailer: hands a MailMessage to a mail server over SMTP with libcurl.
//
// smtp:// URLs talk STARTTLS: required for a server on another machine,
// used when offered by one on this machine (a local relay often has none);
// smtps:// URLs are TLS from the start. Certificates are checked. A user
// name and password log in (the server picks the method); credentials
// never go in plain text to another machine, since TLS is required there.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "mail/MailMessage.h"
#include "platform/foundation/Result.h"

namespace glowsnap {

struct SMTPConfiguration {
  // smtp://HOST[:PORT] or smtps://HOST[:PORT].
  std::string url;
  std::optional<std::string> username;
  std::optional<std::string> password;
  // The envelope sender and the From header.
  std::string from;
};

inline constexpr const char* kMailErrorDomain = "GlowsnapMail";
enum MailErrorCode : int {
  kMailInvalidConfiguration = 1,
  kMailInvalidRecipient = 2,
  kMailSendFailed = 3,
  kMailCancelled = 4,
};

class SMTPMailer {
 public:
  // Bytes of the message handed over so far, and its whole size.
  using Progress = std::function<void(std::uint64_t sent, std::uint64_t total)>;

  // Sends message (blocking: run it off the main thread). When cancelled
  // becomes true the transfer stops (kMailCancelled). The error's text
  // names the server and the cause, never the password.
  static Status send(const SMTPConfiguration& configuration, const MailMessage& message,
                     const std::atomic<bool>* cancelled = nullptr, Progress progress = {});
  // The sender when none is configured: USER@HOSTNAME.
  static std::string defaultSender();
};

}  // namespace glowsnap
