// Terminal: what the commands ask of the user's terminal.
#pragma once

#include <optional>
#include <string>

namespace glowsnap::cli {

// Reads a line from the controlling terminal without echoing it, after
// writing prompt there; nothing when there is no terminal to ask.
std::optional<std::string> askPassword(const std::string& prompt);

}  // namespace glowsnap::cli
