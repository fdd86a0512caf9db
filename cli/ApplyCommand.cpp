#include "cli/ApplyCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/FilterNames.h"
#include "cli/FilterRunner.h"
#include "cli/Messages.h"
#include "platform/foundation/FileIdentity.h"
#include "platform/graphics/ImageIO.h"

namespace glowsnap::cli {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The largest working resolution accepted: far beyond any photo's side that
// a working bitmap could hold.
constexpr int kMaxResolutionLimit = 65536;

// --max-res as given: a whole number of pixels, or the one-line reason why not.
std::optional<std::string> parseMaxResolution(const std::string& text, int& value) {
  std::string digits = text;
  if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
  const bool number = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                     [](char c) { return c >= '0' && c <= '9'; });
  const bool negative =
      text.size() > 1 && text[0] == '-' &&
      std::all_of(text.begin() + 1, text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (negative) return "--max-res must be at least 1";
  if (!number) return "--max-res must be a whole number of pixels";
  long long v = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (ec == std::errc::result_out_of_range || v > kMaxResolutionLimit)
    return "--max-res must be at most " + std::to_string(kMaxResolutionLimit);
  if (v < 1) return "--max-res must be at least 1";
  value = static_cast<int>(v);
  return std::nullopt;
}

// --quality as given: a number from 0 to 1.
std::optional<std::string> parseQuality(const std::string& text, float& value) {
  const char* begin = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(begin, &end);
  if (text.empty() || end != begin + text.size() || !std::isfinite(v) || v < 0.0 || v > 1.0)
    return "--quality must be a number from 0 to 1";
  value = static_cast<float>(v);
  return std::nullopt;
}

// A name in double quotes, escaped where it holds control characters.
std::string inQuotes(const std::string& name) {
  const std::string shown = printable(name);
  return shown == name ? "\"" + name + "\"" : shown;
}

imageio::Format formatNamed(const std::string& name) {
  return name == "png"  ? imageio::Format::Png
         : name.empty() ? imageio::Format::Unknown
                        : imageio::Format::Jpeg;
}

// A refusal before any work: the exit status and the line that says why.
struct Refusal {
  int status;
  std::string line;
};

// Where each input's result goes.
struct OutputPlan {
  bool toDirectory = false;
  std::vector<std::filesystem::path> outputs;
  std::vector<imageio::Format> formats;
};

// -o names a directory when several photos are given, when it ends with a
// slash, or when it is an existing directory (or a link to one).
bool namesDirectory(const ApplyOptions& o) {
  const std::string text = o.output.string();
  std::error_code ec;
  return o.inputs.size() > 1 || (!text.empty() && text.back() == '/') ||
         std::filesystem::is_directory(o.output, ec);
}

std::optional<Refusal> planOutputs(const ApplyOptions& o, OutputPlan& plan) {
  plan.toDirectory = namesDirectory(o);
  const imageio::Format requested = formatNamed(o.format);
  if (!plan.toDirectory) {
    const imageio::Format byName = imageio::formatForPath(o.output);
    if (requested != imageio::Format::Unknown && byName != imageio::Format::Unknown &&
        requested != byName)
      return Refusal{kExitUsage, fileMessage(o.output, "--format " + o.format +
                                                           " does not match the file's extension")};
    if (requested == imageio::Format::Unknown && byName == imageio::Format::Unknown)
      return Refusal{
          kExitUsage,
          fileMessage(o.output,
                      "unsupported output format (use .jpg, .jpeg or .png, or --format)")};
    plan.outputs.assign(o.inputs.size(), o.output);
    plan.formats.assign(o.inputs.size(),
                        requested != imageio::Format::Unknown ? requested : byName);
    return std::nullopt;
  }
  // Two inputs must not overwrite each other's result.
  std::map<std::filesystem::path, std::filesystem::path> claimed;
  for (const auto& in : o.inputs) {
    std::string ext = o.format;
    if (ext.empty()) {
      ext = lower(in.extension().string());
      if (!ext.empty()) ext.erase(0, 1);
      if (ext != "png" && ext != "jpg" && ext != "jpeg") ext = "jpg";
    }
    auto out = o.output / (in.stem().string() + "." + ext);
    auto [it, inserted] = claimed.emplace(out, in);
    if (!inserted)
      return Refusal{kExitUsage,
                     fileMessage(in, "its result would overwrite that of " + printable(it->second) +
                                         " (" + printable(out) + ")")};
    plan.outputs.push_back(out);
    plan.formats.push_back(imageio::formatForPath(out));
  }
  return std::nullopt;
}

// No result may land on an input: outputs and inputs are compared as files
// (device and inode, after links), so that `-o x.jpg` for x.jpg, `-o .` in
// the photos' folder or a link to an input are all found.
std::optional<Refusal> refuseOverwritingInputs(const ApplyOptions& o, const OutputPlan& plan) {
  std::vector<std::pair<FileIdentity, std::size_t>> inputs;
  for (std::size_t i = 0; i < o.inputs.size(); ++i)
    if (auto id = FileIdentity::of(o.inputs[i])) inputs.emplace_back(*id, i);
  for (const auto& out : plan.outputs) {
    const auto id = FileIdentity::of(out);
    if (!id) continue;
    for (const auto& [inputId, i] : inputs)
      if (inputId == *id)
        return Refusal{kExitUsage,
                       fileMessage(o.inputs[i], "the result would replace this input (-o " +
                                                    printable(out) + "); choose another output")};
  }
  return std::nullopt;
}

std::optional<Refusal> makeOutputDirectory(const std::filesystem::path& dir) {
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return std::nullopt;
  std::filesystem::create_directories(dir, ec);
  if (!ec && std::filesystem::is_directory(dir, ec)) return std::nullopt;
  const std::string cause = ec ? ec.message() : "it exists and is not a directory";
  return Refusal{kExitOutput,
                 fileMessage(dir, "cannot create the output directory (" + cause + ")")};
}

// Threads that decode and encode photos; urgent work (finishing a photo
// already filtered) goes before new photos.
class Workers {
 public:
  explicit Workers(int count) {
    for (int i = 0; i < count; ++i) threads_.emplace_back([this] { serve(); });
  }
  ~Workers() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
  }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  void post(std::function<void()> task, bool urgent) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (urgent)
        tasks_.push_front(std::move(task));
      else
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
  }

 private:
  void serve() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::vector<std::thread> threads_;
  bool stopping_ = false;
};

