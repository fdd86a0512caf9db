// MailMessage: a mail with attachments and its wire form: RFC 5322 headers
// (non-ASCII subjects as RFC 2047 encoded words), a MIME multipart/mixed
// body with the text as UTF-8 quoted-printable and each attachment in
// Base64 lines of 76 characters, CR LF line ends throughout.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/net/Bytes.h"

namespace glowsnap {

struct MailAttachment {
  Bytes data;
  std::string mimeType;
  std::string fileName;
};

struct MailMessage {
  std::string from;
  std::vector<std::string> to;
  std::string subject;
  std::string body;
  std::vector<MailAttachment> attachments;

  // The message as it is handed to the mail server. date is the "Date"
  // header's value (RFC 5322 form) and messageId the "Message-ID" without
  // its angle brackets; boundary separates the parts (it must not occur in
  // them; a random one is made when empty).
  std::string format(const std::string& date, const std::string& messageId,
                     std::string boundary = "") const;
  // The date now, as "Date" wants it.
  static std::string currentDate();

  // "a@b.example": one address, without display name, spaces or angle
  // brackets (what a recipient field may hold).
  static bool isValidAddress(std::string_view address);
  // The addresses in text, separated by commas, semicolons or spaces;
  // nothing when one of them is not an address.
  static std::optional<std::vector<std::string>> parseAddresses(std::string_view text);
};

}  // namespace glowsnap
