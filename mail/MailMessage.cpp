#include "mail/MailMessage.h"

#include <ctime>
#include <random>

#include "base64/Base64.h"

namespace glowsnap {

namespace {

constexpr const char* kCRLF = "\r\n";

bool isAscii(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80 || c == '\r' || c == '\n') return false;
  return true;
}

std::string base64Lines(const Bytes& data) {
  std::string encoded = Base64::stringByEncodingData(data).value_or("");
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); i += 76) {
    out += encoded.substr(i, 76);
    out += kCRLF;
  }
  return out;
}

// RFC 2047 encoded words for a header value that is not plain ASCII, each
// at most 75 characters and never splitting a UTF-8 sequence.
std::string encodedWords(std::string_view text) {
  if (isAscii(text)) return std::string(text);
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = std::min(text.size(), i + 39);
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    if (end <= i) end = std::min(text.size(), i + 39);
    std::string chunk(text.substr(i, end - i));
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64::stringByEncodingBytes(chunk.data(), chunk.size()).value_or("") +
           "?=";
    i = end;
  }
  return out;
}

// Quoted-printable (RFC 2045) with CR LF line ends and soft breaks before 76.
std::string quotedPrintable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  std::size_t lineLength = 0;
  auto put = [&](const std::string& piece) {
    if (lineLength + piece.size() > 75) {
      out += "=\r\n";
      lineLength = 0;
    }
    out += piece;
    lineLength += piece.size();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (c == '\n') {
      // A space or tab before a line end must be encoded.
      if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
        char last = out.back();
        out.pop_back();
        out += std::string("=") + kHex[last >> 4] + kHex[last & 15];
      }
      out += kCRLF;
      lineLength = 0;
      continue;
    }
    // A line starting with "." or "From " is left alone by the transport
    // here (libcurl escapes dots); only bytes outside printable ASCII and
    // "=" are encoded.
    if ((c >= 33 && c <= 126 && c != '=') || c == ' ' || c == '\t') {
      put(std::string(1, static_cast<char>(c)));
    } else {
      put(std::string("=") + kHex[c >> 4] + kHex[c & 15]);
    }
  }
  if (!out.empty() && (out.back() == ' ' || out.back() == '\t')) {
    char last = out.back();
    out.pop_back();
    out += std::string("=") + kHex[last >> 4] + kHex[last & 15];
  }
  return out;
}

std::string quotedFileName(const std::string& name) {
  std::string out;
  for (char c : name) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\r' || c == '\n') continue;
    out += c;
  }
  return "\"" + out + "\"";
}

}  // namespace

std::string MailMessage::currentDate() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &tm);
  return text;
}

std::string MailMessage::format(const std::string& date, const std::string& messageId,
                                std::string boundary) const {
  if (boundary.empty()) {
    std::random_device rd;
    static constexpr char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    boundary = "glowsnap-";
    for (int i = 0; i < 24; ++i) boundary += kChars[rd() % 36];
  }
  std::string to;
  for (const std::string& address : this->to) to += (to.empty() ? "" : ", ") + address;
  std::string m;
  m += "From: " + from + kCRLF;
  if (!to.empty()) m += "To: " + to + kCRLF;
  m += "Subject: " + encodedWords(subject) + kCRLF;
  m += "Date: " + date + kCRLF;
  m += "Message-ID: <" + messageId + ">" + kCRLF;
  m += "MIME-Version: 1.0";
  m += kCRLF;
  m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"" + kCRLF;
  m += kCRLF;
  m += "--" + boundary + kCRLF;
  m += "Content-Type: text/plain; charset=UTF-8";
  m += kCRLF;
  m += "Content-Transfer-Encoding: quoted-printable";
  m += kCRLF;
  m += kCRLF;
  m += quotedPrintable(body);
  m += kCRLF;
  for (const MailAttachment& a : attachments) {
    m += "--" + boundary + kCRLF;
    m += "Content-Type: " + (a.mimeType.empty() ? "application/octet-stream" : a.mimeType) +
         "; name=" + quotedFileName(a.fileName) + kCRLF;
    m += "Content-Transfer-Encoding: base64";
    m += kCRLF;
    m += "Content-Disposition: attachment; filename=" + quotedFileName(a.fileName) + kCRLF;
    m += kCRLF;
    m += base64Lines(a.data);
  }
  m += "--" + boundary + "--" + kCRLF;
  return m;
}

bool MailMessage::isValidAddress(std::string_view address) {
  if (address.empty() || address.size() > 254) return false;
  auto at = address.rfind('@');
  if (at == std::string_view::npos || at == 0 || at + 1 >= address.size()) return false;
  for (unsigned char c : address)
    if (c <= ' ' || c >= 0x7F || c == '<' || c == '>' || c == ',' || c == ';' || c == '"' ||
        c == '(' || c == ')' || c == '\\')
      return false;
  std::string_view domain = address.substr(at + 1);
  return domain.find('@') == std::string_view::npos && domain.front() != '.' &&
         domain.back() != '.';
}

std::optional<std::vector<std::string>> MailMessage::parseAddresses(std::string_view text) {
  std::vector<std::string> out;
  std::string current;
  auto flush = [&]() -> bool {
    if (current.empty()) return true;
    if (!isValidAddress(current)) return false;
    out.push_back(current);
    current.clear();
    return true;
  };
  for (char c : text) {
    if (c == ',' || c == ';' || c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (!flush()) return std::nullopt;
    } else {
      current += c;
    }
  }
  if (!flush()) return std::nullopt;
  return out;
}

}  // namespace glowsnap