// One photo on its way through the batch.
struct Job {
  std::filesystem::path input;
  std::filesystem::path output;
  imageio::Format format = imageio::Format::Unknown;
  ImageRef upright;                // after loading
  ImageRef result;                 // after filtering
  std::vector<std::string> lines;  // its messages, printed in input order
  int status = kExitOk;
  bool loaded = false;
  bool done = false;
  double loadMs = 0, filterMs = 0, encodeMs = 0;
  bool fused = false;  // decoded and normalised in one pass
  int width = 0, height = 0;

  void failed(int code, std::string line) {
    if (status == kExitOk) status = code;
    lines.push_back(std::move(line));
  }
};

// The photos of one run: loaded and encoded on the workers, filtered on this
// (the main) thread in input order, reported in input order.
class Batch {
 public:
  Batch(const ApplyOptions& o, const OutputPlan& plan, PostProcess& filter,
        const std::string& filterName)
      : o_(o), filter_(filter), filterName_(filterName), reporter_(o.progress) {
    for (std::size_t i = 0; i < o.inputs.size(); ++i) {
      Job job;
      job.input = o.inputs[i];
      job.output = plan.outputs[i];
      job.format = plan.formats[i];
      jobs_.push_back(std::move(job));
    }
  }

  int run() {
    const int machine = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int count = o_.workers > 0 ? o_.workers : machine;
    // Photos between the start of their decoding and the end of their
    // encoding: enough to keep every worker busy while one is filtered,
    // few enough that memory stays bounded whatever the batch's size.
    inFlightLimit_ = count + 1;
    Workers workers(count);
    workers_ = &workers;
    for (std::size_t i = 0; i < jobs_.size(); ++i) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        waitAndReport(lock, [&] { return jobs_[i].loaded; });
      }
      filterAndPassOn(i);
    }
    {
      std::unique_lock<std::mutex> lock(mutex_);
      waitAndReport(lock, [&] { return reported_ == jobs_.size(); });
    }
    workers_ = nullptr;
    for (const Job& job : jobs_)
      if (job.status != kExitOk) return job.status;
    return kExitOk;
  }

 private:
  // With the lock held: more photos start loading while there is room.
  void startLoads() {
    while (nextLoad_ < jobs_.size() && inFlight_ < inFlightLimit_) {
      ++inFlight_;
      const std::size_t i = nextLoad_++;
      workers_->post([this, i] { load(i); }, false);
    }
  }

  // With the lock held: waits for ready, printing finished photos' messages
  // in input order meanwhile, and starting more photos as others finish.
  template <typename Ready>
  void waitAndReport(std::unique_lock<std::mutex>& lock, Ready ready) {
    for (;;) {
      startLoads();
      report();
      if (ready()) return;
      changed_.wait(lock);
    }
  }

  // With the lock held, on the main thread.
  void report() {
    while (reported_ < jobs_.size() && jobs_[reported_].done) {
      Job& job = jobs_[reported_];
      if (barJob_ == static_cast<long>(reported_)) {
        reporter_.finish();
        barJob_ = -1;
      }
      for (const auto& line : job.lines) reporter_.message(line);
      job.lines.clear();
      ++reported_;
    }
  }

  // On a worker.
  void load(std::size_t i) {
    Job& job = jobs_[i];
    const auto t0 = Clock::now();
    auto photo = imageio::loadPhotoFile(job.input, o_.maxResolution);
    const double ms = msSince(t0);
    std::lock_guard<std::mutex> lock(mutex_);
    job.loadMs = ms;
    if (!photo) {
      job.failed(kExitInput, fileMessage(job.input, photo.error().description));
    } else {
      job.fused = photo->reducedWhileDecoding;
      for (const auto& warning : photo->warnings) {
        if (o_.strict)
          job.failed(kExitInput, fileMessage(job.input, warning + " (refused with --strict)"));
        else
          job.lines.push_back(fileMessage(job.input, "warning: " + warning));
      }
      if (job.status == kExitOk) job.upright = std::move(photo->image);
    }
    job.loaded = true;
    changed_.notify_all();
  }

  // On the main thread: the engine's one run at a time.
  void filterAndPassOn(std::size_t i) {
    Job& job = jobs_[i];
    if (!job.upright) {
      std::lock_guard<std::mutex> lock(mutex_);
      finishJob(job);
      return;
    }
    reporter_.begin(printable(job.input.filename()), filterName_, static_cast<int>(i) + 1,
                    static_cast<int>(jobs_.size()));
    barJob_ = static_cast<long>(i);
    const auto t0 = Clock::now();
    auto result = FilterRunner::run(
        filter_, job.upright, [&](const std::string& text) { reporter_.progress(text); },
        [&] { reporter_.end(); });
    const double ms = msSince(t0);
    std::lock_guard<std::mutex> lock(mutex_);
    job.filterMs = ms;
    job.upright = nullptr;
    if (!result) {
      reporter_.abandon();
      barJob_ = -1;
      job.failed(kExitInput, fileMessage(job.input, result.error().description));
      finishJob(job);
      return;
    }
    job.result = std::move(*result);
    workers_->post([this, i] { encode(i); }, true);
  }

  // On a worker.
  void encode(std::size_t i) {
    Job& job = jobs_[i];
    const auto t0 = Clock::now();
    const auto written = imageio::writeFile(*job.result, job.output, o_.quality, job.format);
    const double ms = msSince(t0);
    std::lock_guard<std::mutex> lock(mutex_);
    job.encodeMs = ms;
    if (!written) {
      job.failed(kExitOutput, fileMessage(job.output, written.error().description));
    } else if (o_.timings) {
      char text[160];
      std::snprintf(text, sizeof text,
                    ": decode and normalise%s %.1f ms, filter %.1f ms, encode %.1f ms (%dx%d)",
                    job.fused ? " in one pass" : "", job.loadMs, job.filterMs, job.encodeMs,
                    job.result->width(), job.result->height());
      job.lines.push_back(printable(job.input) + text);
    }
    job.result = nullptr;
    finishJob(job);
  }

  // With the lock held.
  void finishJob(Job& job) {
    job.done = true;
    --inFlight_;
    changed_.notify_all();
  }

  const ApplyOptions& o_;
  PostProcess& filter_;
  std::string filterName_;
  ProgressReporter reporter_;
  std::vector<Job> jobs_;
  Workers* workers_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t nextLoad_ = 0;
  std::size_t reported_ = 0;
  int inFlight_ = 0;
  int inFlightLimit_ = 1;
  long barJob_ = -1;  // the photo whose bar is shown
};

}  // namespace

