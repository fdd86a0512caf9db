// ProgressReporter: shows a filter run's progress notifications on the
// terminal, as a bar on stderr, as the raw notification texts on stdout, or
// not at all.
#pragma once

#include <cstdio>
#include <string>

namespace glowsnap::cli {

class ProgressReporter {
 public:
  enum class Style { Bar, Lines, None };

  // Bar when stderr is a terminal, None otherwise.
  static Style defaultStyle();

  ProgressReporter(Style style, std::FILE* out = stdout, std::FILE* err = stderr);

  // A new photo: label names it (and its place in a batch).
  void begin(const std::string& label);
  // One "progressChanged" text, exactly as posted.
  void progress(const std::string& percentText);
  // "searchEnd" arrived.
  void end();
  // The run stopped without "searchEnd": clear the bar.
  void abandon();

 private:
  void drawBar(double fraction);

  Style style_;
  std::FILE* out_;
  std::FILE* err_;
  std::string label_;
  bool barShown_ = false;
};

}  // namespace glowsnap::cli
