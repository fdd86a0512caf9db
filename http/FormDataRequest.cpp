#include "http/FormDataRequest.h"

#include <cstdio>
#include <filesystem>

namespace glowsnap {

std::shared_ptr<FormDataRequest> FormDataRequest::requestWithURL(std::optional<URL> url) {
  return std::shared_ptr<FormDataRequest>(new FormDataRequest(std::move(url)));
}

std::string FormDataRequest::formatFloating(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string FormDataRequest::escapeName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name) {
    if (c == '"')
      out += "%22";
    else if (c == '\r')
      out += "%0D";
    else if (c == '\n')
      out += "%0A";
    else
      out += c;
  }
  return out;
}

void FormDataRequest::setPostValue(const std::optional<std::string>& value,
                                   const std::string& key) {
  if (!postData_) postData_.emplace();
  if (value)
    (*postData_)[key] = *value;
  else
    postData_->erase(key);
  setRequestMethod("POST");
}

void FormDataRequest::setData(Bytes data, const std::optional<std::string>& fileName,
                              const std::optional<std::string>& contentType,
                              const std::string& key) {
  if (!fileData_) fileData_.emplace();
  (*fileData_)[key] = Part{std::move(data), contentType.value_or("application/octet-stream"),
                           fileName.value_or("file")};
  setRequestMethod("POST");
}

void FormDataRequest::setData(Bytes data, const std::string& key) {
  setData(std::move(data), std::string("file"), std::nullopt, key);
}

void FormDataRequest::setFile(const std::string& path, const std::optional<std::string>& fileName,
                              const std::optional<std::string>& contentType,
                              const std::string& key) {
  std::error_code ec;
  auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status) || std::filesystem::is_directory(status))
    failWithError(makeError(kInternalErrorWhileBuildingRequestType, "No file exists at " + path));
  if (!fileData_) fileData_.emplace();
  std::string name = fileName ? *fileName : std::filesystem::path(path).filename().string();
  (*fileData_)[key] =
      Part{path, contentType ? *contentType : mimeTypeForFileAtPath(path), std::move(name)};
  setRequestMethod("POST");
}

void FormDataRequest::setFile(const std::string& path, const std::string& key) {
  setFile(path, std::nullopt, std::nullopt, key);
}

void FormDataRequest::appendPostString(const std::string& text) {
  appendPostData(Bytes(text.begin(), text.end()));
}

void FormDataRequest::buildPostBody() {
  if (!postData_ && !fileData_) {
    HTTPRequest::buildPostBody();
    return;
  }
  const std::string boundary = kBoundary;
  const std::string separator = "\r\n--" + boundary + "\r\n";
  bool hasParts = fileData_ && !fileData_->empty();
  if (hasParts) setShouldStreamPostDataFromDisk(true);
  addRequestHeader("Content-Type", "multipart/form-data; boundary=" + boundary);
  appendPostString("--" + boundary + "\r\n");
  if (postData_) {
    std::size_t i = 0;
    for (const auto& [key, value] : *postData_) {
      appendPostString("Content-Disposition: form-data; name=\"" + escapeName(key) + "\"\r\n\r\n");
      appendPostString(value);
      ++i;
      if (i != postData_->size() || hasParts) appendPostString(separator);
    }
  }
  if (fileData_) {
    std::size_t i = 0;
    for (const auto& [key, part] : *fileData_) {
      appendPostString("Content-Disposition: form-data; name=\"" + escapeName(key) +
                       "\"; filename=\"" + escapeName(part.fileName) + "\"\r\n");
      appendPostString("Content-Type: " + part.contentType + "\r\n\r\n");
      if (const auto* path = std::get_if<std::string>(&part.data))
        appendPostDataFromFile(*path);
      else
        appendPostData(std::get<Bytes>(part.data));
      ++i;
      if (i != fileData_->size()) appendPostString(separator);
    }
  }
  appendPostString("\r\n--" + boundary + "--\r\n");
  HTTPRequest::buildPostBody();
}

}  // namespace glowsnap
