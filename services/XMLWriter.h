// XMLWriter: the service's XML answers, written as they go: elements, text
// (escaped) and the list="true" mark the Mingle client reads lists by.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace glowsnap::services {

class XMLWriter {
 public:
  XMLWriter();
  // Opens an element; asList marks it list="true".
  XMLWriter& open(std::string_view name, bool asList = false);
  XMLWriter& close();
  // <name>text</name>; an empty text writes <name/>.
  XMLWriter& element(std::string_view name, std::string_view text);
  // Closes what is open and answers the document.
  std::string finish();

  // Text with &, <, > and quotes escaped; control characters XML 1.0 cannot
  // hold become U+FFFD, and so does every byte that is not valid UTF-8.
  static std::string escape(std::string_view text);

 private:
  void indent();
  std::string out_;
  std::vector<std::string> open_;
};

}  // namespace glowsnap::services
