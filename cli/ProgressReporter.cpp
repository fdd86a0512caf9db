#include "cli/ProgressReporter.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace glowsnap::cli {
namespace {

constexpr int kBarWidth = 30;
constexpr int kShortestBar = 8;
constexpr const char* kEllipsis = "\xE2\x80\xA6";  // …, one column

// Columns a UTF-8 text takes: one per character (the names we show have no
// control characters left; wide characters are rare enough to ignore).
int columnsOf(const std::string& s) {
  int n = 0;
  for (unsigned char c : s) n += (c & 0xC0) != 0x80;
  return n;
}

// The first `keep` characters of s, or its last ones (fromEnd), whole
// UTF-8 sequences only.
std::string characters(const std::string& s, int keep, bool fromEnd) {
  if (keep <= 0) return {};
  int seen = 0;
  if (!fromEnd) {
    std::size_t i = 0;
    for (; i < s.size(); ++i)
      if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && seen++ == keep) break;
    return s.substr(0, i);
  }
  std::size_t i = s.size();
  while (i > 0) {
    --i;
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80 && ++seen == keep) break;
  }
  return s.substr(i);
}

// s in at most width columns, shortened in the middle.
std::string shortened(const std::string& s, int width) {
  if (columnsOf(s) <= width) return s;
  if (width <= 1) return width == 1 ? kEllipsis : "";
  const int tail = (width - 1) / 2;
  const int head = width - 1 - tail;
  return characters(s, head, false) + kEllipsis + characters(s, tail, true);
}

}  // namespace

ProgressReporter::Style ProgressReporter::defaultStyle() {
  return ::isatty(STDERR_FILENO) ? Style::Bar : Style::None;
}

ProgressReporter::ProgressReporter(Style style, std::FILE* out, std::FILE* err, int columns)
    : style_(style), out_(out), err_(err), columns_(columns) {}

int ProgressReporter::columns() const {
  if (columns_ > 0) return columns_;
  winsize ws{};
  if (::ioctl(::fileno(err_), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  if (const char* c = std::getenv("COLUMNS")) {
    const int n = std::atoi(c);
    if (n > 0) return n;
  }
  return 80;
}

void ProgressReporter::begin(const std::string& name, const std::string& filter, int index,
                             int count) {
  if (style_ == Style::Bar && barShown_) {
    encoding_ = false;
    draw();
    std::fprintf(err_, "\n");
    barShown_ = false;
  }
  name_ = name;
  filter_ = filter;
  batch_ = count > 1 ? "photo " + std::to_string(index) + " of " + std::to_string(count) : "";
  fraction_ = 0;
  encoding_ = false;
  if (style_ == Style::Bar) draw();
}

void ProgressReporter::progress(const std::string& percentText) {
  switch (style_) {
    case Style::Lines:
      std::fprintf(out_, "%s\n", percentText.c_str());
      std::fflush(out_);
      break;
    case Style::Bar:
      fraction_ = std::strtod(percentText.c_str(), nullptr) / 100.0;
      draw();
      break;
    case Style::None:
      break;
  }
}

void ProgressReporter::end() {
  switch (style_) {
    case Style::Lines:
      std::fprintf(out_, "searchEnd\n");
      std::fflush(out_);
      break;
    case Style::Bar:
      fraction_ = 1.0;
      encoding_ = true;
      draw();
      break;
    case Style::None:
      break;
  }
}

void ProgressReporter::finish() {
  if (style_ != Style::Bar || !barShown_) return;
  encoding_ = false;
  draw();
  std::fprintf(err_, "\n");
  std::fflush(err_);
  barShown_ = false;
}

void ProgressReporter::abandon() {
  if (style_ == Style::Bar && barShown_) {
    std::fprintf(err_, "\r\033[K");
    std::fflush(err_);
    barShown_ = false;
  }
}

void ProgressReporter::message(const std::string& line) {
  const bool shown = style_ == Style::Bar && barShown_;
  if (shown) std::fprintf(err_, "\r\033[K");
  std::fprintf(err_, "%s\n", line.c_str());
  if (shown) draw();
  std::fflush(err_);
}

std::string ProgressReporter::barLine(double fraction, bool encoding) const {
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int percent = static_cast<int>(fraction * 100.0);
  char tail[16];
  std::snprintf(tail, sizeof tail, "] %3d%%", percent);
  std::string after = tail;
  if (!batch_.empty()) after += "  " + batch_;
  // Room is kept for "encoding" all along, so that the name does not move
  // when it appears.
  static constexpr const char* kEncoding = "  encoding";
  const int reserved = columnsOf(after) + columnsOf(kEncoding);
  if (encoding) after += kEncoding;
  // One column is left free: a line that fills the last column makes some
  // terminals wrap, and the next \r would then redraw only half of it.
  const int width = columns() - 1;
  const std::string head = filter_ + " ";
  const int fixed = columnsOf(head) + 1 + reserved + 1;  // "[" and the space before it
  int bar = kBarWidth;
  int room = width - fixed - bar;
  if (room < columnsOf(name_)) {
    bar = std::max(kShortestBar, bar - (columnsOf(name_) - room));
    room = width - fixed - bar;
  }
  std::string line;
  if (room >= 6) {
    line = head + shortened(name_, room) + " [";
  } else if (width - reserved - 1 - bar >= 0) {
    line = "[";  // too narrow for the names: only the bar
  } else {
    return shortened(std::to_string(percent) + "%" + (encoding ? " encoding" : ""), width);
  }
  const int filled = static_cast<int>(fraction * bar);
  line.append(static_cast<std::size_t>(filled), '#');
  line.append(static_cast<std::size_t>(bar - filled), '-');
  return line + after;
}

void ProgressReporter::draw() {
  std::fprintf(err_, "\r\033[K%s", barLine(fraction_, encoding_).c_str());
  std::fflush(err_);
  barShown_ = true;
}

}  // namespace glowsnap::cli
