// Html: the pieces every page of the service is made of: escaping, the
// page frame with its style sheet, and the sheet itself. Pages are plain
// HTML with a little CSS that reads well 320 points wide (the Mingle
// dialogs) as well as on a desktop.
#pragma once

#include <string>
#include <string_view>

namespace glowsnap::services {

// &, <, >, " and ' escaped for text and attribute values (as XMLWriter
// escapes: no control characters, no broken UTF-8).
std::string htmlEscape(std::string_view text);
// Percent-escapes everything but unreserved characters (for a path segment
// or a query value).
std::string urlEscape(std::string_view text);

// A whole document: title, the style sheet, a header with the service's
// name, bodyHtml (already escaped) and a footer.
std::string htmlPage(std::string_view title, std::string_view bodyHtml);

// The same document without the site's header and footer, for the pages
// shown inside the Mingle dialogs (which have a title bar of their own).
std::string dialogPage(std::string_view title, std::string_view bodyHtml);

// Served at /style.css.
extern const char* const kStyleSheet;

}  // namespace glowsnap::services
