#include "services/FormData.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "platform/net/URL.h"

namespace glowsnap::services {

namespace {

Error formError(std::string description) {
  Error e;
  e.domain = kFormErrorDomain;
  e.code = 1;
  e.description = std::move(description);
  return e;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         ::strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// Parameters of a header value ("form-data; name=\"a\"; filename=b"): the
// value of key, unquoted (backslash escapes undone), or nothing.
std::optional<std::string> headerParameter(std::string_view value, std::string_view key) {
  std::size_t i = value.find(';');
  while (i != std::string_view::npos && i < value.size()) {
    ++i;
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    std::size_t eq = value.find('=', i);
    std::size_t semi = value.find(';', i);
    if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
      i = semi;
      continue;
    }
    std::string_view name = trim(value.substr(i, eq - i));
    std::size_t j = eq + 1;
    while (j < value.size() && (value[j] == ' ' || value[j] == '\t')) ++j;
    std::string result;
    if (j < value.size() && value[j] == '"') {
      ++j;
      while (j < value.size() && value[j] != '"') {
        if (value[j] == '\\' && j + 1 < value.size()) ++j;
        result += value[j++];
      }
      if (j < value.size()) ++j;  // closing quote
      semi = value.find(';', j);
    } else {
      semi = value.find(';', j);
      result = std::string(trim(value.substr(j, semi == std::string_view::npos ? semi : semi - j)));
    }
    if (name.size() == key.size() && ::strncasecmp(name.data(), key.data(), key.size()) == 0)
      return result;
    i = semi;
  }
  return std::nullopt;
}

// Length of the line end at pos (CR LF or LF), 0 when there is none.
std::size_t lineEndAt(std::string_view s, std::size_t pos) {
  if (pos < s.size() && s[pos] == '\n') return 1;
  if (pos + 1 < s.size() && s[pos] == '\r' && s[pos + 1] == '\n') return 2;
  return 0;
}

}  // namespace

const FormPart* FormData::field(std::string_view name) const {
  for (const auto& part : parts)
    if (!part.isFile() && part.name == name) return &part;
  return nullptr;
}

const FormPart* FormData::firstFile() const {
  for (const auto& part : parts)
    if (part.isFile()) return &part;
  return nullptr;
}

std::optional<std::string> multipartBoundary(std::string_view contentType) {
  if (!startsWithNoCase(trim(contentType), "multipart/form-data")) return std::nullopt;
  auto boundary = headerParameter(contentType, "boundary");
  if (!boundary || boundary->empty() || boundary->size() > 200) return std::nullopt;
  return boundary;
}

Result<FormData> readMultipart(std::string_view body, std::string_view boundary) {
  if (boundary.empty()) return formError("the multipart body has no boundary");
  const std::string dashBoundary = "--" + std::string(boundary);
  FormData form;
  // The first delimiter opens the body; what stands before it is a preamble,
  // as long as the delimiter starts a line.
  std::size_t pos = 0;
  if (body.compare(0, dashBoundary.size(), dashBoundary) != 0) {
    std::size_t found = body.find("\n" + dashBoundary);
    if (found == std::string_view::npos)
      return formError("the multipart body does not start with its boundary");
    pos = found + 1;
  }
  while (true) {
    pos += dashBoundary.size();
    if (body.compare(pos, 2, "--") == 0) break;  // the closing delimiter
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    std::size_t end = lineEndAt(body, pos);
    if (end == 0) {
      if (pos >= body.size()) break;  // ends right after a delimiter, no line end
      return formError("a multipart delimiter is followed by other text");
    }
    pos += end;
    if (pos >= body.size()) break;  // no closing delimiter: the body simply ends
    if (form.parts.size() >= kMaxFormParts)
      return formError("the multipart body has more than " + std::to_string(kMaxFormParts) +
                       " parts");

    FormPart part;
    bool disposition = false;
    std::size_t headerStart = pos;
    while (true) {
      std::size_t eol = body.find('\n', pos);
      if (eol == std::string_view::npos || eol - headerStart > kMaxPartHeaderBytes)
        return formError("part " + std::to_string(form.parts.size() + 1) +
                         " has a header block that does not end");
      std::string_view line = body.substr(pos, eol - pos);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      pos = eol + 1;
      if (line.empty()) break;
      std::size_t colon = line.find(':');
      if (colon == std::string_view::npos)
        return formError("part " + std::to_string(form.parts.size() + 1) +
                         " has a header line without a colon");
      std::string_view name = trim(line.substr(0, colon));
      std::string_view value = trim(line.substr(colon + 1));
      if (name.size() == 19 && ::strncasecmp(name.data(), "Content-Disposition", 19) == 0) {
        if (!startsWithNoCase(value, "form-data"))
          return formError("part " + std::to_string(form.parts.size() + 1) + " is not form data");
        disposition = true;
        part.name = headerParameter(value, "name").value_or("");
        part.filename = headerParameter(value, "filename");
      } else if (name.size() == 12 && ::strncasecmp(name.data(), "Content-Type", 12) == 0) {
        part.contentType = std::string(value);
      }
    }
    if (!disposition)
      return formError("part " + std::to_string(form.parts.size() + 1) +
                       " has no Content-Disposition");
    // The content runs to the line end before the next delimiter.
    // (From the blank line's own line feed, so that an empty part written
    // without a line end of its own is read as empty.)
    std::size_t next = body.find("\n" + dashBoundary, pos - 1);
    if (next == std::string_view::npos)
      return formError("part " + std::to_string(form.parts.size() + 1) +
                       " is cut off before its boundary");
    std::size_t contentEnd = std::max(next, pos);
    if (contentEnd > pos && body[contentEnd - 1] == '\r') --contentEnd;
    part.data = std::string(body.substr(pos, contentEnd - pos));
    form.parts.push_back(std::move(part));
    pos = next + 1;
  }
  return form;
}

Result<FormData> readURLEncoded(std::string_view body) {
  FormData form;
  std::size_t pos = 0;
  auto decode = [](std::string_view text) -> std::optional<std::string> {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (c == '+') {
        out += ' ';
      } else if (c == '%') {
        if (i + 2 >= text.size()) return std::nullopt;
        int hi = hexDigitValue(text[i + 1]);
        int lo = hexDigitValue(text[i + 2]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
      } else {
        out += c;
      }
    }
    return out;
  };
  while (pos <= body.size()) {
    std::size_t amp = body.find('&', pos);
    std::string_view pair =
        body.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
    if (!pair.empty()) {
      if (form.parts.size() >= kMaxFormParts) return formError("the form has too many fields");
      std::size_t eq = pair.find('=');
      auto name = decode(pair.substr(0, eq));
      auto value = decode(eq == std::string_view::npos ? "" : pair.substr(eq + 1));
      if (!name || !value) return formError("the form has a malformed percent escape");
      FormPart part;
      part.name = std::move(*name);
      part.data = std::move(*value);
      form.parts.push_back(std::move(part));
    }
    if (amp == std::string_view::npos) break;
    pos = amp + 1;
  }
  return form;
}

Result<FormData> readForm(std::string_view contentType, std::string_view body) {
  if (auto boundary = multipartBoundary(contentType)) return readMultipart(body, *boundary);
  if (startsWithNoCase(trim(contentType), "multipart/"))
    return formError("the multipart body's Content-Type names no boundary");
  if (startsWithNoCase(trim(contentType), "application/x-www-form-urlencoded"))
    return readURLEncoded(body);
  return formError("the body is neither multipart/form-data nor a URL-encoded form");
}

}  // namespace glowsnap::services
