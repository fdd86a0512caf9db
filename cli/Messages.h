// Messages: how the command line writes names and causes on stderr, one
// line per message.
#pragma once

#include <filesystem>
#include <string>

namespace glowsnap::cli {

// text as one line shows it: unchanged when it holds no control character,
// otherwise in double quotes with C escapes ("a\nb.jpg"), so that a file
// name with a newline in it cannot split a message.
std::string printable(const std::string& text);
std::string printable(const std::filesystem::path& path);

// "glowsnap: <file>: <cause>", the one-line form of every error about a file.
std::string fileMessage(const std::filesystem::path& file, const std::string& cause);

}  // namespace glowsnap::cli