void ApplyCommand::add(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ApplyOptions>();
  auto maxResText = std::make_shared<std::string>(std::to_string(options->maxResolution));
  auto qualityText = std::make_shared<std::string>("0.95");
  auto* cmd = app.add_subcommand(
      "apply",
      "Apply a filter to photos (JPEG or PNG). The photo is turned upright by its EXIF "
      "orientation and reduced so that its longest side is at most --max-res, then filtered.");
  cmd->add_option("-f,--filter", options->filter,
                  "Filter by display name, e.g. \"HDR Color+\" (default \"" +
                      FilterNames::defaultFilter() + "\"; see `glowsnap list --all`)");
  cmd->add_option("--max-res", *maxResText,
                  "Longest side in pixels the photo is reduced to (default 800); the app offers "
                  "320, 640, 800, 1024, 1600 and 2048");
  cmd->add_option("-q,--quality", *qualityText, "JPEG quality from 0 to 1 (default 0.95)");
  cmd->add_option_function<std::string>(
         "--progress",
         [options](const std::string& v) {
           options->progress = v == "bar"     ? ProgressReporter::Style::Bar
                               : v == "lines" ? ProgressReporter::Style::Lines
                                              : ProgressReporter::Style::None;
         },
         "bar: a progress bar on stderr (default on a terminal); lines: each progress "
         "notification's text on stdout, then searchEnd; none: quiet")
      ->check(CLI::IsMember({"bar", "lines", "none"}));
  cmd->add_flag(
      "--timings", options->timings,
      "Print the times (ms) of decoding and normalising, filtering and encoding on stderr");
  cmd->add_flag("--strict", options->strict,
                "Refuse a photo the decoder warns about (damaged data, a missing end marker) "
                "instead of filtering what could be decoded");
  cmd->add_option_function<std::string>(
         "--engine", [options](const std::string& v) { options->plainEngine = v == "plain"; },
         "fast (default): all cores; plain: the reference traversal, one pixel at a time")
      ->check(CLI::IsMember({"fast", "plain"}));
  cmd->add_option("--format", options->format,
                  "Output format: jpg or png (default: the output's extension, or in a directory "
                  "the input's)")
      ->check(CLI::IsMember({"jpg", "png"}));
  cmd->add_option("inputs", options->inputs, "Photos to filter")->required();
  cmd->add_option("-o,--output", options->output,
                  "Output file (.jpg, .jpeg or .png), or a directory: several photos, a name "
                  "ending in / or an existing directory. A link is written through to its "
                  "target, a device or pipe is written straight into; an input is never "
                  "overwritten")
      ->required();
  cmd->footer(
      "JPEG has no transparency: a translucent picture is laid over white; PNG keeps it.\n"
      "A damaged JPEG whose every row could be decoded is filtered with a warning "
      "(refused with --strict); one that ends inside the picture is refused.\n"
      "Interrupted (SIGINT, SIGTERM, SIGHUP), glowsnap removes its unfinished files and "
      "exits with 128 + the signal's number.\n"
      "Exit status: 0 success, 2 usage error, 3 an input could not be read or filtered, "
      "4 an output could not be written. In a batch every input is tried; the status is the "
      "first failure's.\n");
  cmd->callback([options, maxResText, qualityText, &exitCode] {
    std::optional<std::string> bad = parseMaxResolution(*maxResText, options->maxResolution);
    if (!bad) bad = parseQuality(*qualityText, options->quality);
    if (bad) {
      std::fprintf(stderr, "glowsnap: %s\n", bad->c_str());
      exitCode = kExitUsage;
      return;
    }
    exitCode = run(*options);
  });
}

