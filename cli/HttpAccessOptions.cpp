#include "cli/HttpAccessOptions.h"

#include <CLI/CLI.hpp>

#include "http/HTTPRequest.h"

namespace glowsnap::cli {

void HttpAccessOptions::add(CLI::App&) {}

std::optional<std::string> HttpAccessOptions::applyTo(HTTPRequest&) const { return std::nullopt; }

}  // namespace glowsnap::cli
