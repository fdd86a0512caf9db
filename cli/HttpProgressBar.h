// HttpProgressBar: the bar `glowsnap http --progress bar` draws on stderr
// for the share of a transfer done so far: a request's upload or download,
// or the combined download of several URLs. It is an indicator of the HTTP
// client, told its values on the main thread; the line ends when it goes.
#pragma once

#include <cstdio>
#include <string>

#include "http/HTTPRequestDelegate.h"

namespace glowsnap::cli {

class HttpProgressBar : public ProgressIndicator {
 public:
  explicit HttpProgressBar(std::string label) : label_(std::move(label)) {}
  ~HttpProgressBar() override {
    if (shown_) std::fputc('\n', stderr);
  }
  bool respondsToSelector(const Selector& s) const override { return s == "setProgress:"; }
  void setProgress(float value) override {
    int percent = static_cast<int>(value * 100.0f);
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    if (shown_ && percent == last_) return;
    last_ = percent;
    shown_ = true;
    int filled = percent * 40 / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(filled, '#').c_str(),
                 std::string(40 - filled, '.').c_str(), percent);
    std::fflush(stderr);
  }

 private:
  std::string label_;
  int last_ = -1;
  bool shown_ = false;
};

}  // namespace glowsnap::cli
