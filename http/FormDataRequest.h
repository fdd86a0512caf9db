// FormDataRequest: an HTTPRequest that posts an HTML-form-style body, named
// text fields and named file parts encoded as multipart/form-data with the
// fixed boundary "0xKhTmLbOuNdArY". It changes nothing in how the request
// runs; its buildPostBody() turns the fields and parts into the body when
// the request starts. As soon as there is one file part the body is
// assembled in a temporary file and streamed from there.
//
// Field and file names are written between double quotes in the part heads;
// a '"', CR or LF in them is written as %22, %0D or %0A, as browsers do, so
// that no name can break the body's structure.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <variant>

#include "http/HTTPRequest.h"

namespace glowsnap {

class FormDataRequest : public HTTPRequest {
 public:
  static constexpr const char* kBoundary = "0xKhTmLbOuNdArY";

  // A file part: its content is bytes, or the path of a file holding them.
  struct Part {
    std::variant<Bytes, std::string> data;
    std::string contentType;
    std::string fileName;
  };

  static std::shared_ptr<FormDataRequest> requestWithURL(std::optional<URL> url);

  // Sets (or, with no value, removes) a text field; the method becomes "POST".
  void setPostValue(const std::optional<std::string>& value, const std::string& key);
  void setPostValue(const char* value, const std::string& key) {
    setPostValue(value ? std::optional<std::string>(value) : std::nullopt, key);
  }
  // Numbers are sent as their decimal text.
  template <typename Number, typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
  void setPostValue(Number value, const std::string& key) {
    setPostValue(std::optional<std::string>(numberText(value)), key);
  }
  // A part of bytes; no content type means "application/octet-stream", no
  // file name means "file".
  void setData(Bytes data, const std::optional<std::string>& fileName,
               const std::optional<std::string>& contentType, const std::string& key);
  void setData(Bytes data, const std::string& key);
  // A part read from the file at path when the body is built. A missing
  // path or a directory fails the request at once with code 6 ("No file
  // exists at ..."); the part is recorded all the same.
  void setFile(const std::string& path, const std::optional<std::string>& fileName,
               const std::optional<std::string>& contentType, const std::string& key);
  void setFile(const std::string& path, const std::string& key);

  void buildPostBody() override;

  const std::optional<std::map<std::string, std::string>>& postData() const { return postData_; }
  const std::optional<std::map<std::string, Part>>& fileData() const { return fileData_; }

  // The quoted-string escaping of names in part heads.
  static std::string escapeName(const std::string& name);

 protected:
  explicit FormDataRequest(std::optional<URL> url) : HTTPRequest(std::move(url)) {}

 private:
  template <typename Number>
  static std::string numberText(Number value) {
    if constexpr (std::is_same_v<Number, bool>)
      return value ? "1" : "0";
    else if constexpr (std::is_integral_v<Number>)
      return std::to_string(value);
    else
      return formatFloating(static_cast<double>(value));
  }
  static std::string formatFloating(double value);
  void appendPostString(const std::string& text);

  std::optional<std::map<std::string, std::string>> postData_;
  std::optional<std::map<std::string, Part>> fileData_;
};

}  // namespace glowsnap