int ApplyCommand::run(const ApplyOptions& o) {
  auto refuse = [](const Refusal& r) {
    std::fprintf(stderr, "%s\n", r.line.c_str());
    return r.status;
  };
  if (o.maxResolution < 1 || o.maxResolution > kMaxResolutionLimit)
    return refuse({kExitUsage,
                   "glowsnap: --max-res must be from 1 to " + std::to_string(kMaxResolutionLimit)});
  if (!(o.quality >= 0.0f && o.quality <= 1.0f))
    return refuse({kExitUsage, "glowsnap: --quality must be a number from 0 to 1"});
  std::string filterName = o.filter.empty() ? FilterNames::defaultFilter() : o.filter;
  PostProcess* filter = FilterNames::find(filterName);
  if (!filter)
    return refuse({kExitUsage, "glowsnap: unknown filter " + inQuotes(filterName) +
                                   "; did you mean \"" + FilterNames::closest(filterName) +
                                   "\"? (`glowsnap list --all` shows them all)"});
  filter->set_max_res(o.maxResolution);
  filter->set_traversal(o.plainEngine ? Traversal::Plain : Traversal::Fast);

  OutputPlan plan;
  if (auto r = planOutputs(o, plan)) return refuse(*r);
  if (auto r = refuseOverwritingInputs(o, plan)) return refuse(*r);
  if (plan.toDirectory)
    if (auto r = makeOutputDirectory(o.output)) return refuse(*r);
  return Batch(o, plan, *filter, filterName).run();
}

}  // namespace glowsnap::cli
