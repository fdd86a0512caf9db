#include "cli/ProgressReporter.h"

#include <unistd.h>

#include <cstdlib>

namespace glowsnap::cli {
namespace {
constexpr int kBarWidth = 30;
}

ProgressReporter::Style ProgressReporter::defaultStyle() {
  return ::isatty(STDERR_FILENO) ? Style::Bar : Style::None;
}

ProgressReporter::ProgressReporter(Style style, std::FILE* out, std::FILE* err)
    : style_(style), out_(out), err_(err) {}

void ProgressReporter::begin(const std::string& label) {
  label_ = label;
  if (style_ == Style::Bar) drawBar(0.0);
}

void ProgressReporter::progress(const std::string& percentText) {
  switch (style_) {
    case Style::Lines:
      std::fprintf(out_, "%s\n", percentText.c_str());
      std::fflush(out_);
      break;
    case Style::Bar:
      drawBar(std::strtod(percentText.c_str(), nullptr) / 100.0);
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
      drawBar(1.0);
      std::fprintf(err_, "\n");
      barShown_ = false;
      break;
    case Style::None:
      break;
  }
}

void ProgressReporter::abandon() {
  if (style_ == Style::Bar && barShown_) {
    std::fprintf(err_, "\r\033[K");
    barShown_ = false;
  }
}

void ProgressReporter::drawBar(double fraction) {
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  int filled = static_cast<int>(fraction * kBarWidth);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  std::fprintf(err_, "\r\033[K%s [%s] %3d%%", label_.c_str(), bar.c_str(),
               static_cast<int>(fraction * 100.0));
  std::fflush(err_);
  barShown_ = true;
}

}  // namespace glowsnap::cli
