#include "services/Html.h"

#include "mingle/MGGlobal.h"
#include "services/XMLWriter.h"

namespace glowsnap::services {

std::string htmlEscape(std::string_view text) { return XMLWriter::escape(text); }

std::string urlEscape(std::string_view text) { return MGEscapeQueryComponent(std::string(text)); }

std::string htmlPage(std::string_view title, std::string_view bodyHtml) {
  std::string out;
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  out += "<title>" + htmlEscape(title) + "</title>\n";
  out += "<link rel=\"stylesheet\" href=\"/style.css\">\n</head>\n<body>\n";
  out +=
      "<header><a class=\"brand\" href=\"/\">Mingle</a> <span>on "
      "glowsnap-services</span></header>\n";
  out += "<main>\n<h1>" + htmlEscape(title) + "</h1>\n";
  out += bodyHtml;
  out += "\n</main>\n<footer>A self-hosted stand-in for Mingle, Natter and Pixdrop.</footer>\n";
  out += "</body>\n</html>\n";
  return out;
}

std::string dialogPage(std::string_view title, std::string_view bodyHtml) {
  std::string out;
  out += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
  out += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
  out += "<title>" + htmlEscape(title) + "</title>\n";
  out += "<link rel=\"stylesheet\" href=\"/style.css\">\n</head>\n<body class=\"dialog\">\n";
  out += "<main>\n<h1>" + htmlEscape(title) + "</h1>\n";
  out += bodyHtml;
  out += "\n<p class=\"note site\"><a class=\"brand\" href=\"/\">Mingle on glowsnap-services</a></p>\n";
  out += "</main>\n</body>\n</html>\n";
  return out;
}

const char* const kStyleSheet = R"css(* { box-sizing: border-box; }
body { margin: 0; font: 15px/1.45 system-ui, -apple-system, "Segoe UI", sans-serif;
       color: #1d2129; background: #eef0f4; }
header { background: #6d84b4; color: #fff; padding: 8px 12px; border-bottom: 1px solid #3b5998; }
header .brand { color: #fff; font-weight: bold; text-decoration: none; font-size: 17px; }
header span { opacity: .8; font-size: 13px; }
main { max-width: 960px; margin: 0 auto; padding: 12px; }
h1 { font-size: 20px; margin: 8px 0 12px; }
a { color: #3b5998; }
.note { color: #606770; font-size: 13px; }
ul.users { list-style: none; padding: 0; }
ul.users li { background: #fff; border: 1px solid #dddfe2; border-radius: 4px; padding: 8px 12px;
              margin-bottom: 6px; }
.photos { display: grid; grid-template-columns: repeat(auto-fill, minmax(180px, 1fr)); gap: 10px; }
figure { margin: 0; background: #fff; border: 1px solid #dddfe2; border-radius: 4px; overflow: hidden; }
figure img { display: block; width: 100%; height: 180px; object-fit: cover; background: #ddd; }
figcaption { padding: 6px 8px; font-size: 12px; color: #606770; }
figcaption strong { color: #1d2129; display: block; font-size: 13px; }
form { background: #fff; border: 1px solid #dddfe2; border-radius: 4px; padding: 12px; }
label { display: block; margin: 8px 0 2px; font-weight: 600; font-size: 13px; }
input[type=text], input[type=password], textarea { width: 100%; padding: 7px; font-size: 15px;
              border: 1px solid #ccd0d5; border-radius: 3px; }
button, input[type=submit] { font-family: inherit; margin-top: 12px; padding: 7px 16px; font-size: 14px; font-weight: 600;
              color: #fff; background: #4267b2; border: 1px solid #365899; border-radius: 3px; }
button.secondary { color: #4b4f56; background: #f5f6f7; border-color: #ccd0d5; }
.error { color: #b00020; }
button + button { margin-left: 6px; }
h2 { font-size: 16px; margin: 14px 0 8px; }
blockquote.story, article.story { margin: 8px 0; padding: 8px 12px; background: #fff;
              border: 1px solid #dddfe2; border-left: 3px solid #6d84b4; border-radius: 4px;
              white-space: pre-wrap; overflow-wrap: anywhere; }
article.story .note { display: block; margin-top: 4px; white-space: normal; }
body.dialog main { padding: 10px 12px; }
body.dialog h1 { font-size: 18px; margin: 2px 0 10px; }
p.site { margin-top: 14px; text-align: center; }
footer { text-align: center; color: #90949c; font-size: 12px; padding: 16px; }
@media (max-width: 400px) { main { padding: 8px; } .photos { grid-template-columns: 1fr 1fr; } }
)css";

}  // namespace glowsnap::services
