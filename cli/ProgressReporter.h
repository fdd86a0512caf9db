// ProgressReporter: shows a filter run's progress notifications on the
// terminal, as a bar on stderr, as the raw notification texts on stdout, or
// not at all. The bar's line is fitted to the terminal's width (the photo's
// name shortened in the middle), says "encoding" while the result is
// encoded after 100 %, and in a batch which photo it is ("photo 3 of 16").
#pragma once

#include <cstdio>
#include <string>

namespace glowsnap::cli {

class ProgressReporter {
 public:
  enum class Style { Bar, Lines, None };

  // Bar when stderr is a terminal, None otherwise.
  static Style defaultStyle();

  // columns: the width the bar's line must fit; 0 asks the terminal of err
  // (then $COLUMNS, then 80).
  ProgressReporter(Style style, std::FILE* out = stdout, std::FILE* err = stderr, int columns = 0);

  // A new photo: name (already printable), the filter's name, and its place
  // in a batch (count 1: a single photo). A previous photo's bar still
  // shown is closed first.
  void begin(const std::string& name, const std::string& filter, int index, int count);
  // One "progressChanged" text, exactly as posted.
  void progress(const std::string& percentText);
  // "searchEnd" arrived: the bar shows 100 % and "encoding" until finish().
  void end();
  // The photo is written (or failed): its bar's line is closed.
  void finish();
  // The run stopped without "searchEnd": clear the bar.
  void abandon();
  // A line for stderr (without its newline), written above a bar that is
  // shown, which is drawn again below it.
  void message(const std::string& line);

  // The bar's line for a fraction, fitted to columns (exposed for tests).
  std::string barLine(double fraction, bool encoding) const;

 private:
  void draw();
  int columns() const;

  Style style_;
  std::FILE* out_;
  std::FILE* err_;
  int columns_;
  std::string name_;
  std::string filter_;
  std::string batch_;  // "photo 3 of 16", or empty
  double fraction_ = 0;
  bool encoding_ = false;
  bool barShown_ = false;
};

}  // namespace glowsnap::cli
