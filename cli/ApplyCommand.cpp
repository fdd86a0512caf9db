#include "cli/ApplyCommand.h"

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>

#include "cli/FilterNames.h"
#include "cli/FilterRunner.h"
#include "platform/foundation/Paths.h"
#include "platform/graphics/ImageIO.h"
#include "platform/graphics/Normalize.h"

namespace glowsnap::cli {
namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void complain(const std::filesystem::path& file, const std::string& cause) {
  std::fprintf(stderr, "glowsnap: %s: %s\n", file.string().c_str(), cause.c_str());
}

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The output path for one input: -o itself for a single file, otherwise a
// file named after the input inside the -o directory.
std::filesystem::path outputFor(const ApplyOptions& o, const std::filesystem::path& input,
                                bool toDirectory) {
  if (!toDirectory) return o.output;
  std::string ext = o.format;
  if (ext.empty()) {
    ext = lower(input.extension().string());
    if (!ext.empty()) ext.erase(0, 1);
    if (ext != "png" && ext != "jpg" && ext != "jpeg") ext = "jpg";
  }
  return o.output / (input.stem().string() + "." + ext);
}

}  // namespace

void ApplyCommand::add(CLI::App& app, int& exitCode) {
  auto options = std::make_shared<ApplyOptions>();
  auto* cmd = app.add_subcommand(
      "apply",
      "Apply a filter to photos (JPEG or PNG). The photo is turned upright by its EXIF "
      "orientation and reduced so that its longest side is at most --max-res, then filtered.");
  cmd->add_option("-f,--filter", options->filter,
                  "Filter by display name, e.g. \"HDR Color+\" (default \"" +
                      FilterNames::defaultFilter() + "\"; see `glowsnap list --all`)");
  cmd->add_option("--max-res", options->maxResolution,
                  "Longest side in pixels the photo is reduced to; the app offers 320, 640, 800, "
                  "1024, 1600 and 2048")
      ->check(CLI::PositiveNumber)
      ->capture_default_str();
  cmd->add_option("-q,--quality", options->quality, "JPEG quality from 0 to 1")
      ->check(CLI::Range(0.0f, 1.0f))
      ->capture_default_str();
  std::string progressText;
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
  cmd->add_flag("--timings", options->timings,
                "Print decode, normalise, filter and encode times (ms) on stderr");
  cmd->add_option_function<std::string>(
         "--engine", [options](const std::string& v) { options->plainEngine = v == "plain"; },
         "fast (default): all cores; plain: the reference traversal, one pixel at a time")
      ->check(CLI::IsMember({"fast", "plain"}));
  cmd->add_option("--format", options->format,
                  "Output format when -o is a directory: jpg or png (default: the input's)")
      ->check(CLI::IsMember({"jpg", "png"}));
  cmd->add_option("inputs", options->inputs, "Photos to filter")->required();
  cmd->add_option("-o,--output", options->output,
                  "Output file (.jpg, .jpeg or .png); a directory when several photos are given")
      ->required();
  cmd->footer(
      "Exit status: 0 success, 2 usage error, 3 an input could not be read or filtered, "
      "4 an output could not be written. In a batch every input is tried; the status is the "
      "first failure's.\n");
  cmd->callback([options, &exitCode] { exitCode = run(*options); });
}

int ApplyCommand::run(const ApplyOptions& o) {
  std::string filterName = o.filter.empty() ? FilterNames::defaultFilter() : o.filter;
  PostProcess* filter = FilterNames::find(filterName);
  if (!filter) {
    std::fprintf(stderr, "glowsnap: unknown filter \"%s\"; did you mean \"%s\"?\n",
                 filterName.c_str(), FilterNames::closest(filterName).c_str());
    std::fprintf(stderr, "Filters:");
    for (const auto& n : FilterNames::offered()) std::fprintf(stderr, " \"%s\"", n.c_str());
    for (const auto& n : FilterNames::library()) std::fprintf(stderr, " \"%s\"", n.c_str());
    std::fprintf(stderr, "\n");
    return kExitUsage;
  }
  filter->set_max_res(o.maxResolution);
  filter->set_traversal(o.plainEngine ? Traversal::Plain : Traversal::Fast);

  std::error_code ec;
  bool toDirectory = o.inputs.size() > 1 || std::filesystem::is_directory(o.output, ec);
  if (toDirectory) {
    if (!paths::ensureDirectory(o.output)) {
      complain(o.output, "cannot create the output directory");
      return kExitOutput;
    }
  } else if (imageio::formatForPath(o.output) == imageio::Format::Unknown) {
    complain(o.output, "unsupported output format (use .jpg, .jpeg or .png)");
    return kExitUsage;
  }
  // Two inputs must not overwrite each other's result.
  std::map<std::filesystem::path, std::filesystem::path> claimed;
  for (const auto& in : o.inputs) {
    auto out = outputFor(o, in, toDirectory);
    auto [it, inserted] = claimed.emplace(out, in);
    if (!inserted && toDirectory) {
      complain(in, "its result would overwrite that of " + it->second.string() + " (" +
                       out.string() + ")");
      return kExitUsage;
    }
  }

  ProgressReporter reporter(o.progress);
  int status = kExitOk;
  auto fail = [&status](int code) {
    if (status == kExitOk) status = code;
  };
  std::size_t index = 0;
  for (const auto& in : o.inputs) {
    ++index;
    auto t0 = Clock::now();
    auto decoded = imageio::decodeFile(in);
    if (!decoded) {
      complain(in, decoded.error().description);
      fail(kExitInput);
      continue;
    }
    double decodeMs = msSince(t0);

    auto t1 = Clock::now();
    ImageRef upright = normalizeImage(*decoded, o.maxResolution);
    double normaliseMs = msSince(t1);
    // The full-size photo is not needed any more; its memory serves the run.
    decoded = ImageRef();
    if (!upright) {
      complain(in, "cannot be normalised");
      fail(kExitInput);
      continue;
    }

    std::string label = filterName + " " + in.filename().string();
    if (o.inputs.size() > 1)
      label = "[" + std::to_string(index) + "/" + std::to_string(o.inputs.size()) + "] " + label;
    reporter.begin(label);
    auto t2 = Clock::now();
    auto result = FilterRunner::run(
        *filter, upright, [&](const std::string& text) { reporter.progress(text); },
        [&] { reporter.end(); });
    double filterMs = msSince(t2);
    if (!result) {
      reporter.abandon();
      complain(in, result.error().description);
      fail(kExitInput);
      continue;
    }

    auto out = outputFor(o, in, toDirectory);
    auto t3 = Clock::now();
    auto written = imageio::writeFile(**result, out, o.quality);
    double encodeMs = msSince(t3);
    if (!written) {
      complain(out, written.error().description);
      fail(kExitOutput);
      continue;
    }
    if (o.timings) {
      std::fprintf(stderr,
                   "%s: decode %.1f ms, normalise %.1f ms, filter %.1f ms, encode %.1f ms "
                   "(%dx%d)\n",
                   in.string().c_str(), decodeMs, normaliseMs, filterMs, encodeMs,
                   (*result)->width(), (*result)->height());
    }
  }
  return status;
}

}  // namespace glowsnap::cli
